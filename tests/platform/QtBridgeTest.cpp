#include "TestWindow.h"
#include "qt/MessageBridge.h"
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>

using namespace win;

namespace {
QCoreApplication* App() {
    static int argc = 1;
    static char name[] = "test_platform";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    MessageBridge::Install();
    return app;
}
} // namespace

TEST(QtBridge, WorkerPostsAndTimersAreHandledUnderExec) {
    App();
    test::Reset();
    TestWindow w;
    HWND h = w.Hwnd();
    w.SetHandler([&](UINT msg, WPARAM, LPARAM) {
        if (w.Count(WM_USER + 1) == 10 && w.Count(WM_TIMER) >= 2)
            QCoreApplication::exit(0);
        (void)msg;
        return LRESULT{0};
    });
    HANDLE t = CreateThread([h] {
        for (int i = 0; i < 10; ++i)
            PostMessageW(h, WM_USER + 1, i, 0);
        return DWORD{0};
    });
    SetTimer(h, 1, 5, nullptr);
    QTimer guard; // a local timer, so that no time-out outlives the test
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    KillTimer(h, 1);
    for (auto& r : w.ReceivedMessages())
        EXPECT_EQ(r.threadId, GetCurrentThreadId());
    WaitForSingleObject(t, 2000);
    CloseHandle(t);
}

TEST(QtBridge, SendFromWorkerIsServedByProcessEventsAndQuitEndsExec) {
    App();
    TestWindow w([](UINT, WPARAM wp, LPARAM) { return static_cast<LRESULT>(wp + 100); });
    HWND h = w.Hwnd();
    std::atomic<LRESULT> r{-1};
    HANDLE t = CreateThread([&] {
        r = SendMessageW(h, WM_USER, 1, 0);
        return DWORD{0};
    });
    QElapsedTimer clock;
    clock.start();
    while (r.load() == -1 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(r.load(), 101);
    WaitForSingleObject(t, 2000);
    CloseHandle(t);

    PostQuitMessage(4);
    QTimer guard; // a local timer, so that no time-out outlives the test
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 4);
}
