#include "vyrFuncs.h"

#include "vcl/SysUtils.h"
#include "sim/win32/Testing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace vyr;

TEST(vyrFuncs, AddressTextValidation) {
    EXPECT_TRUE(IsValidBluetoothAddressText(u"(00:1A:7D:DA:71:13)"));
    EXPECT_TRUE(IsValidBluetoothAddressText(u"(00:1a:7d:da:71:13)"));
    EXPECT_TRUE(IsValidBluetoothAddressText(EmptyBluetoothAddress));
    for (const char16_t* bad :
         {u"00:1A:7D:DA:71:13", u"(00-1A-7D-DA-71-13)", u"(00:1A:7D:DA:71:13", u"", u"(00:1A:7D:DA:71:13))",
          u"(001A:7D:DA:71:13:)", u"(0G:1A:7D:DA:71:13)",
          // separators or brackets in a digit position pass a character-set check only
          u"(0::1A:7D:DA:71:13)", u"((0:1A:7D:DA:71:13)", u"(00:1A:7D:DA:71:1))", u"(00:1A:7D:DA:71 13)"})
        EXPECT_FALSE(IsValidBluetoothAddressText(bad)) << vcl::Utf16ToUtf8(bad);
    EXPECT_TRUE(IsValidIrDAAddressText(u"(12:34:56:78)"));
    EXPECT_TRUE(IsValidIrDAAddressText(u"(ab:cd:ef:00)"));
    for (const char16_t* bad :
         {u"(12:34:56:78:9A)", u"12:34:56:78", u"(12:34:56:7))", u"(12:3::56:78)", u"(12-34-56-78)"})
        EXPECT_FALSE(IsValidIrDAAddressText(bad)) << vcl::Utf16ToUtf8(bad);
}

TEST(vyrFuncs, ParsersWriteTheirLayoutsAndNothingElse) {
    const std::u16string text = u"(00:1A:7D:DA:71:13)";
    std::uint8_t bytes[8];
    std::memset(bytes, 0xEE, sizeof bytes);
    AddressTextToBytes(text, bytes + 1);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 8),
              (std::vector<std::uint8_t>{0xEE, 0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13, 0xEE}));

    std::vector<std::uint8_t> ms(560, 0xEE);
    AddressTextToMsDeviceInfo(text, ms.data());
    EXPECT_EQ(std::vector<std::uint8_t>(ms.begin() + 7, ms.begin() + 15),
              (std::vector<std::uint8_t>{0xEE, 0x13, 0x71, 0xDA, 0x7D, 0x1A, 0x00, 0xEE}));

    for (auto parse : {&AddressTextToBtDeviceInfo, &AddressTextToBtDeviceInfoEx}) {
        std::vector<std::uint8_t> bs(132, 0xEE);
        parse(u"(00:1a:7d:da:71:13)", bs.data());
        EXPECT_EQ(std::vector<std::uint8_t>(bs.begin() + 3, bs.begin() + 11),
                  (std::vector<std::uint8_t>{0xEE, 0x13, 0x71, 0xDA, 0x7D, 0x1A, 0x00, 0xEE}));
    }

    std::uint8_t irda[8];
    std::memset(irda, 0xEE, sizeof irda);
    AddressTextToIrDADeviceId(u"(12:34:56:78)", irda);
    EXPECT_EQ(std::vector<std::uint8_t>(irda, irda + 8),
              (std::vector<std::uint8_t>{0xEE, 0xEE, 0x78, 0x56, 0x34, 0x12, 0xEE, 0xEE}));

    // A text that is no address raises and leaves the record as it was, short texts included.
    std::vector<std::uint8_t> untouched(560, 0xEE);
    EXPECT_THROW(AddressTextToMsDeviceInfo(u"(00:1A:7D:DA:71:1G)", untouched.data()), vcl::EConvertError);
    EXPECT_THROW(AddressTextToMsDeviceInfo(u"(00:1A", untouched.data()), vcl::EConvertError);
    EXPECT_THROW(AddressTextToIrDADeviceId(u"", untouched.data()), vcl::EConvertError);
    EXPECT_EQ(untouched, std::vector<std::uint8_t>(560, 0xEE));
}

TEST(vyrFuncs, HexPairsFormattingAndGuids) {
    EXPECT_EQ(HexPairToByte(u"(aF:", 2), 0xAF);
    EXPECT_EQ(HexPairToByte(u"Ff", 1), 255);
    EXPECT_EQ(HexPairToByte(u"00", 1), 0);
    EXPECT_THROW(HexPairToByte(u"(G0", 2), vcl::EConvertError);
    EXPECT_THROW(HexPairToByte(u"(-1", 2), vcl::EConvertError);
    EXPECT_THROW(HexPairToByte(u"( 1", 2), vcl::EConvertError);
    EXPECT_THROW(HexPairToByte(u"(1", 2), vcl::EConvertError);
    EXPECT_THROW(HexPairToByte(u"12", 0), vcl::EConvertError);

    const std::uint8_t addr[6] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
    EXPECT_EQ(BytesToAddressText(addr), u"(00:1A:7D:DA:71:13)");
    EXPECT_EQ(BytesToAddressText(addr, 6, true), u"(13:71:DA:7D:1A:00)");
    EXPECT_EQ(BytesToAddressText(addr, 4), u"(00:1A:7D:DA)");
    std::uint8_t back[6];
    AddressTextToBytes(BytesToAddressText(addr), back);
    EXPECT_EQ(std::memcmp(back, addr, 6), 0);

    const win::GUID opp{0x00001105, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
    std::uint8_t uuid[16];
    GuidToBytes(opp, uuid);
    EXPECT_EQ(std::vector<std::uint8_t>(uuid, uuid + 16),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x11, 0x05, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0x80, 0x5F,
                                         0x9B, 0x34, 0xFB}));
    const win::GUID mixed{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    GuidToBytes(mixed, uuid);
    EXPECT_EQ(uuid[0], 0x12);
    EXPECT_EQ(uuid[3], 0x78);
    EXPECT_EQ(uuid[4], 0x9A);
    EXPECT_EQ(uuid[7], 0xF0);
    EXPECT_EQ(uuid[15], 8);
}

TEST(vyrFuncs, VistaOrLater) {
    win::test::Reset();
    EXPECT_TRUE(IsVistaOrLater()); // NT 6.1 by default
    win::test::SetOsVersion(5, 1);
    EXPECT_FALSE(IsVistaOrLater());
    win::test::SetOsVersion(6, 0);
    EXPECT_TRUE(IsVistaOrLater());
    win::test::SetOsVersion(10, 0);
    EXPECT_TRUE(IsVistaOrLater());
    win::test::SetOsVersion(6, 0, win::VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_FALSE(IsVistaOrLater());
    win::test::SetOsVersion(6, 1);
    win::test::FailNext("GetVersionExA");
    EXPECT_FALSE(IsVistaOrLater());
    EXPECT_EQ(win::test::Calls("GetVersionExA").back(), "148");
    win::test::Reset();
}
