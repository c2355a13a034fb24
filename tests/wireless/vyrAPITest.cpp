#include "TestWindow.h"
#include "vyrAPI.h"
#include "vyrLoaders.h"
#include "vyrMessages.h"
#include "vyrSync.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vyr;
using win::HWND;
using win::WM_USER;

namespace {

const char* const kNames[LoaderKindCount] = {"IrDA", "WiFi", "Rapi", "MS", "Toshiba", "BlueSoleil", "WidComm"};

// Fake loaders put into the API's loader table: they record every probe and free in one event list,
// which the tests' listeners and event handlers write to as well.
struct Fakes {
    bool present[LoaderKindCount] = {};
    std::vector<std::string> events;
    HWND apiWindow = nullptr;
    bool windowAliveAtProbe = true;
};
Fakes g;

template <int K> bool FakePresent(HWND w) {
    g.events.push_back(std::string("probe ") + kNames[K]);
    g.apiWindow = w;
    g.windowAliveAtProbe = g.windowAliveAtProbe && win::IsWindow(w);
    return g.present[K];
}
template <int K> void FakeFree() {
    g.events.push_back(std::string("free ") + kNames[K]);
}

template <int... K> void InstallFakes(std::integer_sequence<int, K...>) {
    ((LoaderEntry(static_cast<TvyrLoaderKind>(K)) = TvyrLoaderEntry{&FakePresent<K>, &FakeFree<K>}), ...);
}

std::vector<std::string> Only(const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& e : g.events)
        if (e.rfind(prefix, 0) == 0)
            out.push_back(e);
    return out;
}

class Api : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        for (int k = 0; k < LoaderKindCount; ++k)
            saved_[k] = LoaderEntry(static_cast<TvyrLoaderKind>(k));
        g = Fakes{};
        InstallFakes(std::make_integer_sequence<int, LoaderKindCount>{});
    }
    void TearDown() override {
        win::test::PumpMessages();
        for (int k = 0; k < LoaderKindCount; ++k)
            LoaderEntry(static_cast<TvyrLoaderKind>(k)) = saved_[k];
        win::test::Reset();
    }
    static void Notify(TvyrAPI& api, const char* what, int* count = nullptr) {
        auto fn = [what, count](vcl::TObject*) {
            g.events.push_back(what);
            if (count)
                ++*count;
        };
        if (std::string(what) == "AfterLoad")
            api.AfterLoad = fn;
        else if (std::string(what) == "AfterUnload")
            api.AfterUnload = fn;
        else
            api.OnChanged = fn;
    }
    TvyrLoaderEntry saved_[LoaderKindCount];
};

} // namespace

TEST_F(Api, LoadAndUnloadResults) {
    TvyrAPI a, b;
    int loads = 0, unloads = 0;
    Notify(a, "AfterLoad", &loads);
    Notify(a, "AfterUnload", &unloads);
    Notify(b, "AfterLoad", &loads);
    EXPECT_EQ(a.Version(), u"6.7.5.0");
    EXPECT_EQ(GetLibraryVersion(), u"6.7.5.0");
    EXPECT_FALSE(IsTransportAvailable(TRANSPORT_SERIAL)); // nothing loaded

    EXPECT_EQ(a.Load(), 0);
    EXPECT_TRUE(a.IsLoaded());
    EXPECT_EQ(g.events, (std::vector<std::string>{"probe IrDA", "probe WiFi", "probe Rapi", "probe MS", "probe Toshiba",
                                                  "probe BlueSoleil", "probe WidComm", "AfterLoad"}));
    EXPECT_TRUE(g.windowAliveAtProbe);
    // No stack at all: serial and the always-set transport only.
    EXPECT_TRUE(a.BluetoothApis().Empty());
    EXPECT_EQ(a.Transports().bits, (1u << 3) | (1u << 4));
    EXPECT_FALSE(IsTransportAvailable(TRANSPORT_BLUETOOTH));
    EXPECT_TRUE(IsTransportAvailable(TRANSPORT_SERIAL));
    EXPECT_FALSE(IsApiAvailable(8));
    EXPECT_FALSE(IsTransportAvailable(200));
    EXPECT_EQ(win::test::WsaStartupCount(), 1);

    EXPECT_EQ(a.Load(), 10);
    EXPECT_EQ(b.Load(), 11);
    EXPECT_EQ(b.Unload(), 12);
    EXPECT_EQ(loads, 1);

    g.events.clear();
    EXPECT_EQ(a.Unload(), 0);
    EXPECT_EQ(g.events, (std::vector<std::string>{"free IrDA", "free MS", "free WidComm", "free Toshiba",
                                                  "free BlueSoleil", "free WiFi", "free Rapi", "AfterUnload"}));
    EXPECT_FALSE(a.IsLoaded());
    EXPECT_FALSE(win::IsWindow(g.apiWindow));
    EXPECT_FALSE(win::PostMessageW(g.apiWindow, WM_TRANSPORT_CHANGED, 2, 1));
    EXPECT_EQ(win::test::WsaStartupCount(), 0);
    EXPECT_EQ(a.Unload(), 12);
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(IsTransportAvailable(TRANSPORT_SERIAL));

    // The second instance may load now; a reload probes afresh.
    g.present[static_cast<int>(TvyrLoaderKind::Toshiba)] = true;
    g.present[static_cast<int>(TvyrLoaderKind::IrDA)] = true;
    g.events.clear();
    EXPECT_EQ(b.Load(), 0);
    EXPECT_EQ(Only("probe").size(), 7u);
    EXPECT_EQ(b.BluetoothApis().bits, 1u << baToshiba);
    EXPECT_EQ(b.Transports().bits, (1u << 1) | (1u << 2) | (1u << 3) | (1u << 4));
    EXPECT_TRUE(IsApiAvailable(baToshiba));
    EXPECT_FALSE(IsApiAvailable(baMicrosoft));
    EXPECT_EQ(a.Load(), 11);
}

