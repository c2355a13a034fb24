// The road a client connection reaches its peer by: one per transport and Bluetooth stack. The connection
// owns the state machine, the window, the timers and the data path; a road only opens, carries bytes and
// closes, and reports back through the helpers below, which post to the connection's window.
//
// A road's life: made by the factory inside Connect, Open() on the caller's thread (nonzero: Connect
// returns it and the road is dropped), later exactly one PostConnectResult (unless Close comes first),
// received bytes through PostData, a lost link through PostLinkLost, and Close() inside Disconnect,
// which must not return before every thread of the road has stopped touching the connection.
#pragma once

#include "win32/WinTypes.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace vyr {

class TvyrCustomClientConnection;

enum class TvyrRoadKind : std::uint8_t { BlueSoleil, Microsoft, Toshiba, WidComm, IrDA, Serial };

class TvyrTransportRoad {
public:
    explicit TvyrTransportRoad(TvyrCustomClientConnection& connection) : connection_(connection) {}
    virtual ~TvyrTransportRoad() = default;
    TvyrTransportRoad(const TvyrTransportRoad&) = delete;
    TvyrTransportRoad& operator=(const TvyrTransportRoad&) = delete;

    // Starts the attempt: 0, or a library code (the connection is then closed again, no event).
    virtual int Open() = 0;
    // Ends the link or the attempt, inside Disconnect; joins every worker of the road. Also called after
    // an Open that failed, so it must cope with a half-made start.
    virtual void Close() = 0;
    // Synchronous on the caller's thread: 0 when every byte was handed over, 2 otherwise.
    virtual int Write(const void* buffer, win::DWORD size) = 0;
    // Window messages the connection does not handle itself (a stack's own notices); true when taken.
    virtual bool HandleMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);
    // A lost link reached the established connection: true when the road reports it again itself, once the
    // bytes it received before are delivered; false lets the connection end at once.
    virtual bool DeferLinkLost();
    // The link is gone: report it through PostLinkLost, but only after every byte received up to now has
    // gone through PostData. False when this road cannot (the caller then reports the loss itself).
    virtual bool EndAfterDelivery();

    TvyrCustomClientConnection& Connection() const { return connection_; }

protected:
    // ---- For any thread ----
    win::HWND Window() const;
    void PostConnectResult(int code) const; // WM_CONNECT_RESULT
    void PostLinkLost() const;              // WM_LINK_LOST
    // Appends the bytes (dropped unless connected) and posts WM_DATA_PENDING.
    void PostData(const void* buffer, win::DWORD size) const;
    bool IsConnected() const;

    // ---- For the connection's own thread ----
    // The connection's single worker: StartWorker gives 0 or 1; StopWorker sets the terminate event and
    // joins. The routine gets the terminate event.
    int StartWorker(std::function<void(win::HANDLE terminate)> routine) const;
    void StopWorker() const;
    // ConnectTimer (id 1, ConnectTimeout ms) gives 43; LinkTimer (id 2, 1000 ms) gives a lost link.
    bool ArmConnectTimer() const;
    void KillConnectTimer() const;
    bool ArmLinkTimer() const;
    void KillLinkTimer() const;
    bool LinkTimerArmed() const;

    // For roads that carry their bytes over an inner connection: asks that connection's road to end after
    // delivering what it has received; false when it is not established or its road cannot.
    static bool InnerEndsAfterDelivery(TvyrCustomClientConnection& inner);

private:
    TvyrCustomClientConnection& connection_;
};

// Makes the road of one kind, or null when that road is not in this build.
using TvyrRoadCreator = std::function<std::unique_ptr<TvyrTransportRoad>(TvyrCustomClientConnection&)>;

// The road for a connection's transport and, for Bluetooth, its radio's stack. 0 and the road, or:
// 14 no radio or the radio's stack is not present; 13 an unknown transport; 3 the road is not built.
int CreateTransportRoad(TvyrCustomClientConnection& connection, std::unique_ptr<TvyrTransportRoad>& road);

// The creator table: a road unit installs its creator here (RoadCreator(kind) = ...), normally from
// DefaultRoadCreator in vyrTransportRoad.cpp.
TvyrRoadCreator& RoadCreator(TvyrRoadKind kind);

// Test hook: while set, every road is made by this function instead of the table (the radio and stack
// checks still run first). An empty function restores the table.
using TvyrRoadFactory = std::function<std::unique_ptr<TvyrTransportRoad>(TvyrCustomClientConnection&, TvyrRoadKind)>;
void SetTransportRoadFactory(TvyrRoadFactory factory);

} // namespace vyr
