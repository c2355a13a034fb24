// Renaming the Microsoft-driven radio: its device key in the machine registry and the reload request.
#include "StackFixture.h"

#include "vcl/SysUtils.h"
#include "vyrAPI.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrMicrosoft.h"
#include "win32/DeviceRegistry.h"
#include "win32/Registry.h"
#include "win32/SetupApi.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <optional>

using namespace vyr;

namespace {

namespace ms = stackabi::ms;
constexpr int kMicrosoft = static_cast<int>(air::StackKind::Microsoft);

class RadioName : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        SetRadio(kMicrosoft, true); // called "STATION"
        win::test::SetComputerName(u"KIOSK-7");
        ASSERT_EQ(api.Load(), 0);
        ASSERT_TRUE(IsApiAvailable(baMicrosoft));
        win::test::ClearJournal();
    }
    void TearDown() override {
        api.Unload();
        StackFixture::TearDown();
    }
    static std::u16string KeyPath() {
        return u"SYSTEM\\CurrentControlSet\\Enum\\" + win::MicrosoftRadioInstanceId() + u"\\Device Parameters";
    }
    // "Local Name" as stored, or nullopt when it is not there.
    static std::optional<std::string> LocalName() {
        win::HKEY key = nullptr;
        if (win::RegOpenKeyW(win::HKEY_LOCAL_MACHINE, KeyPath().c_str(), &key) != win::ERROR_SUCCESS)
            return std::nullopt;
        win::BYTE data[1024];
        win::DWORD type = 0, size = sizeof data;
        const win::LONG rc = win::RegQueryValueExW(key, u"Local Name", nullptr, &type, data, &size);
        win::RegCloseKey(key);
        if (rc != win::ERROR_SUCCESS)
            return std::nullopt;
        EXPECT_EQ(type, win::REG_BINARY);
        return std::string(reinterpret_cast<const char*>(data), size);
    }
    // The name the radio reports to the stack now.
    static std::u16string ReportedName() {
        ms::BLUETOOTH_FIND_RADIO_PARAMS params{};
        params.dwSize = sizeof params;
        stackabi::Handle radio = nullptr;
        if (auto find = vyr::BluetoothFindFirstRadio(&params, &radio))
            vyr::BluetoothFindRadioClose(find);
        ms::BLUETOOTH_RADIO_INFO info{};
        info.dwSize = sizeof info;
        EXPECT_EQ(vyr::BluetoothGetRadioInfo(radio, &info), 0u);
        win::CloseHandle(radio);
        return std::u16string(info.szName);
    }
    static void ExpectNothingLeftOpen() {
        EXPECT_EQ(win::test::OpenRegistryKeyCount(), 0);
        EXPECT_EQ(win::test::OpenDeviceInfoSetCount(), 0);
    }

    TvyrAPI api;
    TvyrBluetoothRadio radio{baMicrosoft};
};

TEST_F(RadioName, NewNameGoesToTheDeviceKeyAndTheRadioReloadsIt) {
    // The name it already has: nothing is looked up or written.
    EXPECT_EQ(radio.SetName(u"STATION"), 0);
    for (const char* call : {"SetupDiGetClassDevsW", "RegOpenKeyW", "RegSetValueExW", "RegDeleteValueW",
                             "GetComputerNameW", "DeviceIoControl"})
        EXPECT_EQ(win::test::CallCount(call), 0) << call;

    EXPECT_EQ(radio.SetName(u"Caf\u00E9 Nord"), 0);
    EXPECT_EQ(LocalName(), std::string("Caf\xC3\xA9 Nord\0", 11));
    EXPECT_EQ(ReportedName(), u"Caf\u00E9 Nord");
    EXPECT_EQ(win::test::Calls("SetupDiGetClassDevsW"), std::vector<std::string>{"flags=10"});
    // The enumerator's node is passed over on its hardware id; the radio's ids outgrow the first buffers.
    EXPECT_EQ(win::test::Calls("SetupDiGetDeviceRegistryPropertyW"),
              (std::vector<std::string>{"devinst=513 property=1 size=64", "devinst=512 property=1 size=64",
                                        "devinst=512 property=1 size=112"}));
    EXPECT_EQ(win::test::Calls("SetupDiGetDeviceInstanceIdW"),
              (std::vector<std::string>{"devinst=512 size=32", "devinst=512 size=37"}));
    EXPECT_EQ(win::test::Calls("RegOpenKeyW").front(), vcl::Utf16ToUtf8(KeyPath()));
    EXPECT_EQ(win::test::Calls("DeviceIoControl"), std::vector<std::string>{"code=0x00411008 in=04000000"});
    ExpectNothingLeftOpen();

    // No length limit on the way in; the radio keeps what it can hold.
    const std::u16string longName(300, u'n');
    EXPECT_EQ(radio.SetName(longName), 0);
    EXPECT_EQ(LocalName()->size(), 301u);
    EXPECT_EQ(ReportedName(), longName.substr(0, 247));
}

