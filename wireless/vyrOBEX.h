// OBEX client unit: the wire format (vyrOBEXPackets.h), the client session over a client
// connection, and the Object Push client.
#pragma once

#include "vcl/Streams.h"
#include "vyrConnections.h"
#include "vyrOBEXPackets.h"
#include "vyrXML.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vyr {

class TvyrCustomOBEXClient;

// OBEX settings of a connection. Every setter: an equal value returns at once, then
// "Connection is active." unless the connection is closed, then the value check.
class TvyrCustomOBEXParams : public TvyrCustomConnectionParams {
public:
    explicit TvyrCustomOBEXParams(TvyrCustomConnection* connection);

    // Between two OBEX parameter objects only PacketSize is copied.
    void Assign(const vcl::TPersistent* source) override;

    // The largest packet we take, announced in CONNECT; 0 is refused.
    std::uint16_t PacketSize() const { return packetSize_; }
    void SetPacketSize(std::uint16_t value);
    // Target and Who headers of CONNECT: hexadecimal text, or with ...AsString the characters.
    const std::u16string& Target() const { return target_; }
    void SetTarget(const std::u16string& value);
    bool TargetAsString() const { return targetAsString_; }
    void SetTargetAsString(bool value);
    const std::u16string& Who() const { return who_; }
    void SetWho(const std::u16string& value);
    bool WhoAsString() const { return whoAsString_; }
    void SetWhoAsString(bool value);

    TvyrOBEXHeaderText TargetHeader() const { return {target_, targetAsString_}; }
    TvyrOBEXHeaderText WhoHeader() const { return {who_, whoAsString_}; }

protected:
    void AssignTo(vcl::TPersistent* dest) const override;

private:
    std::uint16_t packetSize_ = OBEX_DEFAULT_PACKET_SIZE;
    std::u16string target_;
    bool targetAsString_ = false;
    std::u16string who_;
    bool whoAsString_ = false;
};

class TvyrClientOBEXParams : public TvyrCustomOBEXParams {
public:
    // The owner must be an OBEX client: "Invalid params owner." otherwise.
    explicit TvyrClientOBEXParams(TvyrCustomConnection* connection);

    // Milliseconds a guarded request may wait for its response; at least 1000.
    std::uint32_t Timeout() const { return timeout_; }
    void SetTimeout(std::uint32_t value);

private:
    std::uint32_t timeout_ = 60000;
};

using TvyrOBEXClientConnectedEvent = std::function<void(vcl::TObject* sender, int error)>;
using TvyrOBEXCompleteEvent = std::function<void(vcl::TObject* sender, int error)>;
// Objects is null unless error is 0; it is freed after the call.
using TvyrOBEXFolderListingCompleteEvent =
    std::function<void(vcl::TObject* sender, TvyrFileSystemObjects* objects, int error)>;
// Stream holds the object, positioned at 0, when error is 0 (null otherwise); it is freed after the call.
using TvyrOBEXGetCompleteEvent = std::function<void(vcl::TObject* sender, int error, vcl::TStream* stream)>;
using TvyrOBEXProgressEvent = std::function<void(vcl::TObject* sender, std::uint32_t position, std::uint32_t size)>;

enum TvyrOBEXSessionState : std::uint8_t { ssNone = 0, ssConnecting = 1, ssConnected = 2, ssDisconnecting = 3 };

enum TvyrOBEXOperation : std::uint8_t {
    opIdle = 0,
    opConnect = 1,
    opDisconnect = 2,
    opPut = 3,
    opGet = 4,
    opDelete = 5,
    opChangeFolder = 6,
    opCreateFolder = 7,
    opListFolder = 8,
    opAbort = 9
};

// An OBEX client session on top of a client connection: connect the transport (Connect,
// OnConnect), then OBEXConnect, then one operation at a time, then OBEXDisconnect and/or
// Disconnect. Every operation returns at once (0: the request was written) and its outcome
// comes through an event on the window's thread. The client's own state is settled before
// any event runs, so a handler may start the next operation, call Disconnect or delete the
// client.
//
// Every request waits at most OBEXParams()->Timeout() for its response; a silent peer ends
// the operation with 43 and the transport is disconnected.
class TvyrCustomOBEXClient : public TvyrCustomClientConnection {
public:
    explicit TvyrCustomOBEXClient(vcl::TComponent* owner = nullptr);
    ~TvyrCustomOBEXClient() override;

    // Ends the running operation with 47 and the session with OnOBEXDisconnect when the
    // session was connected, then closes the transport. Safe to call from any handler.
    void Disconnect() override;

    // 40 transport not connected, 100 session not idle, 101 an operation runs.
    int OBEXConnect();
    // 101 an operation runs, 102 no session, 40 transport not connected.
    int OBEXDisconnect();

