#include "StackFixture.h"
#include "TestWindow.h"
#include "vyrBlueSoleil.h"
#include "vyrMessages.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <string>

using namespace vyr;

namespace {

constexpr int kBlueSoleil = 0;

class BlueSoleil : public StackFixture {
protected:
    void TearDown() override {
        FreeBlueSoleilLoader();
        StackFixture::TearDown();
    }
    static void SetVersion(const std::u16string& v) {
        SetMachineValue(BlueSoleilInstallKey, BlueSoleilVersionValue, v);
    }

    // Plays a stack event through the stand-in; returns whether a callback was registered for the kind.
    static int RaiseStackEvent(std::uint8_t kind, std::uint32_t value, std::uint8_t event) {
        win::HMODULE m = win::LoadLibraryW(u"btfunc.dll");
        if (!m)
            return -1;
        auto raise = reinterpret_cast<int (*)(std::uint8_t, std::uint32_t, std::uint8_t)>(
            win::GetProcAddress(m, "TavlinBtfunc_RaiseEvent"));
        const int r = raise ? raise(kind, value, event) : -1;
        win::FreeLibrary(m);
        return r;
    }
};

} // namespace

TEST_F(BlueSoleil, VersionRuleComparesTextNotNumbers) {
    for (const char16_t* v : {u"5.4.236.0", u"5.4.236.1", u"5.9", u"6.4.236.0", u"7.0.0.0", u"6.5"})
        EXPECT_TRUE(BlueSoleilVersionHasNewerInterface(v)) << vcl::Utf16ToUtf8(v);
    for (const char16_t* v : {u"", u"5.4.235.9", u"6.0.0.0", u"6.10.0.0", u"6.4.235", u"10.2.0.0", u"1"})
        EXPECT_FALSE(BlueSoleilVersionHasNewerInterface(v)) << vcl::Utf16ToUtf8(v);
}

TEST_F(BlueSoleil, LoadsTheNewerInterfaceOnlyForItsVersions) {
    SetRadio(kBlueSoleil, true);
    SetVersion(u"6.4.236.0");
    TestWindow api;
    EXPECT_TRUE(BlueSoleilLoaderPresent(api.Hwnd()));
    EXPECT_TRUE(BlueSoleilUsesNewerInterface());
    EXPECT_EQ(win::test::CallCount("Btsdk_Init"), 1);
    EXPECT_EQ(win::test::Calls("BT_RegisterCallback"), (std::vector<std::string>{"3", "7"}));
    EXPECT_EQ(win::test::CallCount("BT_StartBluetooth"), 1);

    // The device handle: the address goes reversed; an unknown device is added, a known one found.
    const int h = BlueSoleilDeviceHandle(u"(00:1A:7D:DA:71:13)");
    EXPECT_NE(h, 0);
    EXPECT_EQ(win::test::Calls("Btsdk_GetRemoteDeviceHandle"), (std::vector<std::string>{"1371DA7D1A00"}));
    EXPECT_EQ(win::test::Calls("Btsdk_AddRemoteDevice"), (std::vector<std::string>{"1371DA7D1A00"}));
    EXPECT_EQ(BlueSoleilDeviceHandle(u"(00:1a:7d:da:71:13)"), h);
    EXPECT_EQ(win::test::CallCount("Btsdk_AddRemoteDevice"), 1);
    EXPECT_EQ(BlueSoleilDeviceHandle(u"not an address"), 0);

    FreeBlueSoleilLoader();
    EXPECT_FALSE(BlueSoleilUsesNewerInterface());
    EXPECT_EQ(win::test::Calls("BT_UnregisterCallback"), (std::vector<std::string>{"3", "7"}));
    EXPECT_EQ(win::test::CallCount("Btsdk_Done"), 1);
    EXPECT_EQ(win::test::CallCount("BT_UninitializeLibrary"), 1);
    EXPECT_EQ(win::test::ModuleLoadCount("bssdk"), 0);
    EXPECT_EQ(win::test::ModuleLoadCount("btfunc"), 0);
    EXPECT_EQ(BlueSoleilDeviceHandle(u"(00:1A:7D:DA:71:13)"), 0); // wrappers back at their defaults

    // An older stack, and one with no version at all, use btfunc alone.
    for (const char16_t* v : {u"6.0.0.0", u""}) {
        win::test::ClearJournal();
        SetVersion(v);
        EXPECT_TRUE(BlueSoleilLoaderPresent(api.Hwnd()));
        EXPECT_FALSE(BlueSoleilUsesNewerInterface());
        EXPECT_EQ(win::test::Calls("LoadLibraryW"), (std::vector<std::string>{"btfunc.dll"}));
        EXPECT_EQ(BlueSoleilDeviceHandle(u"(00:1A:7D:DA:71:13)"), 0);
        EXPECT_EQ(Btsdk_StopDeviceDiscovery(), 771u);
        FreeBlueSoleilLoader();
        EXPECT_EQ(win::test::CallCount("Btsdk_Done"), 0);
    }
}