TEST_F(RadioName, TheComputersOwnNameRemovesTheRadiosName) {
    ASSERT_EQ(radio.SetName(u"Lobby"), 0);
    ASSERT_TRUE(LocalName());
    win::test::ClearJournal();
    EXPECT_EQ(radio.SetName(u"KIOSK-7"), 0);
    EXPECT_EQ(win::test::CallCount("RegDeleteValueW"), 1);
    EXPECT_EQ(win::test::CallCount("RegSetValueExW"), 0);
    EXPECT_FALSE(LocalName());
    EXPECT_EQ(ReportedName(), u"KIOSK-7");

    // With the value already gone the radio is still told to fall back to the computer's name.
    air::Air::Instance().SetRadioName(kMicrosoft, "STALE");
    EXPECT_EQ(radio.SetName(u"KIOSK-7"), 0);
    EXPECT_EQ(ReportedName(), u"KIOSK-7");

    // Without a computer name every name is the radio's own, and so is the empty one.
    win::test::SetFail("GetComputerNameW", true);
    air::Air::Instance().SetRadioName(kMicrosoft, "STALE");
    EXPECT_EQ(radio.SetName(u"KIOSK-7"), 0);
    EXPECT_EQ(LocalName(), std::string("KIOSK-7\0", 8));
    win::test::SetFail("GetComputerNameW", false);
    EXPECT_EQ(radio.SetName(u""), 0);
    EXPECT_EQ(LocalName(), std::string("\0", 1));
    EXPECT_EQ(ReportedName(), u"");
    ExpectNothingLeftOpen();
}

TEST_F(RadioName, ReloadRequestFollowsTheSystemVersion) {
    win::test::SetOsVersion(5, 1);
    EXPECT_EQ(radio.SetName(u"Desk XP"), 0);
    EXPECT_EQ(win::test::Calls("DeviceIoControl"), std::vector<std::string>{"code=0x00220FD4 in=04000000"});
    EXPECT_EQ(ReportedName(), u"Desk XP");

    // The radio takes only its own system's request, with the one documented input.
    ms::BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    stackabi::Handle handle = nullptr;
    vyr::BluetoothFindRadioClose(vyr::BluetoothFindFirstRadio(&params, &handle));
    std::uint32_t in = 4;
    EXPECT_FALSE(win::DeviceIoControl(handle, 0x00411008, &in, sizeof in, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_FUNCTION);
    in = 5;
    EXPECT_FALSE(win::DeviceIoControl(handle, 0x00220FD4, &in, sizeof in, nullptr, 0, nullptr, nullptr));
    win::CloseHandle(handle);
}

TEST_F(RadioName, EveryFailingStepGivesTwoAndLeavesNothingOpen) {
    ASSERT_EQ(radio.SetName(u"Before"), 0);
    struct Case {
        const char* call;
        const char16_t* name;
        bool registryChanged;
    };
    const Case cases[] = {
        {"SetupDiGetClassDevsW", u"A", false},
        {"SetupDiGetDeviceRegistryPropertyW", u"A", false},
        {"SetupDiGetDeviceInstanceIdW", u"A", false},
        {"RegOpenKeyW", u"A", false},
        {"BluetoothFindFirstRadio", u"A", false}, // the name check's search fails too, harmlessly
        {"RegSetValueExW", u"A", false},
        {"RegDeleteValueW", u"KIOSK-7", false},
        {"DeviceIoControl", u"A", true},
    };
    for (const auto& c : cases) {
        win::test::SetFail(c.call, true);
        EXPECT_EQ(radio.SetName(c.name), 2) << c.call;
        win::test::SetFail(c.call, false);
        EXPECT_EQ(LocalName(), std::string(c.registryChanged ? std::string("A\0", 2) : std::string("Before\0", 7)))
            << c.call;
        EXPECT_EQ(ReportedName(), u"Before") << c.call;
        ExpectNothingLeftOpen();
        if (c.registryChanged) {
            ASSERT_EQ(radio.SetName(u"Before"), 0);
        }
    }

    // A device key that is not there cannot be opened, and opening does not make it.
    vcl::TRegistry reg(vcl::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.DeleteKey(u"\\" + KeyPath()));
    win::test::FailNext("SetupDiGetClassDevsW"); // keeps the device manager from restoring the key
    EXPECT_EQ(radio.SetName(u"A"), 2);
    ExpectNothingLeftOpen();
}

TEST_F(RadioName, NoRadioNodeGivesTwo) {
    // Only the enumerator answers: its hardware id is read, the radio's instance id is not.
    win::test::SetFail("SetupDiGetDeviceInstanceIdW", true);
    EXPECT_EQ(radio.SetName(u"Nobody"), 2);
    EXPECT_EQ(win::test::CallCount("RegOpenKeyW"), 0);
    EXPECT_EQ(win::test::CallCount("DeviceIoControl"), 0);
    EXPECT_EQ(ReportedName(), u"STATION");
    ExpectNothingLeftOpen();
}

} // namespace
