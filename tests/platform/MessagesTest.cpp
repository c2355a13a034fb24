#include "TestWindow.h"
#include "win32/Kernel.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>

using namespace win;

namespace {

class Messages : public ::testing::Test {
protected:
    void SetUp() override { test::Reset(); }
    void TearDown() override {
        test::PumpMessages();
        test::Reset();
    }
};

// Waits (without pumping) until the calling thread's queue has something waiting.
bool WaitForQueuedWork(int realMs = 2000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    while (!QueueHasWork()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

TEST_F(Messages, PostsFromWorkersAreHandledOnTheOwnerThreadInOrder) {
    TestWindow w;
    ASSERT_TRUE(w.Hwnd());
    HWND h = w.Hwnd();
    HANDLE t = CreateThread([h] {
        for (WPARAM i = 0; i < 50; ++i)
            PostMessageW(h, WM_USER + 1, i, 0);
        return DWORD{7};
    });
    ASSERT_TRUE(test::PumpUntil([&] { return w.Count(WM_USER + 1) == 50; }));
    auto got = w.ReceivedMessages();
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].wParam, i);
        EXPECT_EQ(got[i].threadId, GetCurrentThreadId());
    }
    EXPECT_EQ(WaitForSingleObject(t, 2000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(CloseHandle(t));
    EXPECT_FALSE(CloseHandle(t));
}

TEST_F(Messages, SendFromWorkerReturnsTheResultAndNeverDeadlocks) {
    TestWindow w([](UINT, WPARAM wp, LPARAM) { return static_cast<LRESULT>(wp * 2); });
    HWND h = w.Hwnd();
    // Served while the owner pumps.
    std::atomic<LRESULT> result{-1};
    HANDLE t = CreateThread([&] {
        result = SendMessageW(h, WM_USER + 2, 21, 0);
        return DWORD{0};
    });
    ASSERT_TRUE(test::PumpUntil([&] { return result.load() != -1; }));
    EXPECT_EQ(result.load(), 42);
    EXPECT_EQ(w.ReceivedMessages().at(0).threadId, GetCurrentThreadId());
    WaitForSingleObject(t, 2000);
    CloseHandle(t);

    // Served while the owner waits for the sender itself to finish.
    result = -1;
    t = CreateThread([&] {
        result = SendMessageW(h, WM_USER + 2, 5, 0);
        return DWORD{0};
    });
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(result.load(), 10);
    CloseHandle(t);

    // A send on the owner thread is a direct call.
    EXPECT_EQ(SendMessageW(h, WM_USER + 2, 4, 0), 8);
}

TEST_F(Messages, TwoThreadsSendingToEachOtherDoNotDeadlock) {
    std::atomic<HWND> workerWnd{nullptr};
    std::atomic<bool> stop{false};
    HANDLE t = CreateThread([&] {
        TestWindow ww([](UINT, WPARAM wp, LPARAM) { return static_cast<LRESULT>(wp + 1); });
        workerWnd = ww.Hwnd();
        while (!stop)
            test::PumpUntil([&] { return stop.load(); }, 50);
        return DWORD{0};
    });
    ASSERT_TRUE(test::PumpUntil([&] { return workerWnd.load() != nullptr; }));
    // The main window's handler sends back to the worker while the worker waits for the main thread.
    TestWindow mw([&](UINT, WPARAM wp, LPARAM) { return SendMessageW(workerWnd.load(), WM_USER, wp, 0); });
    HWND mh = mw.Hwnd();
    std::atomic<LRESULT> r{-1};
    HANDLE t2 = CreateThread([&] {
        r = SendMessageW(mh, WM_USER, 41, 0);
        return DWORD{0};
    });
    ASSERT_TRUE(test::PumpUntil([&] { return r.load() != -1; }));
    EXPECT_EQ(r.load(), 42);
    stop = true;
    EXPECT_EQ(WaitForSingleObject(t, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(t2, 2000), WAIT_OBJECT_0);
    CloseHandle(t);
    CloseHandle(t2);
}

TEST_F(Messages, PendingSendReturnsZeroWhenTheWindowDies) {
    auto w = std::make_unique<TestWindow>([](UINT, WPARAM, LPARAM) { return LRESULT{99}; });
    HWND h = w->Hwnd();
    std::atomic<LRESULT> result{-1};
    HANDLE t = CreateThread([&] {
        result = SendMessageW(h, WM_USER, 0, 0);
        return DWORD{0};
    });
    ASSERT_TRUE(WaitForQueuedWork());
    w.reset(); // destroyed before the send was served
    EXPECT_EQ(WaitForSingleObject(t, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(result.load(), 0);
    CloseHandle(t);
    EXPECT_EQ(SendMessageW(h, WM_USER, 0, 0), 0);
}

TEST_F(Messages, DeadWindowsRefusePostsAndTheirHandlesAreNeverReused) {
    auto w1 = std::make_unique<TestWindow>();
    HWND h1 = w1->Hwnd();
    EXPECT_TRUE(PostMessageW(h1, WM_USER + 3, 1, 0)); // queued, then the window dies
    w1.reset();
    EXPECT_FALSE(IsWindow(h1));
    EXPECT_FALSE(PostMessageW(h1, WM_USER + 3, 2, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    TestWindow w2;
    EXPECT_NE(w2.Hwnd(), h1);
    test::PumpUntilIdle(5);
    EXPECT_EQ(w2.Count(WM_USER + 3), 0);
    EXPECT_FALSE(PostMessageW(nullptr, 0, 0, 0) == FALSE); // a null window posts to this thread
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x12345), WM_USER, 0, 0));

    // A window may destroy itself from its own procedure; later posts fail.
    TestWindow w3;
    HWND h3 = w3.Hwnd();
    w3.SetHandler([h3](UINT msg, WPARAM, LPARAM) {
        if (msg == WM_USER + 4)
            DestroyWindow(h3);
        return LRESULT{0};
    });
    PostMessageW(h3, WM_USER + 4, 0, 0);
    PostMessageW(h3, WM_USER + 5, 0, 0);
    test::PumpUntilIdle(5);
    EXPECT_FALSE(IsWindow(h3));
    EXPECT_EQ(w3.Count(WM_USER + 5), 0);
    EXPECT_FALSE(PostMessageW(h3, WM_USER, 0, 0));

    // Only the owner thread may destroy a window.
    TestWindow w4;
    HWND h4 = w4.Hwnd();
    std::atomic<BOOL> destroyed{TRUE};
    HANDLE t = CreateThread([&] {
        destroyed = DestroyWindow(h4);
        return DWORD{0};
    });
    WaitForSingleObject(t, 2000);
    CloseHandle(t);
    EXPECT_FALSE(destroyed.load());
    EXPECT_TRUE(IsWindow(h4));
}

TEST_F(Messages, WindowLongsAndCreationFailure) {
    TestWindow w;
    HWND h = w.Hwnd();
    LONG_PTR old = SetWindowLongPtrW(h, GWL_USERDATA, 1234);
    EXPECT_EQ(old, reinterpret_cast<LONG_PTR>(&w));
    EXPECT_EQ(GetWindowLongPtrW(h, GWL_USERDATA), 1234);
    SetWindowLongPtrW(h, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&w));
    EXPECT_NE(GetWindowLongPtrW(h, GWL_WNDPROC), 0);
    EXPECT_EQ(GetWindowThreadProcessId(h, nullptr), GetCurrentThreadId());

    test::FailNext("CreateWindowExW");
    TestWindow failed;
    EXPECT_EQ(failed.Hwnd(), nullptr);
    TestWindow ok;
    EXPECT_NE(ok.Hwnd(), nullptr);
    auto calls = test::Calls("CreateWindowExW");
    ASSERT_GE(calls.size(), 2u);
    EXPECT_NE(calls.back().find("class=Message name=WindowForMessage"), std::string::npos);
    EXPECT_EQ(CreateWindowExW(0, u"Button", u"x", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(Messages, AThreadsWindowsDieWithIt) {
    std::atomic<HWND> h{nullptr};
    HANDLE t = CreateThread([&] {
        h = CreateWindowExW(0, u"Message", u"WindowForMessage", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        return DWORD{0};
    });
    ASSERT_EQ(WaitForSingleObject(t, 2000), WAIT_OBJECT_0);
    CloseHandle(t);
    ASSERT_NE(h.load(), nullptr);
    EXPECT_FALSE(IsWindow(h.load()));
    EXPECT_FALSE(PostMessageW(h.load(), WM_USER, 0, 0));
    EXPECT_EQ(SendMessageW(h.load(), WM_USER, 0, 0), 0);
}

TEST_F(Messages, TimersFireByIdAndKillDropsQueuedTicks) {
    TestWindow w;
    HWND h = w.Hwnd();
    EXPECT_EQ(SetTimer(h, 1, 5, nullptr), 1u);
    EXPECT_EQ(SetTimer(h, 2, 60000, nullptr), 2u);
    ASSERT_TRUE(test::PumpUntil([&] { return w.Count(WM_TIMER) >= 3; }));
    for (auto& r : w.ReceivedMessages())
        EXPECT_EQ(r.wParam, 1u); // the long timer has not fired
    EXPECT_TRUE(KillTimer(h, 1));
    EXPECT_FALSE(KillTimer(h, 1));

    // Ticks never pile up, and a kill drops the one waiting.
    SetTimer(h, 3, 1, nullptr);
    ASSERT_TRUE(WaitForQueuedWork());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    MSG m;
    int waiting = 0;
    while (PeekMessageW(&m, h, WM_TIMER, WM_TIMER, PM_REMOVE))
        ++waiting;
    EXPECT_EQ(waiting, 1);
    ASSERT_TRUE(WaitForQueuedWork()); // the next tick
    int before = w.Count(WM_TIMER);
    KillTimer(h, 3);
    test::PumpUntilIdle(10);
    EXPECT_EQ(w.Count(WM_TIMER), before);

    // The clock can be sped up or moved on, and timers follow it.
    test::SetTimeScale(1000);
    auto start = std::chrono::steady_clock::now();
    SetTimer(h, 4, 10000, nullptr);
    ASSERT_TRUE(test::PumpUntil([&] { return w.Count(WM_TIMER) > before; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    KillTimer(h, 4);
    test::SetTimeScale(1);
    before = w.Count(WM_TIMER);
    SetTimer(h, 5, 3600000, nullptr);
    test::AdvanceClock(3600000);
    ASSERT_TRUE(test::PumpUntil([&] { return w.Count(WM_TIMER) > before; }));
    EXPECT_EQ(w.ReceivedMessages().back().wParam, 5u);

    // A dead window's timers go with it; SetTimer can be made to fail.
    EXPECT_EQ(test::TimerCount(h), 2); // ids 2 and 5
    test::FailNext("SetTimer");
    EXPECT_EQ(SetTimer(h, 6, 10, nullptr), 0u);
    EXPECT_EQ(SetTimer(nullptr, 6, 10, nullptr), 0u);
}

TEST_F(Messages, ATimerDueSoonerThanTheOthersFiresOnTimeHoweverOftenTheyRestart) {
    TestWindow w;
    HWND h = w.Hwnd();
    // Only far-off timers: the timer thread sleeps for an hour.
    SetTimer(h, 1, 3600000, nullptr);
    test::PumpUntilIdle(10, 200);
    auto start = std::chrono::steady_clock::now();
    SetTimer(h, 2, 20, nullptr);
    ASSERT_TRUE(test::PumpUntil([&] { return w.Count(WM_TIMER) > 0; }, 5000)) << "a sooner timer was not seen";
    EXPECT_EQ(w.ReceivedMessages().back().wParam, 2u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    KillTimer(h, 2);

    // Restarting the far-off one again and again (as a request time-out is, once per packet) neither fires
    // it nor holds back a short one set among the restarts.
    test::PumpUntilIdle(10, 200);
    const int before = w.Count(WM_TIMER);
    for (int i = 0; i < 200; ++i) {
        SetTimer(h, 1, 3600000, nullptr);
        if (i == 100)
            SetTimer(h, 3, 20, nullptr);
    }
    ASSERT_TRUE(test::PumpUntil([&] { return w.Count(WM_TIMER) > before; }, 5000));
    EXPECT_EQ(w.ReceivedMessages().back().wParam, 3u);
    KillTimer(h, 3);
    test::PumpUntilIdle(10, 200);
    for (auto& r : w.ReceivedMessages())
        EXPECT_NE(r.wParam, 1u);
}

TEST_F(Messages, MsgWaitWakesForMessagesAndHandles) {
    HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 10, QS_ALLINPUT), WAIT_TIMEOUT);
    PostMessageW(nullptr, WM_USER, 0, 0);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
    MSG m;
    ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, WM_USER);
    SetEvent(e);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, INFINITE, QS_ALLINPUT), WAIT_OBJECT_0);
    CloseHandle(e);
    PostQuitMessage(3);
    EXPECT_EQ(GetMessageW(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.wParam, 3u);
}

TEST_F(Messages, DeviceBroadcastsReachRegisteredWindowsOnTheirThread) {
    const GUID mine{0x0850302A, 0xB344, 0x4FDA, {0x9B, 0xE9, 0x90, 0x57, 0x6B, 0x8D, 0x46, 0xF0}};
    const GUID other{0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    GUID seen{};
    DWORD seenThread = 0;
    TestWindow w([&](UINT msg, WPARAM, LPARAM lp) {
        if (msg == WM_DEVICECHANGE && lp) {
            std::memcpy(&seen, reinterpret_cast<const BYTE*>(lp) + 12, sizeof seen);
            seenThread = GetCurrentThreadId();
        }
        return LRESULT{1};
    });
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = mine;
    HDEVNOTIFY n = RegisterDeviceNotificationW(w.Hwnd(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(n, nullptr);

    std::atomic<int> reached{-1};
    auto broadcastFromWorker = [&](GUID g) {
        reached = -1;
        HANDLE t = CreateThread([&, g] {
            DEV_BROADCAST_DEVICEINTERFACE_W rec{};
            rec.dbcc_size = sizeof rec;
            rec.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            rec.dbcc_classguid = g;
            reached = BroadcastDeviceChange(DBT_DEVICEARRIVAL, &rec, sizeof rec);
            return DWORD{0};
        });
        EXPECT_TRUE(test::PumpUntil([&] { return reached.load() != -1; }));
        WaitForSingleObject(t, 2000);
        CloseHandle(t);
    };
    broadcastFromWorker(mine);
    EXPECT_EQ(reached.load(), 1);
    EXPECT_TRUE(seen == mine);
    EXPECT_EQ(seenThread, GetCurrentThreadId());
    broadcastFromWorker(other);
    EXPECT_EQ(reached.load(), 0);
    EXPECT_EQ(w.Count(WM_DEVICECHANGE), 1);

    EXPECT_TRUE(UnregisterDeviceNotification(n));
    EXPECT_FALSE(UnregisterDeviceNotification(n));
    broadcastFromWorker(mine);
    EXPECT_EQ(reached.load(), 0);

    filter.dbcc_devicetype = DBT_DEVTYP_HANDLE; // a filter that is no interface record
    EXPECT_EQ(RegisterDeviceNotificationW(w.Hwnd(), &filter, 0), nullptr);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    test::FailNext("RegisterDeviceNotificationW");
    EXPECT_EQ(RegisterDeviceNotificationW(w.Hwnd(), &filter, 0), nullptr);
    ASSERT_NE(RegisterDeviceNotificationW(w.Hwnd(), &filter, 0), nullptr);
    EXPECT_EQ(test::DeviceNotificationCount(w.Hwnd()), 1);
}
