#include "stopsignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <ibase.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Signal handlers and the engine's shutdown thread only write a byte here; the event
// loop reads it and does the work.
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
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd = fds[0]] {
        char buffer[64];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
        if (*stopAction)
            (*stopAction)();
    });
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