TEST_F(BlueSoleil, MissingLibrariesExportsAndFailuresLeaveItAbsentAndReleased) {
    SetRadio(kBlueSoleil, true);
    SetVersion(u"7.0.0.0");
    TestWindow api;

    // No btfunc: absent, and the newer interface is shut down again.
    win::test::SetFail("LoadLibraryW:btfunc", true);
    EXPECT_FALSE(BlueSoleilLoaderPresent(api.Hwnd()));
    EXPECT_FALSE(BlueSoleilUsesNewerInterface());
    EXPECT_EQ(win::test::CallCount("Btsdk_Init"), 1);
    EXPECT_EQ(win::test::CallCount("Btsdk_Done"), 1);
    EXPECT_EQ(win::test::ModuleLoadCount("bssdk"), 0);
    EXPECT_EQ(BT_IsBluetoothReady(0), 0);
    FreeBlueSoleilLoader();
    EXPECT_EQ(win::test::CallCount("BT_UnregisterCallback"), 0);
    win::test::SetFail("LoadLibraryW:btfunc", false);

    // The newer interface failing its start-up: the older one still serves.
    win::test::ClearJournal();
    win::test::FailNext("Btsdk_Init");
    EXPECT_TRUE(BlueSoleilLoaderPresent(api.Hwnd()));
    EXPECT_FALSE(BlueSoleilUsesNewerInterface());
    EXPECT_EQ(win::test::ModuleLoadCount("bssdk"), 0);
    FreeBlueSoleilLoader();
    EXPECT_EQ(win::test::CallCount("Btsdk_Done"), 0);

    // Missing exports leave their wrappers at the defaults.
    win::test::HideExport("btfunc", "BT_IsBluetoothReady");
    EXPECT_FALSE(BlueSoleilLoaderPresent(api.Hwnd())); // loaded, but never reads as ready
    EXPECT_EQ(win::test::ModuleLoadCount("btfunc"), 1);
    FreeBlueSoleilLoader();
    win::test::HideExport("btfunc", "BT_InitializeLibrary");
    EXPECT_FALSE(BlueSoleilLoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::ModuleLoadCount("btfunc"), 0);
    FreeBlueSoleilLoader();
    win::test::HideExport("btfunc", "BT_IsBluetoothReady", false);
    win::test::HideExport("btfunc", "BT_InitializeLibrary", false);

    // No poller thread: the library is shut down again.
    win::test::ClearJournal();
    win::test::FailNext("CreateThread");
    EXPECT_FALSE(BlueSoleilLoaderPresent(api.Hwnd()));
    EXPECT_EQ(win::test::CallCount("BT_UninitializeLibrary"), 1);
    EXPECT_EQ(win::test::CallCount("Btsdk_Done"), 1);
    EXPECT_EQ(win::test::ModuleLoadCount("btfunc"), 0);
}

TEST_F(BlueSoleil, PollerPostsOncePerChangeAndNothingAfterItIsFreed) {
    win::test::SetTimeScale(8); // a 1000 ms poll takes 125 real ms, leaving room for a loaded machine
    TestWindow api;
    EXPECT_FALSE(BlueSoleilLoaderPresent(api.Hwnd())); // the stack runs, the radio is not there

    const win::DWORD plugged = win::GetTickCount();
    SetRadio(kBlueSoleil, true);
    ASSERT_TRUE(win::test::PumpUntil([&] { return api.Count(WM_BLUETOOTH_API_CHANGED) == 1; }, 2000));
    EXPECT_LE(win::GetTickCount() - plugged, 1500u);
    auto got = api.ReceivedMessages();
    EXPECT_EQ(got.back().wParam, 1u);
    EXPECT_EQ(got.back().lParam, 1);
    EXPECT_TRUE(BlueSoleilLoaderPresent(api.Hwnd()));

    // Steady: several polls, no further post.
    const int polls = win::test::CallCount("BT_IsBluetoothReady");
    ASSERT_TRUE(win::test::PumpUntil([&] { return win::test::CallCount("BT_IsBluetoothReady") >= polls + 2; }, 2000));
    EXPECT_EQ(api.Count(WM_BLUETOOTH_API_CHANGED), 1);

    SetRadio(kBlueSoleil, false);
    ASSERT_TRUE(win::test::PumpUntil([&] { return api.Count(WM_BLUETOOTH_API_CHANGED) == 2; }, 2000));
    EXPECT_EQ(api.ReceivedMessages().back().lParam, 0);

    // Freed: the poller is gone (no more polls) and a change posts nothing.
    FreeBlueSoleilLoader();
    const int after = win::test::CallCount("BT_IsBluetoothReady");
    SetRadio(kBlueSoleil, true);
    win::Sleep(2500);
    win::test::PumpMessages();
    EXPECT_EQ(win::test::CallCount("BT_IsBluetoothReady"), after);
    EXPECT_EQ(api.Count(WM_BLUETOOTH_API_CHANGED), 2);
}

