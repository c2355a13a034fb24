#include "stopsignal.h"

#include <QCoreApplication>

#include "ibx/IBCallBound.h"

#include <ibase.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// Signal handlers and the engine's shutdown thread only write a byte here; a thread reads it
// and passes it on to the event loop, which does the work.
std::atomic<int> wakeFd{-1};
std::function<void()>* stopAction = nullptr;

void Wake() {
    const int fd = wakeFd.load();
    if (fd < 0)
        return;
    const char byte = 1;
    // A full pipe already holds a pending stop.
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
}

void OnSignal(int) {
    const int saved = errno;
    Wake();
    errno = saved;
}

int OnEngineShutdown(const int reason, const int, void*) {
    if (reason != fb_shutrsn_signal)
        return 0;
    Wake();
    // Non-zero keeps the engine and its connections alive.
    return 1;
}

} // namespace

void StopOnTerminationSignals(std::function<void()> stop) {
    if (!stopAction) {
        stopAction = new std::function<void()>(std::move(stop));
    } else {
        *stopAction = std::move(stop);
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    // A signal handler must never block on a full pipe; the thread does wait on it.
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    // The event loop may be inside a database call that waits on a server gone silent: a thread
    // of its own shortens such calls' bound at once, then hands the stop to the event loop.
    std::thread([fd = fds[0]] {
        char buffer[64];
        while (true) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            ibx::TIBCallBound::ProcessEnding();
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app,
                    [] {
                        if (*stopAction)
                            (*stopAction)();
                    },
                    Qt::QueuedConnection);
        }
    }).detach();
    wakeFd.store(fds[1]);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    // The engine installs handlers of its own once it runs and asks before it acts on them.
    ISC_STATUS_ARRAY status{};
    fb_shutdown_callback(status, OnEngineShutdown, fb_shut_confirmation, nullptr);
}
