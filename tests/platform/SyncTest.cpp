#include "win32/Testing.h"
#include "win32/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

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
