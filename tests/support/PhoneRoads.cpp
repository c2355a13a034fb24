#include "PhoneRoads.h"

#include "FdRoad.h"

#include "sim/air/Air.h"
#include "sim/air/ObexLink.h"
#include "vcl/SysUtils.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrTransportRoad.h"
#include "win32/Kernel.h"
#include "win32/WinBase.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavtest {

namespace {

class PhoneRoad : public FdRoad {
public:
    explicit PhoneRoad(vyr::TvyrCustomClientConnection& c) : FdRoad(c) {}

    int Open() override {
        auto* params = Connection().BluetoothParams();
        auto address = air::AddressFromText(vcl::Utf16ToUtf8(params->Address()));
        const int stack = params->Radio() ? params->Radio()->Api() : 0;
        if (!address)
            return vyr::VYR_INVALID_ARGUMENT;
        int fd = air::ConnectRfcomm(stack, *address, params->Channel());
        if (fd < 0 && errno == EACCES && params->Authentication() &&
            air::Air::Instance().Pair(stack, *address, "0000") == air::PairResult::Paired)
            fd = air::ConnectRfcomm(stack, *address, params->Channel());
        if (fd < 0) {
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
        return Attach(fd);
    }
};

} // namespace

PhoneRoads::PhoneRoads() {
    // A stack whose own road is built goes through it (and so through its stack module to the air); the
    // phone road only fills in for the roads this build does not have.
    vyr::SetTransportRoadFactory(
        [](vyr::TvyrCustomClientConnection& c, vyr::TvyrRoadKind kind) -> std::unique_ptr<vyr::TvyrTransportRoad> {
            if (const vyr::TvyrRoadCreator& create = vyr::RoadCreator(kind))
                return create(c);
            return std::make_unique<PhoneRoad>(c);
        });
    api_.Load();
}

PhoneRoads::~PhoneRoads() {
    api_.Unload();
    vyr::SetTransportRoadFactory({});
    air::StopObexLinks();
}

} // namespace tavtest
