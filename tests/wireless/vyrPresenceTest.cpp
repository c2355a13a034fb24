// IrDA, Wi-Fi and device-link presence, and the API object with these loaders and BlueSoleil.
#include "StackFixture.h"
#include "TestWindow.h"
#include "vyrAPI.h"
#include "vyrBlueSoleil.h"
#include "vyrIrDA.h"
#include "vyrLoaders.h"
#include "vyrMessages.h"
#include "vyrRAPI.h"
#include "vyrWlan.h"
#include "win32/SetupApi.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

using namespace vyr;

namespace {

class Presence : public StackFixture {
protected:
    void SetUp() override {
        StackFixture::SetUp();
        win::CoInitialize(nullptr);
    }
    void TearDown() override {
        FreeIrDALoader();
        FreeWiFiLoader();
        FreeRapiLoader();
        win::CoUninitialize();
        StackFixture::TearDown();
    }
    static int RaiseSink(int method) {
        win::HMODULE m = win::LoadLibraryW(u"rapi.dll");
        auto raise = reinterpret_cast<int (*)(int)>(win::GetProcAddress(m, "TavlinRapi_RaiseSink"));
        const int r = raise ? raise(method) : -1;
        win::FreeLibrary(m);
        return r;
    }
    static int Reports(const TestWindow& w, win::WPARAM transport, win::LPARAM state) {
        int n = 0;
        for (const auto& r : w.ReceivedMessages())
            n += r.msg == WM_TRANSPORT_CHANGED && r.wParam == transport && r.lParam == state;
        return n;
    }
};

} // namespace

TEST_F(Presence, IrDAFollowsUsbArrivalsAndRemovals) {
    TestWindow api;
    const int windows = win::test::LiveWindowCount();
    EXPECT_FALSE(IrDALoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::OpenDeviceInfoSetCount(), 0);
    EXPECT_EQ(win::test::CallCount("SetupDiDestroyDeviceInfoList"), 1); // destroyed though empty

    // A foreign USB device: looked at, reported unchanged.
    win::test::RaiseForeignUsbDevice(true);
    win::test::PumpMessages();
    EXPECT_EQ(Reports(api, TRANSPORT_IRDA, 0), 1);

    // The adapter arrives, then goes.
    air::Air::Instance().SetIrdaPresent(true);
    win::test::PumpMessages();
    EXPECT_EQ(Reports(api, TRANSPORT_IRDA, 1), 1);
    EXPECT_TRUE(IrDALoaderPresent(api.Hwnd()));
    air::Air::Instance().SetIrdaPresent(false);
    win::test::PumpMessages();
    EXPECT_EQ(Reports(api, TRANSPORT_IRDA, 0), 2);
    EXPECT_EQ(win::test::OpenDeviceInfoSetCount(), 0);

    FreeIrDALoader();
    EXPECT_EQ(win::test::LiveWindowCount(), windows);
    EXPECT_EQ(win::test::CallCount("UnregisterDeviceNotification"), 1);
    win::test::RaiseForeignUsbDevice(false);
    win::test::PumpMessages();
    EXPECT_EQ(api.Count(WM_TRANSPORT_CHANGED), 3);

    // Present at load; failures on the way leave it absent and nothing behind.
    air::Air::Instance().SetIrdaPresent(true);
    EXPECT_TRUE(IrDALoaderPresent(api.Hwnd()));
    FreeIrDALoader();
    win::test::FailNext("RegisterDeviceNotificationW");
    EXPECT_FALSE(IrDALoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::LiveWindowCount(), windows);
    FreeIrDALoader();
    win::test::FailNext("SetupDiGetClassDevsW");
    EXPECT_FALSE(IrDALoaderPresent(api.Hwnd()));
}