    // The preconditions of these: 40, 102, 101, then 5 for bad arguments.
    virtual int Delete(const std::u16string& name);
    virtual int ListFolder();
    virtual int Get(const std::u16string& name, const std::u16string& type);
    virtual int CreateFolder(const std::u16string& name);
    // Copies all of stream (from its start; it is left at its end), so the caller may free it
    // when the call returns. An empty stream, or one of 4 GiB or more, gives 5.
    virtual int Put(const std::u16string& name, vcl::TStream* stream, const std::u16string& type);
    // "\" the root folder, ".." the parent, any other text a child folder.
    virtual int ChangeFolder(const std::u16string& path);
    // Asks the running put or get to stop: the ABORT goes out at the peer's next Continue, and
    // the operation then ends with 32. 104 when no put or get runs, 101 while an ABORT is out.
    virtual int Abort();

    TvyrClientOBEXParams* OBEXParams() const { return obexParams_.get(); }
    // Copies PacketSize from value; raises while the connection is not closed or for null.
    void SetOBEXParams(const TvyrClientOBEXParams* value);

    TvyrOBEXSessionState SessionState() const { return sessionState_; }
    TvyrOBEXOperation Operation() const { return operation_; }
    std::uint32_t ConnectionId() const { return connectionId_; }
    std::uint16_t PeerMaxPacketSize() const { return peerMaxPacketSize_; }
    bool AbortRequested() const { return abortRequested_; }
    bool TimerArmed() const { return timerId_ != 0; }

    TvyrOBEXClientConnectedEvent OnOBEXConnect;
    vcl::TNotifyEvent OnOBEXDisconnect;
    TvyrOBEXProgressEvent OnOBEXProgress;
    TvyrOBEXCompleteEvent OnOBEXPutComplete;
    TvyrOBEXGetCompleteEvent OnOBEXGetComplete;
    TvyrOBEXFolderListingCompleteEvent OnOBEXFolderListingComplete;
    TvyrOBEXCompleteEvent OnOBEXDeleteComplete;
    TvyrOBEXCompleteEvent OnOBEXCreateFolderComplete;
    TvyrOBEXCompleteEvent OnOBEXChangeFolderComplete;

protected:
    bool ProcessData(const void* buffer, win::DWORD size) override;
    void WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    // Set while this object lives; a handler that deletes the client clears it.
    using AliveToken = std::weak_ptr<bool>;

    bool ArmTimer();
    void StopTimer();
    void TimerExpired();
    // Checks shared by every operation after OBEXConnect: 40, 102, 101.
    int CheckOperation() const;
    // Writes the first packet of an operation that has already set Operation; restores the
    // state on failure and returns the code.
    int StartRequest(TvyrOBEXOperation op, const std::function<int(TvyrOBEXPacket&)>& build);
    // Writes a later packet of the running operation (guarded by the timer): 0, or the code
    // that the operation must end with.
    int SendNext(const TvyrOBEXPacket& packet);

    void ReceivePacket();
    void Dispatch(const std::vector<std::uint8_t>& packet);
    void HandleConnect(const std::vector<std::uint8_t>& packet);
    void HandlePut(const std::vector<std::uint8_t>& packet);
    // A response to a get or a folder listing.
    void HandleData(const std::vector<std::uint8_t>& packet);
    void SendAbort();

    // Each returns false when the client was deleted by the event's handler.
    bool EndConnect(int error);
    bool EndOperation(TvyrOBEXOperation op, int error);
    bool EndPut(int error);
    bool EndGet(int error);
    bool EndListing(int error);
    bool EndSimple(TvyrOBEXOperation op, int error);
    bool EndSession(bool notify);
    bool FireProgress(std::uint32_t position, std::uint32_t size);

    std::unique_ptr<TvyrClientOBEXParams> obexParams_;
    vcl::TMemoryStream dataStream_;
    std::vector<std::uint8_t> receiveBuffer_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    win::UINT_PTR timerId_ = 0;
    std::uint32_t connectionId_ = 0;
    std::uint32_t announcedLength_ = 0; // a get's Length header, 0 when none
    bool hasAnnouncedLength_ = false;
    std::uint16_t peerMaxPacketSize_ = 0;
    TvyrOBEXSessionState sessionState_ = ssNone;
    TvyrOBEXOperation operation_ = opIdle;
    TvyrOBEXOperation abortedOperation_ = opIdle;
    bool abortRequested_ = false;
    bool inDisconnect_ = false;
};

// The Object Push client: an OBEX client set up for the Object Push service.
class TvyrOPPClient : public TvyrCustomOBEXClient {
public:
    explicit TvyrOPPClient(vcl::TComponent* owner = nullptr);
};

// {00001105-0000-1000-8000-00805F9B34FB}
inline constexpr win::GUID OBEXObjectPushServiceUuid = {
    0x00001105, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

// Largest block a get reserves ahead because of the peer's Length header; the rest grows as
// the data comes.
inline constexpr std::uint32_t OBEX_GET_PREALLOCATE_LIMIT = 1u << 20;

} // namespace vyr