TEST_F(Api, StartUpFailuresLeaveNothingBehind) {
    TvyrAPI api;
    int loads = 0;
    Notify(api, "AfterLoad", &loads);
    int windowsBefore = win::test::LiveWindowCount();

    win::test::FailNext("WSAStartup");
    EXPECT_EQ(api.Load(), 1);
    EXPECT_EQ(win::test::CallCount("CreateWindowExW"), 0);
    EXPECT_FALSE(api.IsLoaded());

    win::test::FailNext("CreateWindowExW");
    EXPECT_EQ(api.Load(), 1);
    EXPECT_EQ(win::test::CallCount("WSACleanup"), 1);
    EXPECT_EQ(win::test::WsaStartupCount(), 0);
    EXPECT_EQ(win::test::LiveWindowCount(), windowsBefore);
    EXPECT_EQ(loads, 0);
    EXPECT_TRUE(Only("probe").empty());

    // A failed COM start is not balanced by an uninitialisation at unload.
    win::test::FailNext("CoInitialize");
    EXPECT_EQ(api.Load(), 0);
    EXPECT_EQ(api.Unload(), 0);
    EXPECT_EQ(win::test::CallCount("CoUninitialize"), 0);
    EXPECT_EQ(api.Load(), 0);
    EXPECT_EQ(win::test::CoInitializeCount(), 1);
    EXPECT_EQ(api.Unload(), 0);
    EXPECT_EQ(win::test::CoInitializeCount(), 0);
    EXPECT_EQ(loads, 2);
}

