#include "SocketRoad.h"

#include "FdRoad.h"

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

class SocketRoad : public FdRoad {
public:
    explicit SocketRoad(vyr::TvyrCustomClientConnection& c) : FdRoad(c) { writeCounter_ = &bytesWritten; }

    int Open() override {
        LinkOpener opener;
        {
            std::lock_guard<std::mutex> guard(openerLock);
            opener = currentOpener;
        }
        const int fd = opener ? opener() : -1;
        if (fd < 0)
            return vyr::VYR_UNABLE_CONNECT;
        return Attach(fd);
    }
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
