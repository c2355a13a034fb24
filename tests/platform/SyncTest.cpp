#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace win;

TEST(Sync, EventsAndWaits) {
    test::Reset();
    HANDLE autoEv = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_TIMEOUT);
    SetEvent(autoEv);
    EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_TIMEOUT); // consumed
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0); // stays set
    HANDLE both[2] = {autoEv, manual};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 5), WAIT_TIMEOUT);
    SetEvent(autoEv);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    // A worker's signal wakes a waiter; thread handles are signalled when the routine returns.
    HANDLE t = CreateThread([autoEv] {
        Sleep(5);
        SetEvent(autoEv);
        return DWORD{3};
    });
    EXPECT_EQ(WaitForSingleObject(autoEv, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 3u);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x999), 0), WAIT_FAILED);
    for (HANDLE h : {autoEv, manual, t})
        EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_FAILED);

    // Suspended start and a thread routine in the Windows form.
    static std::atomic<int> ran{0};
    static int nine = 9;
    ran = 0;
    DWORD tid = 0;
    t = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            ran = *static_cast<int*>(p);
            return GetCurrentThreadId();
        },
        &nine, CREATE_SUSPENDED, &tid);
    EXPECT_EQ(WaitForSingleObject(t, 10), WAIT_TIMEOUT);
    EXPECT_EQ(ran.load(), 0);
    ResumeThread(t);
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, tid);
    EXPECT_EQ(ran.load(), 9);
    CloseHandle(t);
}

TEST(Sync, CriticalSectionIsRecursiveAndExclusive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs); // the holder may enter again
    std::atomic<int> other{-1};
    HANDLE t = CreateThread([&] {
        other = TryEnterCriticalSection(&cs);
        return DWORD{0};
    });
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
    EXPECT_EQ(other.load(), FALSE);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    t = CreateThread([&] {
        other = TryEnterCriticalSection(&cs);
        if (other)
            LeaveCriticalSection(&cs);
        return DWORD{0};
    });
    WaitForSingleObject(t, 5000);
    CloseHandle(t);
    EXPECT_EQ(other.load(), TRUE);
    DeleteCriticalSection(&cs);

    volatile LONG n = 0;
    EXPECT_EQ(InterlockedIncrement(&n), 1);
    EXPECT_EQ(InterlockedDecrement(&n), 0);
    EXPECT_EQ(InterlockedExchange(&n, 5), 0);
    EXPECT_EQ(InterlockedCompareExchange(&n, 7, 4), 5);
    EXPECT_EQ(InterlockedCompareExchange(&n, 7, 5), 5);
    EXPECT_EQ(n, 7);
}

TEST(Sync, ClockScaleSpeedsSleepsAndWaits) {
    test::Reset();
    test::SetTimeScale(100);
    auto real = std::chrono::steady_clock::now();
    DWORD t0 = GetTickCount();
    Sleep(2000);
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 2000), WAIT_TIMEOUT);
    CloseHandle(e);
    EXPECT_GE(GetTickCount() - t0, 4000u);
    EXPECT_LT(std::chrono::steady_clock::now() - real, std::chrono::milliseconds(1000));
    test::Reset();
    EXPECT_EQ(test::TimeScale(), 1.0);
    DWORD t1 = GetTickCount();
    test::AdvanceClock(60000);
    EXPECT_GE(GetTickCount() - t1, 60000u);
}

// Each wait is woken only by what concerns it, so every way in must still reach it: a jump of the clock,
// any one of several objects, a post or a send to a thread that waits on an object.
TEST(Sync, EveryWakeReachesTheWaitsItConcerns) {
    test::Reset();
    auto real = std::chrono::steady_clock::now();
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> finished{0};
    std::atomic<DWORD> waitResult{0}, msgWaitResult{0};
    HANDLE sleeper = CreateThread([&] {
        Sleep(600000);
        ++finished;
        return DWORD{0};
    });
    HANDLE waiter = CreateThread([&] {
        waitResult = WaitForSingleObject(never, 600000);
        ++finished;
        return DWORD{0};
    });
    HANDLE pumper = CreateThread([&] {
        msgWaitResult = MsgWaitForMultipleObjects(1, &never, FALSE, 600000, QS_ALLINPUT);
        ++finished;
        return DWORD{0};
    });
    // The threads may not be waiting yet when the clock jumps; keep jumping until all three are done.
    for (int i = 0; i < 2000 && finished < 3; ++i) {
        test::AdvanceClock(700000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(finished.load(), 3);
    EXPECT_EQ(waitResult.load(), WAIT_TIMEOUT);
    EXPECT_EQ(msgWaitResult.load(), WAIT_TIMEOUT);
    HANDLE threads[3] = {sleeper, waiter, pumper};
    EXPECT_EQ(WaitForMultipleObjects(3, threads, TRUE, 5000), WAIT_OBJECT_0);
    for (HANDLE h : threads)
        CloseHandle(h);

    // Wait-any and wait-all over events set one by one from another thread.
    HANDLE a = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE b = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE ab[2] = {a, b};
    HANDLE setter = CreateThread([&] {
        Sleep(2);
        SetEvent(b);
        return DWORD{0};
    });
    EXPECT_EQ(WaitForMultipleObjects(2, ab, FALSE, 5000), WAIT_OBJECT_0 + 1);
    WaitForSingleObject(setter, 5000);
    CloseHandle(setter);
    setter = CreateThread([&] {
        SetEvent(a);
        Sleep(2);
        SetEvent(b);
        return DWORD{0};
    });
    EXPECT_EQ(WaitForMultipleObjects(2, ab, TRUE, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, ab, FALSE, 0), WAIT_TIMEOUT); // both auto-reset events consumed
    WaitForSingleObject(setter, 5000);
    CloseHandle(setter);

    // A thread with a window, blocked on an event, still serves sends; a post ends its message wait.
    std::atomic<HWND> hwnd{nullptr};
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE owner = CreateThread([&] {
        HWND h = CreateWindowExW(0, u"Message", u"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
                              return m == WM_USER ? static_cast<LRESULT>(w * 2) : 0;
                          }));
        hwnd = h;
        WaitForSingleObject(go, INFINITE);
        DWORD r = MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
        MSG m;
        PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);
        DestroyWindow(h);
        return r == WAIT_OBJECT_0 && m.message == WM_USER + 1 ? DWORD{7} : DWORD{1};
    });
    for (int i = 0; i < 5000 && !hwnd; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_NE(hwnd.load(), nullptr);
    EXPECT_EQ(SendMessageW(hwnd, WM_USER, 21, 0), 42);
    SetEvent(go);
    EXPECT_TRUE(PostMessageW(hwnd, WM_USER + 1, 0, 0));
    EXPECT_EQ(WaitForSingleObject(owner, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(owner, &code);
    EXPECT_EQ(code, 7u);
    for (HANDLE h : {never, a, b, go, owner})
        CloseHandle(h);
    EXPECT_LT(std::chrono::steady_clock::now() - real, std::chrono::seconds(5));
    test::Reset();
}