TEST_F(BlueSoleil, RegistryKeepsTheFirstEntryAndRoutesStackEvents) {
    SetRadio(kBlueSoleil, true);
    TestWindow api, clientA, clientB, notified;
    ASSERT_TRUE(BlueSoleilLoaderPresent(api.Hwnd()));
    auto& reg = BlueSoleilConnections();
    const int before = reg.Count();

    RegisterBlueSoleilWindow(11, 0, clientA.Hwnd());
    RegisterBlueSoleilWindow(99, 0, clientA.Hwnd()); // same kind and window: the first handle stays
    RegisterBlueSoleilWindow(12, 0, clientB.Hwnd());
    RegisterBlueSoleilWindow(13, 1, notified.Hwnd());
    RegisterBlueSoleilWindow(14, 1, clientA.Hwnd()); // another kind is another entry
    EXPECT_EQ(reg.Count(), before + 4);
    const int ia = reg.IndexOf(0, clientA.Hwnd());
    ASSERT_GE(ia, 0);
    EXPECT_EQ(reg.Item(ia).Handle, 11);
    EXPECT_THROW(reg.Item(reg.Count()), vcl::Exception);

    // Event 4 reaches only the client connection registered under the handle the stack names; a handle
    // nobody holds (the one kept out by the first entry included) closes nothing.
    EXPECT_EQ(RaiseStackEvent(7, 12, 4), 1);
    win::test::PumpMessages();
    EXPECT_EQ(clientA.Count(WM_LINK_LOST), 0);
    EXPECT_EQ(clientB.Count(WM_LINK_LOST), 1);
    EXPECT_EQ(notified.Count(WM_LINK_LOST), 0);
    EXPECT_EQ(RaiseStackEvent(7, 99, 4), 1);
    EXPECT_EQ(RaiseStackEvent(7, 13, 4), 1); // a kind-1 entry's handle is not a client's
    win::test::PumpMessages();
    EXPECT_EQ(clientA.Count(WM_LINK_LOST), 0);
    EXPECT_EQ(clientB.Count(WM_LINK_LOST), 1);
    EXPECT_EQ(notified.Count(WM_LINK_LOST), 0);
    EXPECT_EQ(RaiseStackEvent(7, 11, 4), 1);
    win::test::PumpMessages();
    EXPECT_EQ(clientA.Count(WM_LINK_LOST), 1);

    // Event 1 is sent: handled, with the stack's value, before the stack's call returns.
    EXPECT_EQ(RaiseStackEvent(3, 0x1234, 1), 1);
    ASSERT_EQ(notified.Count(WM_BLUESOLEIL_NOTIFY), 1);
    EXPECT_EQ(notified.ReceivedMessages().back().lParam, 0x1234);
    EXPECT_EQ(clientA.Count(WM_BLUESOLEIL_NOTIFY), 1); // clientA is also a kind-1 window
    EXPECT_EQ(clientB.Count(WM_BLUESOLEIL_NOTIFY), 0);

    // Event 3 reaches kind 1 only; other events nobody.
    RaiseStackEvent(3, 0, 3);
    RaiseStackEvent(3, 0, 9);
    win::test::PumpMessages();
    EXPECT_EQ(notified.Count(WM_LINK_LOST), 1);
    EXPECT_EQ(clientB.Count(WM_LINK_LOST), 1);

    // A window that died while still registered is harmless to deliver to.
    {
        TestWindow gone;
        RegisterBlueSoleilWindow(15, 1, gone.Hwnd());
    }
    EXPECT_EQ(RaiseStackEvent(3, 7, 1), 1);
    EXPECT_EQ(notified.Count(WM_BLUESOLEIL_NOTIFY), 2);

    UnregisterBlueSoleilWindow(0, clientA.Hwnd());
    UnregisterBlueSoleilWindow(0, clientB.Hwnd());
    UnregisterBlueSoleilWindow(1, notified.Hwnd());
    UnregisterBlueSoleilWindow(1, clientA.Hwnd());
    UnregisterBlueSoleilWindow(1, nullptr); // nothing registered under it: no change
    EXPECT_EQ(reg.Count(), before + 1);
    win::HWND goneHwnd = reg.Item(reg.Count() - 1).Window;
    UnregisterBlueSoleilWindow(1, goneHwnd);
    EXPECT_EQ(reg.Count(), before);

    // Once freed, the stack's callbacks are gone.
    FreeBlueSoleilLoader();
    EXPECT_EQ(RaiseStackEvent(7, 0, 4), 0);
}
