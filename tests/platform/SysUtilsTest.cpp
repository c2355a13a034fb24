#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

#include <gtest/gtest.h>

using namespace vcl;

TEST(SysUtils, FormatSubstitutesAndSurvivesBadFormats) {
    EXPECT_EQ(Format(u"Index %d out of bounds", -3), u"Index -3 out of bounds");
    EXPECT_EQ(Format(u"(%.2X:%.2X)", 0x0a, 255), u"(0A:FF)");
    EXPECT_EQ(Format(u"%s has %i", u"phone", 2), u"phone has 2");
    EXPECT_EQ(Format(u"%08X", 0x1234abcdu), u"1234ABCD");
    EXPECT_EQ(Format(u"100%%"), u"100%");
    // Missing or mismatched arguments are left as written instead of reading garbage.
    EXPECT_EQ(Format(u"%s and %s", u"one"), u"one and %s");
    EXPECT_EQ(Format(u"%d", u"text"), u"%d");
    EXPECT_EQ(Format(u"%n%p%"), u"%n%p%");
}

TEST(SysUtils, StrToIntDecimalAndHex) {
    EXPECT_EQ(StrToInt(u"$1A"), 26);
    EXPECT_EQ(StrToInt(u"$ff"), 255);
    EXPECT_EQ(StrToInt(u" -42 "), -42);
    EXPECT_EQ(StrToInt(u"$FFFFFFFF"), -1);
    EXPECT_THROW(StrToInt(u"$G1"), EConvertError);
    EXPECT_THROW(StrToInt(u""), EConvertError);
    EXPECT_THROW(StrToInt(u"99999999999"), EConvertError);
}

TEST(SysUtils, Utf8RoundTripAndInvalidBytes) {
    std::u16string s = u"Ж€😀a";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
}

TEST(Classes, OwnerFreesOwnedComponentsAndChildUnhooks) {
    static int destroyed = 0;
    struct Probe : TComponent {
        using TComponent::TComponent;
        ~Probe() override { ++destroyed; }
    };
    destroyed = 0;
    auto* owner = new TComponent(nullptr);
    new Probe(owner);
    auto* second = new Probe(owner);
    EXPECT_EQ(owner->ComponentCount(), 2);
    delete second;
    EXPECT_EQ(owner->ComponentCount(), 1);
    delete owner;
    EXPECT_EQ(destroyed, 2);
}
