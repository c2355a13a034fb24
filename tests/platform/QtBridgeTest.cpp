#include "TestWindow.h"
#include "qt/MessageBridge.h"
#include "sim/win32/Queues.h"
#include "sim/win32/Testing.h"
#include "win32/Kernel.h"
#include "win32/Sockets.h"
#include "win32/Windows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

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

// A socket selected to a window of the Qt thread: notices come from Qt's own loop, one until the next
// read, and its notifier goes with the selection.
TEST(QtBridge, SelectedSocketNoticesComeFromQtsLoopOneUntilTheNextRead) {
    App();
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    constexpr UINT kNotice = WM_USER + 7;
    std::string got;
    int notices = 0;
    TestWindow w([&](UINT msg, WPARAM wp, LPARAM lp) {
        if (msg != kNotice)
            return LRESULT{0};
        ++notices;
        EXPECT_EQ(static_cast<int>(wp), pair[0]);
        EXPECT_EQ(lp, FD_READ);
        if (got.size() < 3) {
            char c;
            if (::recv(pair[0], &c, 1, 0) == 1)
                got += c;
            RearmSocketWatch(pair[0]);
            // The next byte only now: each one must raise a notice of its own.
            if (got.size() < 3)
                EXPECT_EQ(::send(pair[1], "abc" + got.size(), 1, 0), 1);
            else
                ::send(pair[1], "z", 1, 0); // left unread: no more notices for it
        }
        return LRESULT{0};
    });
    ASSERT_EQ(WatchSocket(pair[0], w.Hwnd(), kNotice, FD_READ | FD_CLOSE), 0);
    ASSERT_EQ(::send(pair[1], "a", 1, 0), 1);
    QElapsedTimer clock;
    clock.start();
    while (got.size() < 3 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(got, "abc");
    clock.restart();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(notices, 4); // three read, one for the unread "z"
    auto selected = QueueSelectedSockets();
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_FALSE(selected[0].second);

    // A notice found by a wait of ours (not Qt's) still reaches the window once Qt's loop runs again.
    char c;
    while (::recv(pair[0], &c, 1, 0) == 1) {
    }
    RearmSocketWatch(pair[0]);
    ASSERT_EQ(::send(pair[1], "w", 1, 0), 1);
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(never, 100), WAIT_TIMEOUT);
    CloseHandle(never);
    EXPECT_FALSE(QueueSelectedSockets().at(0).second); // taken by that wait
    clock.restart();
    while (notices < 5 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(notices, 5);

    ASSERT_EQ(WatchSocket(pair[0], nullptr, 0, 0), 0);
    EXPECT_TRUE(QueueSelectedSockets().empty());
    ::close(pair[0]);
    ::close(pair[1]);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(notices, 5);
}