TEST_F(Api, PresenceMessagesUpdateTheSetsAndNotifyOnce) {
    g.present[static_cast<int>(TvyrLoaderKind::Microsoft)] = true;
    g.present[static_cast<int>(TvyrLoaderKind::WidComm)] = true;
    TvyrAPI api;
    int changes = 0;
    Notify(api, "OnChanged", &changes);
    TestWindow listener([](win::UINT msg, win::WPARAM, win::LPARAM) {
        if (msg == WM_API_CHANGED)
            g.events.push_back("listener 1029");
        return win::LRESULT{0};
    });
    RegisterListenerWindow(listener.Hwnd());
    RegisterListenerWindow(listener.Hwnd()); // twice: two copies of each broadcast
    ASSERT_EQ(api.Load(), 0);
    EXPECT_EQ(api.BluetoothApis().bits, (1u << baMicrosoft) | (1u << baWidComm));
    HWND w = g.apiWindow;

    auto post = [&](win::UINT msg, win::WPARAM wp, win::LPARAM lp) {
        g.events.clear();
        ASSERT_TRUE(win::PostMessageW(w, msg, wp, lp));
        win::test::PumpUntilIdle(5);
    };

    post(WM_BLUETOOTH_API_CHANGED, 4, 0); // WidComm gone
    EXPECT_EQ(api.BluetoothApis().bits, 1u << baMicrosoft);
    EXPECT_TRUE(api.Transports().Contains(TRANSPORT_BLUETOOTH));
    EXPECT_EQ(g.events, (std::vector<std::string>{"OnChanged", "listener 1029", "listener 1029"}));
    post(WM_BLUETOOTH_API_CHANGED, 4, 0); // nothing changes, nobody hears
    EXPECT_TRUE(g.events.empty());
    post(WM_BLUETOOTH_API_CHANGED, 2, 0); // the last stack gone: Bluetooth goes too
    EXPECT_TRUE(api.BluetoothApis().Empty());
    EXPECT_FALSE(IsTransportAvailable(TRANSPORT_BLUETOOTH));
    post(WM_BLUETOOTH_API_CHANGED, 9, 1); // out of range counts as BlueSoleil
    EXPECT_TRUE(IsApiAvailable(baBlueSoleil));
    EXPECT_TRUE(IsTransportAvailable(TRANSPORT_BLUETOOTH));
    post(WM_BLUETOOTH_API_CHANGED, 3, 2); // only lParam 1 means present
    EXPECT_FALSE(IsApiAvailable(baToshiba));
    post(WM_TRANSPORT_CHANGED, 7, 1); // out of range is the device link
    EXPECT_TRUE(IsTransportAvailable(TRANSPORT_DEVICE_LINK));
    post(WM_TRANSPORT_CHANGED, 1, 0);
    EXPECT_FALSE(IsTransportAvailable(TRANSPORT_DEVICE_LINK));
    post(WM_TRANSPORT_CHANGED, 1, 0);
    EXPECT_TRUE(g.events.empty());
    post(WM_TRANSPORT_CHANGED, 5, 1);
    EXPECT_TRUE(IsTransportAvailable(TRANSPORT_WIFI));
    post(WM_TRANSPORT_CHANGED, 3, 0);
    EXPECT_FALSE(IsTransportAvailable(TRANSPORT_SERIAL));
    post(WM_USER + 77, 0, 0); // foreign messages are left alone
    EXPECT_TRUE(g.events.empty());

    UnregisterListenerWindow(listener.Hwnd()); // one registration stays
    post(WM_TRANSPORT_CHANGED, 2, 1);
    EXPECT_EQ(g.events, (std::vector<std::string>{"OnChanged", "listener 1029"}));
    UnregisterListenerWindow(listener.Hwnd());
    EXPECT_EQ(api.Unload(), 0);
}

TEST_F(Api, WidCommReloadAfterTheLastClientIsReleased) {
    g.present[static_cast<int>(TvyrLoaderKind::Microsoft)] = true;
    g.present[static_cast<int>(TvyrLoaderKind::WidComm)] = true;
    TvyrAPI api;
    ASSERT_EQ(api.Load(), 0);
    HWND w = g.apiWindow;
    auto post = [&](win::UINT msg, win::WPARAM wp, win::LPARAM lp) {
        win::PostMessageW(w, msg, wp, lp);
        win::test::PumpUntilIdle(5);
    };

    post(WM_WIDCOMM_CLIENTS_RELEASED, 0, 0); // nothing pending
    g.events.clear();
    post(WM_BLUETOOTH_API_CHANGED, 4, 0);
    post(WM_WIDCOMM_CLIENTS_RELEASED, 0, 0);
    EXPECT_EQ(g.events, (std::vector<std::string>{"free WidComm", "probe WidComm"}));
    EXPECT_TRUE(IsApiAvailable(baWidComm));
    post(WM_WIDCOMM_CLIENTS_RELEASED, 0, 0); // once only
    EXPECT_EQ(Only("probe").size(), 1u);

    // Another stack's removal in between cancels the reload.
    g.events.clear();
    post(WM_BLUETOOTH_API_CHANGED, 4, 0);
    post(WM_BLUETOOTH_API_CHANGED, 2, 0);
    post(WM_WIDCOMM_CLIENTS_RELEASED, 0, 0);
    EXPECT_TRUE(Only("probe").empty());
    EXPECT_FALSE(IsApiAvailable(baWidComm));
    EXPECT_EQ(api.Unload(), 0);
}

