// Choosing a client connection's road, and the helpers through which a road reports to its connection.
#include "vyrTransportRoad.h"

#include "vyrAPI.h"
#include "vyrBackend.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrMessages.h"
#include "vyrRoads.h"
#include "win32/WinUser.h"

#include <array>

namespace vyr {

namespace {

constexpr std::size_t RoadKindCount = 6;

// The roads of this build. A road unit adds its creator here.
TvyrRoadCreator DefaultRoadCreator(TvyrRoadKind kind) {
    switch (kind) {
    case TvyrRoadKind::Microsoft:
        return CreateMicrosoftRoad;
    case TvyrRoadKind::IrDA:
        return CreateIrDARoad;
    case TvyrRoadKind::Serial:
        return CreateSerialRoad;
    case TvyrRoadKind::WidComm:
        return CreateWidCommRoad;
    case TvyrRoadKind::BlueSoleil:
        return CreateBlueSoleilRoad;
    case TvyrRoadKind::Toshiba:
        return CreateToshibaRoad;
    }
    return {};
}

std::array<TvyrRoadCreator, RoadKindCount>& Creators() {
    static std::array<TvyrRoadCreator, RoadKindCount> creators = [] {
        std::array<TvyrRoadCreator, RoadKindCount> c;
        for (std::size_t i = 0; i < RoadKindCount; ++i)
            c[i] = DefaultRoadCreator(static_cast<TvyrRoadKind>(i));
        return c;
    }();
    return creators;
}

TvyrRoadFactory& Factory() {
    static TvyrRoadFactory factory;
    return factory;
}

} // namespace

TvyrRoadCreator& RoadCreator(TvyrRoadKind kind) {
    return Creators().at(static_cast<std::size_t>(kind));
}

void SetTransportRoadFactory(TvyrRoadFactory factory) {
    Factory() = std::move(factory);
}

int CreateTransportRoad(TvyrCustomClientConnection& connection, std::unique_ptr<TvyrTransportRoad>& road) {
    road.reset();
    TvyrRoadKind kind;
    switch (connection.Transport()) {
    case ctBluetooth: {
        const TvyrBluetoothRadio* radio = connection.BluetoothParams()->Radio();
        if (!radio || !IsApiAvailable(radio->Api()))
            return VYR_BLUETOOTH_API_NOT_AVAILABLE;
        // A radio's stack names its road through its backend.
        const TvyrBluetoothBackend* backend = BluetoothBackend(radio->Api());
        if (!backend)
            return VYR_BLUETOOTH_API_NOT_AVAILABLE;
        kind = backend->RoadKind();
        break;
    }
    case ctIrDA:
        kind = TvyrRoadKind::IrDA;
        break;
    case ctSerial:
        kind = TvyrRoadKind::Serial;
        break;
    default:
        return VYR_TRANSPORT_NOT_AVAILABLE;
    }
    if (Factory())
        road = Factory()(connection, kind);
    else if (const TvyrRoadCreator& create = RoadCreator(kind))
        road = create(connection);
    return road ? VYR_SUCCESS : VYR_NOT_IMPLEMENTED;
}

// ---- TvyrTransportRoad ----

bool TvyrTransportRoad::HandleMessage(win::UINT, win::WPARAM, win::LPARAM) {
    return false;
}

bool TvyrTransportRoad::DeferLinkLost() {
    return false;
}

bool TvyrTransportRoad::EndAfterDelivery() {
    return false;
}

bool TvyrTransportRoad::InnerEndsAfterDelivery(TvyrCustomClientConnection& inner) {
    return inner.IsConnected() && inner.road_ && inner.road_->EndAfterDelivery();
}

win::HWND TvyrTransportRoad::Window() const {
    return connection_.Window();
}

void TvyrTransportRoad::PostConnectResult(int code) const {
    win::PostMessageW(Window(), WM_CONNECT_RESULT, static_cast<win::WPARAM>(static_cast<win::INT_PTR>(code)), 0);
}

void TvyrTransportRoad::PostLinkLost() const {
    win::PostMessageW(Window(), WM_LINK_LOST, 0, 0);
}

void TvyrTransportRoad::PostData(const void* buffer, win::DWORD size) const {
    if (!connection_.IsConnected() || !buffer || size == 0)
        return;
    // One delivery message at a time: bytes that come while one is pending ride on it.
    if (connection_.AppendData(buffer, size))
        win::PostMessageW(Window(), WM_DATA_PENDING, 0, 0);
}

bool TvyrTransportRoad::IsConnected() const {
    return connection_.IsConnected();
}

int TvyrTransportRoad::StartWorker(std::function<void(win::HANDLE terminate)> routine) const {
    return connection_.StartWorker(std::move(routine));
}

void TvyrTransportRoad::StopWorker() const {
    connection_.StopWorker();
}

bool TvyrTransportRoad::ArmConnectTimer() const {
    return connection_.ArmConnectTimer();
}

void TvyrTransportRoad::KillConnectTimer() const {
    connection_.KillConnectTimer();
}

bool TvyrTransportRoad::ArmLinkTimer() const {
    return connection_.ArmLinkTimer();
}

void TvyrTransportRoad::KillLinkTimer() const {
    connection_.KillLinkTimer();
}

bool TvyrTransportRoad::LinkTimerArmed() const {
    return connection_.LinkTimerArmed();
}

} // namespace vyr
