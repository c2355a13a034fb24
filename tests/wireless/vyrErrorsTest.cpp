#include "vyrErrors.h"

#include <gtest/gtest.h>

using namespace vyr;

TEST(vyrErrors, TextsOfListedAndUnlistedCodes) {
    EXPECT_EQ(GetErrorText(0), u"");
    EXPECT_EQ(GetErrorText(11), u"The other instance of the TvyrAPI exists end loaded.");
    EXPECT_EQ(GetErrorText(43), u"Timeout.");
    EXPECT_EQ(GetErrorText(108), u"Multiple choises.");
    EXPECT_EQ(GetErrorText(127), u"Requiested entity too large.");
    EXPECT_EQ(GetErrorText(199), u"Unknown");
    EXPECT_EQ(GetErrorText(602), u"Another instance of the vyrWiFiManager already exists and active.");
    EXPECT_EQ(GetErrorText(700), u"Serial port monitoring is active.");
    for (int code : {-1, 6, 9, 15, 138, 198, 202, 1000})
        EXPECT_EQ(GetErrorText(code), u"Unknown error") << code;
    // Every code of the OBEX response block has a text of its own.
    for (int code = 105; code <= 137; ++code)
        EXPECT_NE(GetErrorText(code), u"Unknown error") << code;
}

TEST(vyrErrors, ExceptionsShareTheLibraryRootAndKeepTheirMessage) {
    try {
        throw vyrEIndexOutOfBounds(vcl::Format(StrIndexOutOfBounds, -2));
    } catch (const vyrException& e) {
        EXPECT_EQ(e.Message(), u"Index out of bounds (-2).");
    }
    EXPECT_THROW(throw vyrEInvalidAddress(u"x"), vcl::Exception);
    EXPECT_THROW(throw vyrEProximitySenderActive(StrProximitySenderActive), vyrException);
    EXPECT_EQ(vcl::Format(StrInvalidPin, u""), u"\"\" is not valid PIN.");
}