TEST_F(Presence, SetupApiSetsAreBoundedAndChecked) {
    air::Air::Instance().SetIrdaPresent(true);
    const win::GUID infrared = std::bit_cast<win::GUID>(stackabi::sp::GUID_DEVCLASS_INFRARED);
    win::HDEVINFO set = win::SetupDiGetClassDevsW(&infrared, nullptr, nullptr, win::DIGCF_PRESENT);
    ASSERT_NE(set, win::INVALID_HANDLE_VALUE);
    win::SP_DEVINFO_DATA d{};
    d.cbSize = 32;
    EXPECT_FALSE(win::SetupDiEnumDeviceInfo(set, 0, &d)); // a wrong record size is refused
    d.cbSize = sizeof d;
    EXPECT_TRUE(win::SetupDiEnumDeviceInfo(set, 0, &d));
    EXPECT_TRUE(d.ClassGuid == stackabi::sp::GUID_DEVCLASS_INFRARED);
    EXPECT_FALSE(win::SetupDiEnumDeviceInfo(set, 1, &d));
    EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(win::SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(win::SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(win::SetupDiEnumDeviceInfo(set, 0, &d));
    EXPECT_EQ(win::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, win::DIGCF_PRESENT), win::INVALID_HANDLE_VALUE);
}

TEST_F(Presence, WiFiOpensTheClientVersionOfTheSystem) {
    TestWindow api;
    air::Air::Instance().SetWifiPresent(true);
    EXPECT_TRUE(WiFiLoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::Calls("WlanOpenHandle"), (std::vector<std::string>{"2"})); // NT 6.1
    EXPECT_EQ(win::test::CallCount("WlanCloseHandle"), 1);
    FreeWiFiLoader();
    EXPECT_EQ(win::test::ModuleLoadCount("wlanapi"), 0);

    win::test::ClearJournal();
    win::test::SetOsVersion(5, 1, win::VER_PLATFORM_WIN32_NT, 2600);
    EXPECT_TRUE(WiFiLoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::Calls("WlanOpenHandle"), (std::vector<std::string>{"1"}));
    FreeWiFiLoader();

    // No adapter, no library, or no entry point: absent, with the library released.
    air::Air::Instance().SetWifiPresent(false);
    EXPECT_FALSE(WiFiLoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::ModuleLoadCount("wlanapi"), 0);
    EXPECT_EQ(WlanCloseHandle(nullptr, nullptr), 1u);
    FreeWiFiLoader();
    air::Air::Instance().SetWifiPresent(true);
    win::test::HideExport("wlanapi", "WlanOpenHandle");
    EXPECT_FALSE(WiFiLoaderPresent(api.Hwnd()));
    FreeWiFiLoader();
    win::test::HideExport("wlanapi", "WlanOpenHandle", false);
    win::test::SetFail("LoadLibraryW:wlanapi", true);
    EXPECT_FALSE(WiFiLoaderPresent(api.Hwnd()));
}

TEST_F(Presence, DeviceLinkPostsEachConnectAndDisconnectOnce) {
    TestWindow api;
    air::Air::Instance().SetDeviceLinkConnected(true);
    EXPECT_TRUE(RapiLoaderPresent(api.Hwnd())); // reported during Advise, before the probe returns
    EXPECT_EQ(win::test::CallCount("CeRapiInit"), 1);

    air::Air::Instance().SetDeviceLinkConnected(false);
    EXPECT_EQ(RaiseSink(6), 1); // a second disconnection in a row
    win::test::PumpMessages();
    EXPECT_EQ(Reports(api, 1, 1), 1);
    EXPECT_EQ(Reports(api, 1, 0), 1);
    EXPECT_EQ(win::test::CallCount("CeRapiUninit"), 1);

    // A failing session start changes nothing.
    win::test::FailNext("CeRapiInit");
    air::Air::Instance().SetDeviceLinkConnected(true);
    EXPECT_FALSE(RapiLoaderPresent(api.Hwnd()));
    air::Air::Instance().SetDeviceLinkConnected(false);
    air::Air::Instance().SetDeviceLinkConnected(true);
    win::test::PumpMessages();
    EXPECT_EQ(Reports(api, 1, 1), 2);

    FreeRapiLoader();
    EXPECT_EQ(win::test::CallCount("IDccMan::Unadvise"), 1);
    EXPECT_EQ(win::test::CallCount("CeRapiUninit"), 2); // the open session is closed too
    EXPECT_EQ(win::test::ModuleLoadCount("rapi"), 0);
    air::Air::Instance().SetDeviceLinkConnected(false);
    win::test::PumpMessages();
    EXPECT_EQ(api.Count(WM_TRANSPORT_CHANGED), 3);
}

TEST_F(Presence, DeviceLinkFailuresLeaveNothingBehind) {
    TestWindow api;
    air::Air::Instance().SetDeviceLinkConnected(true);

    win::test::SetFail("LoadLibraryW:ceutil", true);
    EXPECT_FALSE(RapiLoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::Calls("LoadLibraryW"), (std::vector<std::string>{"ceutil.dll"}));
    FreeRapiLoader();
    win::test::SetFail("LoadLibraryW:ceutil", false);

    win::test::FailNext("CoCreateInstance");
    EXPECT_FALSE(RapiLoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::ModuleLoadCount("rapi"), 0);
    FreeRapiLoader();

    win::test::FailNext("IDccMan::Advise");
    EXPECT_FALSE(RapiLoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::ModuleLoadCount("rapi"), 0);
    FreeRapiLoader(); // the unit's reference is the last: the loader goes here

    // COM not started on this thread: the manager cannot be made.
    win::CoUninitialize();
    EXPECT_FALSE(RapiLoaderPresent(api.Hwnd()));
    FreeRapiLoader();
    win::CoInitialize(nullptr);
    win::test::PumpMessages();
    EXPECT_EQ(api.Count(WM_TRANSPORT_CHANGED), 0);
}

TEST_F(Presence, ApiLoadsEveryStackAndTransportTheAirHas) {
    using K = TvyrLoaderKind;
    const TvyrLoaderEntry saved[] = {LoaderEntry(K::IrDA), LoaderEntry(K::WiFi), LoaderEntry(K::Rapi),
                                     LoaderEntry(K::BlueSoleil)};
    LoaderEntry(K::IrDA) = {IrDALoaderPresent, FreeIrDALoader};
    LoaderEntry(K::WiFi) = {WiFiLoaderPresent, FreeWiFiLoader};
    LoaderEntry(K::Rapi) = {RapiLoaderPresent, FreeRapiLoader};
    LoaderEntry(K::BlueSoleil) = {BlueSoleilLoaderPresent, FreeBlueSoleilLoader};
    win::CoUninitialize(); // the API starts COM itself

    auto& a = air::Air::Instance();
    a.SetIrdaPresent(true);
    a.SetWifiPresent(true);
    a.SetDeviceLinkConnected(true);
    for (int stack = 0; stack < 4; ++stack)
        SetRadio(stack, true);
    {
        TvyrAPI api;
        ASSERT_EQ(api.Load(), 0);
        for (auto stack : {baBlueSoleil, baMicrosoft, baToshiba, baWidComm})
            EXPECT_TRUE(api.BluetoothApis().Contains(stack)) << stack;
        for (unsigned t = 0; t <= 5; ++t)
            EXPECT_TRUE(api.Transports().Contains(t)) << t;

        // The device link goes: the API hears it through the loader.
        a.SetDeviceLinkConnected(false);
        ASSERT_TRUE(win::test::PumpUntil([&] { return !api.Transports().Contains(TRANSPORT_DEVICE_LINK); }, 2000));
        EXPECT_EQ(api.Unload(), 0);
        EXPECT_EQ(win::test::ModuleLoadCount("btfunc"), 0);
        EXPECT_EQ(win::test::ModuleLoadCount("rapi"), 0);
    }
    win::CoInitialize(nullptr);
    LoaderEntry(K::IrDA) = saved[0];
    LoaderEntry(K::WiFi) = saved[1];
    LoaderEntry(K::Rapi) = saved[2];
    LoaderEntry(K::BlueSoleil) = saved[3];
}
