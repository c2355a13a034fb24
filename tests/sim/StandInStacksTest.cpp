// The stand-in stack libraries on their own: what they render from the air and the notices they raise.
#include "TestWindow.h"
#include "sim/air/Air.h"
#include "stacks/bthprops.h"
#include "stacks/tosbtapi.h"
#include "stacks/vyr2wbt.h"
#include "win32/Kernel.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"
#include "win32/abi_devbroadcast.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace ms = stackabi::ms;
namespace wd = stackabi::wd;
namespace tos = stackabi::tos;

namespace {

const air::Address kRadio{0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
const air::Address kPhone{0x00, 0x1E, 0x3A, 0x47, 0x9C, 0x01};

class StandIn : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        air::Air::Instance().Clear();
    }
    void TearDown() override {
        for (auto m : modules_)
            win::FreeLibrary(m);
        air::Air::Instance().Clear();
        win::test::Reset();
    }
    win::HMODULE Load(const char16_t* name) {
        win::HMODULE m = win::LoadLibraryW(name);
        EXPECT_NE(m, nullptr);
        modules_.push_back(m);
        return m;
    }
    template <typename F> F Entry(win::HMODULE m, const char* name) {
        auto p = reinterpret_cast<F>(win::GetProcAddress(m, name));
        EXPECT_NE(p, nullptr) << name;
        return p;
    }
    static void PlugRadio(int stack, bool present) {
        air::Radio r;
        r.present = present;
        r.address = kRadio;
        r.name = "STATION";
        r.classOfDevice = 0x1C010C;
        air::Air::Instance().SetRadio(stack, r);
    }
    std::vector<win::HMODULE> modules_;
};

ms::BLUETOOTH_DEVICE_INFO DeviceRecord(const air::Address& a) {
    ms::BLUETOOTH_DEVICE_INFO info{};
    info.dwSize = sizeof info;
    for (int i = 0; i < 6; ++i)
        info.Address.rgBytes[i] = a[static_cast<size_t>(5 - i)];
    return info;
}

} // namespace

