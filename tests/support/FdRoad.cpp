#include "FdRoad.h"

#include "vyrErrors.h"
#include "win32/WinBase.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavtest {

int FdRoad::Attach(int fd) {
    fd_ = fd;
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_ < 0)
        return vyr::VYR_OUT_OF_RESOURCES;
    const int stop = stop_;
    const int result = StartWorker([this, fd, stop](win::HANDLE terminate) { Reader(fd, stop, terminate); });
    if (result != vyr::VYR_SUCCESS)
        return result;
    PostConnectResult(vyr::VYR_SUCCESS);
    return vyr::VYR_SUCCESS;
}

void FdRoad::Close() {
    if (fd_ < 0)
        return;
    // Wakes the reader at once; the connection's terminate event alone would wait out its poll.
    if (stop_ >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
    }
    StopWorker();
    ::close(fd_);
    fd_ = -1;
    if (stop_ >= 0)
        ::close(stop_);
    stop_ = -1;
}

int FdRoad::Write(const void* buffer, win::DWORD size) {
    auto* p = static_cast<const char*>(buffer);
    win::DWORD left = size;
    while (left > 0) {
        ssize_t n = ::send(fd_, p, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd_, POLLOUT, 0};
            if (::poll(&pfd, 1, 30000) <= 0)
                return vyr::VYR_INTERNAL_ERROR;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return vyr::VYR_INTERNAL_ERROR;
        p += n;
        left -= static_cast<win::DWORD>(n);
        if (writeCounter_)
            *writeCounter_ += n;
    }
    return vyr::VYR_SUCCESS;
}

void FdRoad::Reader(int fd, int stop, win::HANDLE terminate) {
    char buf[65536];
    while (win::WaitForSingleObject(terminate, 0) != win::WAIT_OBJECT_0) {
        pollfd pfd[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
        if (::poll(pfd, 2, 100) <= 0 || !(pfd[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            PostLinkLost();
            return;
        }
        PostData(buf, static_cast<win::DWORD>(n));
    }
}

} // namespace tavtest