TEST_F(Api, UnloadTellsListenersBeforeAnyLoaderIsFreed) {
    g.present[static_cast<int>(TvyrLoaderKind::Toshiba)] = true;
    auto api = std::make_unique<TvyrAPI>();
    Notify(*api, "AfterUnload");
    TestWindow late;
    TestWindow second([](win::UINT msg, win::WPARAM, win::LPARAM) {
        if (msg == WM_API_UNLOADED)
            g.events.push_back("second 1028");
        return win::LRESULT{0};
    });
    std::atomic<bool> availableDuring{true};
    bool loadedDuring = true;
    TvyrAPI* raw = api.get();
    TestWindow first([&](win::UINT msg, win::WPARAM, win::LPARAM) {
        if (msg == WM_API_UNLOADED) {
            g.events.push_back("first 1028");
            availableDuring = IsApiAvailable(baToshiba) || IsTransportAvailable(TRANSPORT_SERIAL);
            loadedDuring = raw->IsLoaded();
            // Changing the list mid-broadcast does not change who receives this one.
            UnregisterListenerWindow(second.Hwnd());
            RegisterListenerWindow(late.Hwnd());
        }
        return win::LRESULT{0};
    });
    RegisterListenerWindow(first.Hwnd());
    RegisterListenerWindow(second.Hwnd());
    ASSERT_EQ(api->Load(), 0);
    ASSERT_TRUE(IsApiAvailable(baToshiba));
    g.events.clear();
    api.reset(); // destroying a loaded API unloads it
    ASSERT_GE(g.events.size(), 3u);
    EXPECT_EQ(g.events[0], "first 1028");
    EXPECT_EQ(g.events[1], "second 1028");
    EXPECT_EQ(g.events[2], "free IrDA");
    EXPECT_EQ(g.events.back(), "AfterUnload");
    EXPECT_FALSE(availableDuring.load());
    EXPECT_FALSE(loadedDuring);
    EXPECT_EQ(late.Count(WM_API_UNLOADED), 0);
    UnregisterListenerWindow(first.Hwnd());
    UnregisterListenerWindow(late.Hwnd());
}

TEST_F(Api, ListenersAndTheHiddenWindowConvention) {
    // Broadcast: posted reaches the windows later, sent at once; dead and null windows are harmless.
    TestWindow a;
    auto dead = std::make_unique<TestWindow>();
    HWND deadHwnd = dead->Hwnd();
    dead.reset();
    RegisterListenerWindow(nullptr);
    RegisterListenerWindow(deadHwnd);
    RegisterListenerWindow(a.Hwnd());
    BroadcastToListeners(WM_API_CHANGED, 0, 0, true);
    EXPECT_EQ(a.Count(WM_API_CHANGED), 0);
    win::test::PumpUntilIdle(5);
    EXPECT_EQ(a.Count(WM_API_CHANGED), 1);
    BroadcastToListeners(WM_API_UNLOADED, 0, 0, false);
    EXPECT_EQ(a.Count(WM_API_UNLOADED), 1);
    UnregisterListenerWindow(a.Hwnd());
    UnregisterListenerWindow(deadHwnd);
    BroadcastToListeners(WM_API_UNLOADED, 0, 0, false);
    EXPECT_EQ(a.Count(WM_API_UNLOADED), 1);

    // The hidden window hands every message to its owner and contains the owner's exceptions.
    struct Owner : TvyrHiddenWindowOwner {
        std::vector<win::UINT> seen;
        void HiddenWindowMessage(win::UINT msg, win::WPARAM, win::LPARAM) override {
            seen.push_back(msg);
            if (msg == WM_USER + 9)
                throw std::runtime_error("handler failed");
        }
    } owner;
    HWND h = CreateHiddenWindow();
    ASSERT_NE(h, nullptr);
    AttachHiddenWindow(h, &owner);
    EXPECT_EQ(win::SendMessageW(h, WM_USER + 8, 0, 0), 0);
    EXPECT_EQ(win::SendMessageW(h, WM_USER + 9, 0, 0), 0);
    EXPECT_EQ(owner.seen, (std::vector<win::UINT>{WM_USER + 8, WM_USER + 9}));
    EXPECT_NE(win::test::Calls("CreateWindowExW").back().find("class=Message name=WindowForMessage parent=0xfff"),
              std::string::npos);
    DestroyHiddenWindow(h);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(owner.seen.size(), 2u); // teardown detaches before destroying
    DestroyHiddenWindow(h);           // nothing to do
}

TEST(vyrSync, LockIsRecursiveAndExclusive) {
    TvyrSync sync;
    sync.Enter();
    sync.Enter();
    std::atomic<bool> entered{false};
    win::HANDLE t = win::CreateThread([&] {
        TvyrSyncGuard guard(sync);
        entered = true;
        return win::DWORD{0};
    });
    EXPECT_EQ(win::WaitForSingleObject(t, 30), win::WAIT_TIMEOUT);
    EXPECT_FALSE(entered.load());
    sync.Leave();
    EXPECT_EQ(win::WaitForSingleObject(t, 30), win::WAIT_TIMEOUT);
    sync.Leave();
    EXPECT_EQ(win::WaitForSingleObject(t, 5000), win::WAIT_OBJECT_0);
    EXPECT_TRUE(entered.load());
    win::CloseHandle(t);
}