TEST_F(StandIn, MicrosoftRendersRadioAndPhonesFromTheAir) {
    auto lib = Load(u"bthprops.cpl");
    auto findFirst = Entry<ms::PFN_BluetoothFindFirstRadio>(lib, "BluetoothFindFirstRadio");
    auto findClose = Entry<ms::PFN_BluetoothFindRadioClose>(lib, "BluetoothFindRadioClose");
    auto radioInfo = Entry<ms::PFN_BluetoothGetRadioInfo>(lib, "BluetoothGetRadioInfo");
    auto deviceInfo = Entry<ms::PFN_BluetoothGetDeviceInfo>(lib, "BluetoothGetDeviceInfo");
    auto authenticate = Entry<ms::PFN_BluetoothAuthenticateDevice>(lib, "BluetoothAuthenticateDevice");
    auto remove = Entry<ms::PFN_BluetoothRemoveDevice>(lib, "BluetoothRemoveDevice");

    ms::BLUETOOTH_FIND_RADIO_PARAMS params{4};
    stackabi::Handle radio = nullptr;
    EXPECT_EQ(findFirst(&params, &radio), nullptr) << "no radio attached";
    PlugRadio(1, true);
    ms::BLUETOOTH_FIND_RADIO_PARAMS wrongSize{8};
    EXPECT_EQ(findFirst(&wrongSize, &radio), nullptr);
    auto find = findFirst(&params, &radio);
    ASSERT_NE(find, nullptr);
    EXPECT_NE(win::LookupHandle(radio), nullptr) << "radio handles live in the shared table";

    ms::BLUETOOTH_RADIO_INFO ri{};
    ri.dwSize = sizeof ri;
    ASSERT_EQ(radioInfo(radio, &ri), 0u);
    EXPECT_EQ(ri.address.rgBytes[0], 0x13); // the address text reversed
    EXPECT_EQ(ri.address.rgBytes[5], 0x00);
    EXPECT_EQ(std::u16string(ri.szName), u"STATION");
    EXPECT_EQ(ri.ulClassofDevice, 0x1C010Cu);
    EXPECT_TRUE(win::CloseHandle(radio));
    EXPECT_NE(radioInfo(radio, &ri), 0u) << "a closed radio handle";
    EXPECT_TRUE(findClose(find));
    EXPECT_FALSE(findClose(find));

    air::Phone phone;
    phone.address = kPhone;
    phone.name = std::string(300, 'n'); // longer than the field
    phone.nameFailures = 1;
    phone.classOfDevice = 0x5A020C;
    phone.pairing.pin = "1234";
    air::Air::Instance().AddPhone(phone);

    auto info = DeviceRecord(kPhone);
    ASSERT_EQ(deviceInfo(nullptr, &info), 0u);
    EXPECT_EQ(info.ulClassofDevice, 0x5A020Cu);
    EXPECT_EQ(info.szName[0], 0) << "the first name read fails";
    ASSERT_EQ(deviceInfo(nullptr, &info), 0u);
    EXPECT_EQ(std::u16string(info.szName, 247), std::u16string(247, u'n'));
    EXPECT_EQ(info.szName[247], 0) << "cut with room for the terminator";
    auto stranger = DeviceRecord({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(deviceInfo(nullptr, &stranger), 1168u);
    info.dwSize = 100;
    EXPECT_EQ(deviceInfo(nullptr, &info), 87u);

    info = DeviceRecord(kPhone);
    EXPECT_EQ(authenticate(nullptr, nullptr, &info, u"0000", 4), ms::ERROR_NOT_AUTHENTICATED);
    EXPECT_EQ(authenticate(nullptr, nullptr, &info, u"1234", 4), ms::ERROR_SUCCESS);
    EXPECT_TRUE(info.fAuthenticated);
    EXPECT_EQ(authenticate(nullptr, nullptr, &info, u"1234", 4), ms::ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(remove(&info.Address), 0u);
    EXPECT_EQ(remove(&info.Address), 1168u);
}

TEST_F(StandIn, MicrosoftRadioBroadcastReachesEachWindowOnceUnderEitherName) {
    TestWindow w;
    stackabi::dbt::DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = stackabi::dbt::DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = ms::GUID_BTHPORT_DEVICE_INTERFACE;
    auto reg = win::RegisterDeviceNotificationW(w.Hwnd(), &filter, 0);
    ASSERT_NE(reg, nullptr);

    auto irprops = Load(u"irprops.cpl");
    PlugRadio(1, true);
    EXPECT_EQ(w.Count(win::WM_DEVICECHANGE), 1);
    auto bthprops = Load(u"bthprops.cpl");
    PlugRadio(1, false);
    EXPECT_EQ(w.Count(win::WM_DEVICECHANGE), 2) << "both names loaded, still one broadcast";
    auto received = w.ReceivedMessages();
    EXPECT_EQ(received.back().wParam, win::DBT_DEVICEREMOVECOMPLETE);
    PlugRadio(2, true); // another stack's radio
    EXPECT_EQ(w.Count(win::WM_DEVICECHANGE), 2);
    win::UnregisterDeviceNotification(reg);
    (void)irprops;
    (void)bthprops;
}

TEST_F(StandIn, WidCommBridgeReportsOnlyWhileInitialised) {
    TestWindow api;
    auto lib = Load(u"vyr2wbt.dll");
    auto init = Entry<wd::PFN_WD_Init>(lib, "WD_Init");
    auto uninit = Entry<wd::PFN_WD_Uninit>(lib, "WD_Uninit");
    auto ready = Entry<wd::PFN_WD_IsDeviceReady>(lib, "WD_IsDeviceReady");
    auto local = Entry<wd::PFN_WD_GetLocalDeviceVersionInfo>(lib, "WD_GetLocalDeviceVersionInfo");
    auto create = Entry<wd::PFN_WD_CreateRfCommClient>(lib, "WD_CreateRfCommClient");

    EXPECT_EQ(create(api.Hwnd()), nullptr) << "not initialised";
    ASSERT_TRUE(init(api.Hwnd(), u"6.7.5.0"));
    ASSERT_TRUE(init(api.Hwnd(), u"6.7.5.0")) << "a second init starts afresh";
    EXPECT_FALSE(ready());
    PlugRadio(3, true);
    win::test::PumpUntilIdle(5);
    EXPECT_EQ(api.Count(wd::WM_BLUETOOTH_API_CHANGED), 1) << "one report, not one per init";
    EXPECT_TRUE(ready());
    wd::WD_DEV_VERSION_INFO v{};
    ASSERT_TRUE(local(&v));
    EXPECT_EQ(std::memcmp(v.BdAddr, kRadio.data(), 6), 0) << "text order";
    EXPECT_NE(create(api.Hwnd()), nullptr);

    EXPECT_TRUE(uninit());
    EXPECT_FALSE(uninit());
    PlugRadio(3, false);
    win::test::PumpUntilIdle(5);
    EXPECT_EQ(api.Count(wd::WM_BLUETOOTH_API_CHANGED), 1);
    EXPECT_FALSE(ready());
    win::test::FailNext("WD_Init");
    EXPECT_FALSE(init(api.Hwnd(), u"6.7.5.0"));
}

TEST_F(StandIn, ToshibaNoticesRegistrationAndMemory) {
    TestWindow a, b;
    auto lib = Load(u"TosBtAPI.dll");
    auto open = Entry<tos::PFN_BtOpenAPI>(lib, "BtOpenAPI");
    auto close = Entry<tos::PFN_BtCloseAPI>(lib, "BtCloseAPI");
    auto notify = Entry<tos::PFN_BtNotifyEvent>(lib, "BtNotifyEvent");
    auto localInfo = Entry<tos::PFN_BtGetLocalInfo2>(lib, "BtGetLocalInfo2");
    auto memFree = Entry<tos::PFN_BtMemFree>(lib, "BtMemFree");

    tos::BTSTATUS status = 99;
    EXPECT_FALSE(notify(tos::BTEVENT_STACK_STATE, &status, a.Hwnd(), 1026)) << "API not open";
    EXPECT_NE(status, 0);
    ASSERT_TRUE(open(a.Hwnd(), "VYR_TOSHIBA_APP", &status));
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(notify(tos::BTEVENT_STACK_STATE, &status, a.Hwnd(), 1026));
    ASSERT_TRUE(notify(tos::BTEVENT_COMM_PORT_READY, &status, b.Hwnd(), 1041));
    tos::BTLOCALINFO2 info{};
    EXPECT_FALSE(localInfo(&info, &status));

    PlugRadio(2, true);
    win::test::PumpUntilIdle(5);
    ASSERT_EQ(a.Count(1026), 1);
    EXPECT_EQ(a.ReceivedMessages().back().wParam, tos::BTEVENT_STACK_STATE);
    EXPECT_NE(a.ReceivedMessages().back().lParam, 0);
    EXPECT_EQ(b.Count(1041), 0) << "only windows registered for the stack state";
    ASSERT_TRUE(localInfo(&info, &status));
    EXPECT_EQ(std::memcmp(info.BdAddr, kRadio.data(), 6), 0);

    ASSERT_TRUE(notify(tos::BTEVENT_NONE, &status, a.Hwnd(), 0));
    PlugRadio(2, false);
    win::test::PumpUntilIdle(5);
    EXPECT_EQ(a.Count(1026), 1) << "unregistered";

    int local = 0;
    memFree(&local); // not the stack's block: ignored, never freed
    EXPECT_EQ(win::test::CallCount("BtMemFree:foreign"), 1);
    EXPECT_TRUE(close(&status));
    EXPECT_FALSE(close(&status));
}
