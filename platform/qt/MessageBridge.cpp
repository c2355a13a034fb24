#include "qt/MessageBridge.h"

#include "win32/Kernel.h"
#include "win32/Windows.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <sys/eventfd.h>
#include <unistd.h>

namespace win {
namespace {
thread_local MessageBridge* tl_bridge = nullptr;
}

MessageBridge::MessageBridge(QObject* parent) : QObject(parent) {
    fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) {
        std::perror("eventfd");
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MessageBridge::Activated);
    tl_bridge = this;
    SetQueueWakeFd(fd_); // wakes at once if something is already waiting
}

MessageBridge::~MessageBridge() {
    if (tl_bridge == this) {
        SetQueueWakeFd(-1);
        tl_bridge = nullptr;
    }
    for (auto& [fd, n] : sockets_)
        delete n;
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

MessageBridge* MessageBridge::Install() {
    if (!tl_bridge)
        new MessageBridge(QCoreApplication::instance());
    return tl_bridge;
}

void MessageBridge::Activated() {
    uint64_t count;
    while (::read(fd_, &count, sizeof count) > 0) {
    }
    Drain();
}

int MessageBridge::Drain(int limit) {
    int handled = 0;
    MSG m;
    // No exception may cross Qt's event loop: report it and go on with the next message.
    while (handled < limit) {
        try {
            if (!PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
                break;
            ++handled;
            if (m.message == WM_QUIT) {
                QCoreApplication::exit(static_cast<int>(m.wParam));
                continue;
            }
            DispatchMessageW(&m);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "message handler failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "message handler failed\n");
        }
    }
    if (handled >= limit && fd_ >= 0 && QueueHasWork()) {
        uint64_t one = 1;
        ssize_t n = ::write(fd_, &one, sizeof one);
        (void)n;
    }
    WatchSockets();
    return handled;
}

void MessageBridge::SocketReadable(int fd) {
    // Also when the socket already had its notice (found by a wait of ours meanwhile): that notice may
    // still be waiting, and the drain brings the notifiers in step.
    QueueSocketReadable(fd);
    Drain();
}

// A notifier for each selected socket, enabled while the socket waits for its notice; gone with the
// socket's selection, so no notifier outlives its descriptor for long.
void MessageBridge::WatchSockets() {
    const auto selected = QueueSelectedSockets();
    for (auto it = sockets_.begin(); it != sockets_.end();) {
        if (std::none_of(selected.begin(), selected.end(), [&](const auto& x) { return x.first == it->first; })) {
            delete it->second;
            it = sockets_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto [fd, armed] : selected) {
        auto& n = sockets_[fd];
        if (!n) {
            n = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            connect(n, &QSocketNotifier::activated, this, [this, fd] { SocketReadable(fd); });
        }
        if (n->isEnabled() != armed)
            n->setEnabled(armed);
    }
}

} // namespace win
