#include "PhoneRoads.h"

#include "sim/air/Air.h"
#include "sim/air/ObexLink.h"
#include "vcl/SysUtils.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrTransportRoad.h"
#include "win32/Kernel.h"
#include "win32/WinBase.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavtest {

namespace {

class PhoneRoad : public vyr::TvyrTransportRoad {
public:
    explicit PhoneRoad(vyr::TvyrCustomClientConnection& c) : vyr::TvyrTransportRoad(c) {}
    ~PhoneRoad() override { Close(); }

    int Open() override {
        auto* params = Connection().BluetoothParams();
        auto address = air::AddressFromText(vcl::Utf16ToUtf8(params->Address()));
        const int stack = params->Radio() ? params->Radio()->Api() : 0;
        if (!address)
            return vyr::VYR_INVALID_ARGUMENT;
        fd_ = air::ConnectRfcomm(stack, *address, params->Channel());
        if (fd_ < 0 && errno == EACCES && params->Authentication() &&
            air::Air::Instance().Pair(stack, *address, "0000") == air::PairResult::Paired)
            fd_ = air::ConnectRfcomm(stack, *address, params->Channel());
        if (fd_ < 0) {
            // Reported later, as a stack reports a failed page.
            switch (errno) {
            case EACCES:
                PostConnectResult(vyr::VYR_ACCESS_DENIED);
                break;
            case ECONNREFUSED:
                PostConnectResult(vyr::VYR_CONNECTION_REJECTED);
                break;
            case EHOSTUNREACH:
                PostConnectResult(vyr::VYR_TIMEOUT);
                break;
            default:
                PostConnectResult(vyr::VYR_UNABLE_CONNECT);
            }
            return vyr::VYR_SUCCESS;
        }
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
        }
        return vyr::VYR_SUCCESS;
    }

private:
    void Reader(int fd, win::HANDLE terminate) {
        char buf[65536];
        while (win::WaitForSingleObject(terminate, 0) != win::WAIT_OBJECT_0) {
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, 10) <= 0)
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

PhoneRoads::PhoneRoads() {
    vyr::SetTransportRoadFactory(
        [](vyr::TvyrCustomClientConnection& c, vyr::TvyrRoadKind) { return std::make_unique<PhoneRoad>(c); });
    api_.Load();
}

PhoneRoads::~PhoneRoads() {
    api_.Unload();
    vyr::SetTransportRoadFactory({});
    air::StopObexLinks();
}

} // namespace tavtest
