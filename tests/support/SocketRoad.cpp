#include "SocketRoad.h"

#include "vyrConnections.h"
#include "vyrErrors.h"
#include "win32/Kernel.h"
#include "win32/WinBase.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tavtest {

namespace {

std::mutex openerLock;
LinkOpener currentOpener;
std::atomic<long long> bytesWritten{0};

class SocketRoad : public vyr::TvyrTransportRoad {
public:
    explicit SocketRoad(vyr::TvyrCustomClientConnection& c) : vyr::TvyrTransportRoad(c) {}
    ~SocketRoad() override { Close(); }

    int Open() override {
        LinkOpener opener;
        {
            std::lock_guard<std::mutex> guard(openerLock);
            opener = currentOpener;
        }
        fd_ = opener ? opener() : -1;
        if (fd_ < 0)
            return vyr::VYR_UNABLE_CONNECT;
        int fd = fd_;
        int result = StartWorker([this, fd](win::HANDLE terminate) { Reader(fd, terminate); });
        if (result != vyr::VYR_SUCCESS)
            return result;
        PostConnectResult(vyr::VYR_SUCCESS);
        return vyr::VYR_SUCCESS;
    }

    void Close() override {
        if (fd_ < 0)
            return;
        StopWorker();
        ::close(fd_);
        fd_ = -1;
    }

    int Write(const void* buffer, win::DWORD size) override {
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
            bytesWritten += n;
        }
        return vyr::VYR_SUCCESS;
    }

private:
    void Reader(int fd, win::HANDLE terminate) {
        char buf[65536];
        while (win::WaitForSingleObject(terminate, 0) != win::WAIT_OBJECT_0) {
            pollfd pfd{fd, POLLIN, 0};
            int ready = ::poll(&pfd, 1, 10);
            if (ready <= 0)
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

    int fd_ = -1;
};

} // namespace

SocketRoads::SocketRoads(LinkOpener opener) {
    SetOpener(std::move(opener));
    vyr::SetTransportRoadFactory(
        [](vyr::TvyrCustomClientConnection& c, vyr::TvyrRoadKind) { return std::make_unique<SocketRoad>(c); });
    api_.Load();
}

SocketRoads::~SocketRoads() {
    api_.Unload();
    vyr::SetTransportRoadFactory({});
    SetOpener({});
}

void SocketRoads::SetOpener(LinkOpener opener) {
    std::lock_guard<std::mutex> guard(openerLock);
    currentOpener = std::move(opener);
}

long long SocketRoads::BytesWritten() const {
    return bytesWritten.load();
}

int ConnectTcp(int port, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
            return fd;
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    return -1;
}

} // namespace tavtest
