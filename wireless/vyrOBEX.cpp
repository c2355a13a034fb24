// The OBEX client session and the Object Push client.
#include "vyrOBEX.h"

#include "vyrErrors.h"
#include "vyrMessages.h"
#include "win32/WinUser.h"

#include <algorithm>
#include <new>

namespace vyr {

// ---------------------------------------------------------------------------------------------------
// Parameters

TvyrCustomOBEXParams::TvyrCustomOBEXParams(TvyrCustomConnection* connection) : TvyrCustomConnectionParams(connection) {}

void TvyrCustomOBEXParams::Assign(const vcl::TPersistent* source) {
    if (auto* other = dynamic_cast<const TvyrCustomOBEXParams*>(source)) {
        SetPacketSize(other->PacketSize());
        return;
    }
    TvyrCustomConnectionParams::Assign(source);
}

void TvyrCustomOBEXParams::AssignTo(vcl::TPersistent* dest) const {
    if (auto* other = dynamic_cast<TvyrCustomOBEXParams*>(dest)) {
        other->SetPacketSize(packetSize_);
        return;
    }
    TvyrCustomConnectionParams::AssignTo(dest);
}

void TvyrCustomOBEXParams::SetPacketSize(std::uint16_t value) {
    if (value == packetSize_)
        return;
    CheckClosed();
    if (value == 0)
        throw vyrEInvalidArgument(StrInvalidPacketSize);
    packetSize_ = value;
}

void TvyrCustomOBEXParams::SetTarget(const std::u16string& value) {
    Update(target_, value);
}

void TvyrCustomOBEXParams::SetTargetAsString(bool value) {
    Update(targetAsString_, value);
}

void TvyrCustomOBEXParams::SetWho(const std::u16string& value) {
    Update(who_, value);
}

void TvyrCustomOBEXParams::SetWhoAsString(bool value) {
    Update(whoAsString_, value);
}

TvyrClientOBEXParams::TvyrClientOBEXParams(TvyrCustomConnection* connection) : TvyrCustomOBEXParams(connection) {
    if (!dynamic_cast<TvyrCustomOBEXClient*>(connection))
        throw vyrEInvalidArgument(StrInvalidParamsOwner);
}

void TvyrClientOBEXParams::SetTimeout(std::uint32_t value) {
    if (value == timeout_)
        return;
    CheckClosed();
    if (value < 1000)
        throw vyrEInvalidArgument(StrInvalidTimeoutValue);
    timeout_ = value;
}

// ---------------------------------------------------------------------------------------------------
// TvyrCustomOBEXClient

namespace {

bool IsReservedName(const std::u16string& name) {
    return name == u".." || name == u"\\";
}

} // namespace

TvyrCustomOBEXClient::TvyrCustomOBEXClient(vcl::TComponent* owner) : TvyrCustomClientConnection(owner) {
    // Made here, not in the initialiser list, so the owner check sees an OBEX client.
    obexParams_ = std::make_unique<TvyrClientOBEXParams>(this);
    IrDAParams()->SetNineWire(false);
}

TvyrCustomOBEXClient::~TvyrCustomOBEXClient() {
    // The base destructor can only reach its own Disconnect: the session ends here.
    TvyrCustomOBEXClient::Disconnect();
    *alive_ = false;
}

void TvyrCustomOBEXClient::SetOBEXParams(const TvyrClientOBEXParams* value) {
    if (value == obexParams_.get())
        return;
    if (!IsClosed())
        throw vyrEConnectionActive(StrConnectionActive);
    if (!value)
        throw vyrEInvalidArgument(StrOBEXParamsNotValid);
    obexParams_->Assign(value);
}

// ---- Timer ----

bool TvyrCustomOBEXClient::ArmTimer() {
    if (!Window())
        return false;
    // Setting the id again restarts it: one timer guards the request now out.
    timerId_ = win::SetTimer(Window(), OBEX_TIMER_ID, obexParams_->Timeout(), nullptr);
    return timerId_ != 0;
}

void TvyrCustomOBEXClient::StopTimer() {
    if (!timerId_)
        return;
    timerId_ = 0;
    if (Window())
        win::KillTimer(Window(), OBEX_TIMER_ID);
}

void TvyrCustomOBEXClient::TimerExpired() {
    if (!timerId_)
        return; // a tick of a timer already stopped
    StopTimer();
    AliveToken alive = alive_;
    switch (operation_) {
    case opConnect:
        if (!EndConnect(VYR_TIMEOUT))
            return;
        break;
    case opDisconnect:
        // The peer never confirmed; the session is over all the same.
        if (!EndSession(true))
            return;
        break;
    case opAbort:
        operation_ = abortedOperation_;
        abortRequested_ = false;
        if (!EndOperation(operation_, VYR_TIMEOUT))
            return;
        break;
    case opIdle:
        return;
    default:
        if (!EndOperation(operation_, VYR_TIMEOUT))
            return;
        break;
    }
    if (!alive.expired())
        Disconnect();
}

void TvyrCustomOBEXClient::WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (msg == win::WM_TIMER && wParam == OBEX_TIMER_ID) {
        TimerExpired();
        return;
    }
    if (msg == WM_DATA_PENDING) {
        // Straight to the delivery: a handler may delete this client while it runs, and nothing
        // of the object may be touched after that.
        TvyrCustomConnection::WndProc(msg, wParam, lParam);
        return;
    }
    TvyrCustomClientConnection::WndProc(msg, wParam, lParam);
}

// ---- Operations ----

int TvyrCustomOBEXClient::CheckOperation() const {
    if (!IsConnected())
        return VYR_NOT_CONNECTED;
    if (sessionState_ != ssConnected)
        return VYR_OBEX_SESSION_NOT_ACTIVE;
    if (operation_ != opIdle)
        return VYR_OBEX_OPERATION_IN_PROGRESS;
    return VYR_SUCCESS;
}

int TvyrCustomOBEXClient::StartRequest(TvyrOBEXOperation op, const std::function<int(TvyrOBEXPacket&)>& build) {
    operation_ = op;
    abortRequested_ = false;
    TvyrOBEXPacket packet;
    int result;
    try {
        result = build(packet);
    } catch (const std::bad_alloc&) {
        result = VYR_OUT_OF_RESOURCES;
    } catch (const std::length_error&) {
        result = VYR_OUT_OF_RESOURCES;
    }
    if (result == VYR_SUCCESS && !ArmTimer())
        result = VYR_OUT_OF_RESOURCES;
    if (result == VYR_SUCCESS)
        result = Write(packet.data(), static_cast<win::DWORD>(packet.size()));
    if (result != VYR_SUCCESS) {
        StopTimer();
        operation_ = opIdle;
        dataStream_.Clear();
    }
    return result;
}

int TvyrCustomOBEXClient::SendNext(const TvyrOBEXPacket& packet) {
    if (!ArmTimer())
        return VYR_OUT_OF_RESOURCES;
    int result = Write(packet.data(), static_cast<win::DWORD>(packet.size()));
    if (result != VYR_SUCCESS)
        StopTimer();
    return result;
}

int TvyrCustomOBEXClient::OBEXConnect() {
    if (!IsConnected())
        return VYR_NOT_CONNECTED;
    if (sessionState_ != ssNone)
        return VYR_OBEX_SESSION_ACTIVE;
    if (operation_ != opIdle)
        return VYR_OBEX_OPERATION_IN_PROGRESS;
    sessionState_ = ssConnecting;
    int result = StartRequest(opConnect, [this](TvyrOBEXPacket& p) {
        return OBEXBuildConnect(obexParams_->PacketSize(), obexParams_->TargetHeader(), obexParams_->WhoHeader(), p);
    });
    if (result != VYR_SUCCESS)
        sessionState_ = ssNone;
    return result;
}

int TvyrCustomOBEXClient::OBEXDisconnect() {
    if (operation_ != opIdle)
        return VYR_OBEX_OPERATION_IN_PROGRESS;
    if (sessionState_ != ssConnected)
        return VYR_OBEX_SESSION_NOT_ACTIVE;
    if (!IsConnected())
        return VYR_NOT_CONNECTED;
    sessionState_ = ssDisconnecting;
    int result = StartRequest(opDisconnect, [](TvyrOBEXPacket& p) {
        p = OBEXBuildDisconnect();
        return VYR_SUCCESS;
    });
    if (result != VYR_SUCCESS)
        sessionState_ = ssConnected;
    return result;
}

int TvyrCustomOBEXClient::Put(const std::u16string& name, vcl::TStream* stream, const std::u16string& type) {
    if (int check = CheckOperation())
        return check;
    if ((name.empty() && type.empty()) || IsReservedName(name) || !stream)
        return VYR_INVALID_ARGUMENT;
    // The caller's stream may fail to give what it promises: that is a bad argument, and the put never
    // starts (nothing is sent, nothing is owed an outcome). Running out of memory stays 1.
    std::int64_t size = 0;
    try {
        size = stream->Size();
    } catch (const std::bad_alloc&) {
        return VYR_OUT_OF_RESOURCES;
    } catch (...) {
        return VYR_INVALID_ARGUMENT;
    }
    // The Length header and the progress counts are 32-bit.
    if (size <= 0 || size > 0xFFFFFFFFll)
        return VYR_INVALID_ARGUMENT;
    return StartRequest(opPut, [&](TvyrOBEXPacket& p) -> int {
        dataStream_.Clear();
        try {
            dataStream_.CopyFrom(stream, 0);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::length_error&) {
            throw;
        } catch (...) {
            return VYR_INVALID_ARGUMENT;
        }
        dataStream_.SetPosition(0);
        return OBEXBuildPutFirst(connectionId_, name, type, obexParams_->WhoHeader(),
                                 static_cast<std::uint64_t>(dataStream_.Size()), p);
    });
}

int TvyrCustomOBEXClient::Get(const std::u16string& name, const std::u16string& type) {
    if (int check = CheckOperation())
        return check;
    if ((name.empty() && type.empty()) || IsReservedName(name))
        return VYR_INVALID_ARGUMENT;
    dataStream_.Clear();
    hasAnnouncedLength_ = false;
    announcedLength_ = 0;
    return StartRequest(
        opGet, [&](TvyrOBEXPacket& p) { return OBEXBuildGet(connectionId_, name, type, obexParams_->WhoHeader(), p); });
}

int TvyrCustomOBEXClient::Delete(const std::u16string& name) {
    if (int check = CheckOperation())
        return check;
    if (name.empty() || IsReservedName(name))
        return VYR_INVALID_ARGUMENT;
    return StartRequest(opDelete, [&](TvyrOBEXPacket& p) { return OBEXBuildDelete(connectionId_, name, p); });
}

int TvyrCustomOBEXClient::ChangeFolder(const std::u16string& path) {
    if (int check = CheckOperation())
        return check;
    if (path.empty())
        return VYR_INVALID_ARGUMENT;
    return StartRequest(opChangeFolder,
                        [&](TvyrOBEXPacket& p) { return OBEXBuildChangeFolder(connectionId_, path, p); });
}

int TvyrCustomOBEXClient::CreateFolder(const std::u16string& name) {
    if (int check = CheckOperation())
        return check;
    if (name.empty() || IsReservedName(name))
        return VYR_INVALID_ARGUMENT;
    return StartRequest(opCreateFolder, [&](TvyrOBEXPacket& p) {
        return OBEXBuildSetPath(connectionId_, TvyrOBEXSetPath::CreateFolder, name, p);
    });
}

int TvyrCustomOBEXClient::ListFolder() {
    if (int check = CheckOperation())
        return check;
    dataStream_.Clear();
    return StartRequest(opListFolder, [&](TvyrOBEXPacket& p) {
        p = OBEXBuildFolderListing(connectionId_);
        return VYR_SUCCESS;
    });
}

int TvyrCustomOBEXClient::Abort() {
    if (!IsConnected())
        return VYR_NOT_CONNECTED;
    if (sessionState_ != ssConnected)
        return VYR_OBEX_SESSION_NOT_ACTIVE;
    if (operation_ == opAbort)
        return VYR_OBEX_OPERATION_IN_PROGRESS;
    if (operation_ != opPut && operation_ != opGet)
        return VYR_OBEX_OPERATION_NOT_ACTIVE;
    abortRequested_ = true;
    return VYR_SUCCESS;
}

void TvyrCustomOBEXClient::SendAbort() {
    abortedOperation_ = operation_;
    operation_ = opAbort;
    int result;
    try {
        result = SendNext(OBEXBuildAbort(connectionId_));
    } catch (const std::bad_alloc&) {
        result = VYR_OUT_OF_RESOURCES;
    }
    if (result != VYR_SUCCESS) {
        // Nothing more can be said to the peer: end the operation now rather than leave it
        // waiting for an answer to a request that never went out.
        operation_ = abortedOperation_;
        abortRequested_ = false;
        EndOperation(operation_, result);
    }
}

// ---- Receiving ----

bool TvyrCustomOBEXClient::ProcessData(const void* buffer, win::DWORD size) {
    if (size > 0 && buffer) {
        auto* bytes = static_cast<const std::uint8_t*>(buffer);
        try {
            receiveBuffer_.insert(receiveBuffer_.end(), bytes, bytes + size);
        } catch (const std::bad_alloc&) {
            // No room: this chunk is lost; the operation ends by its time-out.
        } catch (const std::length_error&) {
        }
    }
    if (receiveBuffer_.size() >= 3)
        ReceivePacket();
    // An OBEX client takes every byte.
    return true;
}

void TvyrCustomOBEXClient::ReceivePacket() {
    std::size_t length = 0;
    switch (OBEXFrameResponse(receiveBuffer_, length)) {
    case TvyrOBEXFrame::Incomplete:
        return;
    case TvyrOBEXFrame::Malformed: {
        // The stream cannot be framed any more: end what runs.
        receiveBuffer_.clear();
        StopTimer();
        if (operation_ == opAbort) {
            operation_ = abortedOperation_;
            abortRequested_ = false;
        }
        if (operation_ == opConnect)
            EndConnect(VYR_OBEX_UNKNOWN);
        else if (operation_ == opDisconnect)
            EndSession(true);
        else if (operation_ != opIdle)
            EndOperation(operation_, VYR_OBEX_UNKNOWN);
        return;
    }
    case TvyrOBEXFrame::Complete:
        break;
    }
    std::vector<std::uint8_t> packet;
    try {
        packet.assign(receiveBuffer_.begin(), receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(length));
        receiveBuffer_.erase(receiveBuffer_.begin(), receiveBuffer_.begin() + static_cast<std::ptrdiff_t>(length));
    } catch (const std::bad_alloc&) {
        receiveBuffer_.clear();
        return;
    }
    Dispatch(packet);
}

void TvyrCustomOBEXClient::Dispatch(const std::vector<std::uint8_t>& packet) {
    switch (operation_) {
    case opIdle:
        return;
    case opConnect:
        HandleConnect(packet);
        return;
    case opDisconnect:
        StopTimer();
        sessionState_ = ssDisconnecting;
        EndSession(true);
        return;
    case opPut:
        HandlePut(packet);
        return;
    case opGet:
    case opListFolder:
        HandleData(packet);
        return;
    case opDelete:
    case opChangeFolder:
    case opCreateFolder:
        StopTimer();
        EndSimple(operation_, OBEXResponseError(packet));
        return;
    case opAbort:
        // Whatever the peer says, the operation was cancelled.
        StopTimer();
        abortRequested_ = false;
        operation_ = abortedOperation_;
        EndOperation(operation_, VYR_CANCELLED_BY_USER);
        return;
    }
}

void TvyrCustomOBEXClient::HandleConnect(const std::vector<std::uint8_t>& packet) {
    StopTimer();
    TvyrOBEXConnectResponse response = OBEXReadConnectResponse(packet);
    if (response.Error == VYR_SUCCESS) {
        peerMaxPacketSize_ = response.PeerMaxPacketSize;
        connectionId_ = response.ConnectionId;
    }
    EndConnect(response.Error);
}

void TvyrCustomOBEXClient::HandlePut(const std::vector<std::uint8_t>& packet) {
    StopTimer();
    if (packet[0] != OBEX_RC_CONTINUE) {
        EndPut(OBEXResponseError(packet));
        return;
    }
    if (abortRequested_) {
        SendAbort();
        return;
    }
    auto size = static_cast<std::uint64_t>(dataStream_.Size());
    auto position = static_cast<std::uint64_t>(dataStream_.Position());
    AliveToken alive = alive_;
    if (!FireProgress(static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(size)))
        return;
    // The handler may have ended the put (Disconnect) or asked for an abort.
    if (operation_ != opPut)
        return;
    if (abortRequested_) {
        SendAbort();
        return;
    }
    TvyrOBEXPacket next;
    int result = VYR_SUCCESS;
    try {
        if (position < size) {
            std::size_t chunk = OBEXPutChunkSize(peerMaxPacketSize_, size - position);
            const std::uint8_t* data = dataStream_.Memory() + position;
            result = OBEXBuildPutData(connectionId_, std::span<const std::uint8_t>(data, chunk), next);
            if (result == VYR_SUCCESS)
                dataStream_.Seek(static_cast<std::int64_t>(chunk), vcl::soCurrent);
        } else {
            next = OBEXBuildPutFinal(connectionId_);
        }
    } catch (const std::bad_alloc&) {
        result = VYR_OUT_OF_RESOURCES;
    }
    if (result == VYR_SUCCESS)
        result = SendNext(next);
    if (result != VYR_SUCCESS)
        EndPut(result);
}

void TvyrCustomOBEXClient::HandleData(const std::vector<std::uint8_t>& packet) {
    StopTimer();
    // A get reports progress and may be aborted; a folder listing does neither.
    const TvyrOBEXOperation op = operation_;
    const bool get = op == opGet;
    TvyrOBEXDataResponse response =
        OBEXReadDataResponse(packet, get && dataStream_.Size() == 0 && !hasAnnouncedLength_);
    try {
        if (response.HasLength && !hasAnnouncedLength_) {
            // The peer's word sizes the progress only; the memory grows with what really comes.
            hasAnnouncedLength_ = true;
            announcedLength_ = response.Length;
            dataStream_.SetCapacity(std::min(response.Length, OBEX_GET_PREALLOCATE_LIMIT));
        }
        if (!response.Body.empty()) {
            dataStream_.Seek(0, vcl::soEnd);
            dataStream_.WriteBuffer(response.Body.data(), static_cast<std::int64_t>(response.Body.size()));
        }
    } catch (const std::bad_alloc&) {
        EndOperation(op, VYR_OUT_OF_RESOURCES);
        return;
    } catch (const std::length_error&) {
        EndOperation(op, VYR_OUT_OF_RESOURCES);
        return;
    }
    if (get && !response.Body.empty()) {
        auto received = static_cast<std::uint32_t>(dataStream_.Size());
        if (!FireProgress(received, hasAnnouncedLength_ ? announcedLength_ : received))
            return;
        if (operation_ != opGet)
            return;
    }
    if (!response.Continue) {
        dataStream_.SetPosition(0);
        EndOperation(op, response.Error);
        return;
    }
    if (abortRequested_) {
        SendAbort();
        return;
    }
    int result;
    try {
        result = SendNext(OBEXBuildGetContinue(connectionId_));
    } catch (const std::bad_alloc&) {
        result = VYR_OUT_OF_RESOURCES;
    }
    if (result != VYR_SUCCESS)
        EndOperation(op, result);
}

// ---- Ending ----

bool TvyrCustomOBEXClient::FireProgress(std::uint32_t position, std::uint32_t size) {
    if (!OnOBEXProgress)
        return true;
    AliveToken alive = alive_;
    OnOBEXProgress(this, position, size);
    return !alive.expired();
}

bool TvyrCustomOBEXClient::EndConnect(int error) {
    operation_ = opIdle;
    if (sessionState_ != ssConnecting)
        return true;
    if (error == VYR_SUCCESS) {
        sessionState_ = ssConnected;
    } else {
        sessionState_ = ssDisconnecting;
        EndSession(false);
    }
    if (!OnOBEXConnect)
        return true;
    AliveToken alive = alive_;
    OnOBEXConnect(this, error);
    return !alive.expired();
}

bool TvyrCustomOBEXClient::EndOperation(TvyrOBEXOperation op, int error) {
    switch (op) {
    case opPut:
        return EndPut(error);
    case opGet:
        return EndGet(error);
    case opListFolder:
        return EndListing(error);
    case opDelete:
    case opChangeFolder:
    case opCreateFolder:
        return EndSimple(op, error);
    default:
        operation_ = opIdle;
        return true;
    }
}

bool TvyrCustomOBEXClient::EndPut(int error) {
    receiveBuffer_.clear();
    StopTimer();
    operation_ = opIdle;
    dataStream_.Clear();
    if (!OnOBEXPutComplete)
        return true;
    AliveToken alive = alive_;
    OnOBEXPutComplete(this, error);
    return !alive.expired();
}

bool TvyrCustomOBEXClient::EndGet(int error) {
    receiveBuffer_.clear();
    StopTimer();
    operation_ = opIdle;
    std::unique_ptr<vcl::TMemoryStream> copy;
    if (error == VYR_SUCCESS) {
        try {
            copy = std::make_unique<vcl::TMemoryStream>();
            copy->CopyFrom(&dataStream_, 0);
            copy->SetPosition(0);
        } catch (const std::bad_alloc&) {
            copy.reset();
            error = VYR_OUT_OF_RESOURCES;
        }
    }
    dataStream_.Clear();
    if (!OnOBEXGetComplete)
        return true;
    AliveToken alive = alive_;
    OnOBEXGetComplete(this, error, copy.get());
    return !alive.expired();
}

bool TvyrCustomOBEXClient::EndListing(int error) {
    receiveBuffer_.clear();
    StopTimer();
    operation_ = opIdle;
    std::unique_ptr<TvyrFileSystemObjects> objects;
    if (error == VYR_SUCCESS) {
        try {
            objects = ParseFolderListing(dataStream_.Memory(), static_cast<std::size_t>(dataStream_.Size()));
            if (!objects)
                objects = std::make_unique<TvyrFileSystemObjects>();
        } catch (const std::bad_alloc&) {
            objects.reset();
            error = VYR_OUT_OF_RESOURCES;
        }
    }
    dataStream_.Clear();
    if (!OnOBEXFolderListingComplete)
        return true;
    AliveToken alive = alive_;
    OnOBEXFolderListingComplete(this, objects.get(), error);
    return !alive.expired();
}

bool TvyrCustomOBEXClient::EndSimple(TvyrOBEXOperation op, int error) {
    receiveBuffer_.clear();
    StopTimer();
    operation_ = opIdle;
    const TvyrOBEXCompleteEvent& event = op == opDelete         ? OnOBEXDeleteComplete
                                         : op == opChangeFolder ? OnOBEXChangeFolderComplete
                                                                : OnOBEXCreateFolderComplete;
    if (!event)
        return true;
    TvyrOBEXCompleteEvent call = event; // the handler may replace the event member
    AliveToken alive = alive_;
    call(this, error);
    return !alive.expired();
}

bool TvyrCustomOBEXClient::EndSession(bool notify) {
    if (sessionState_ != ssDisconnecting)
        return true;
    receiveBuffer_.clear();
    StopTimer();
    operation_ = opIdle;
    sessionState_ = ssNone;
    connectionId_ = 0;
    peerMaxPacketSize_ = 0;
    if (!notify || !OnOBEXDisconnect)
        return true;
    AliveToken alive = alive_;
    OnOBEXDisconnect(this);
    return !alive.expired();
}

void TvyrCustomOBEXClient::Disconnect() {
    // A handler of the events below may call Disconnect again: the outer call finishes the job.
    if (inDisconnect_)
        return;
    inDisconnect_ = true;
    AliveToken alive = alive_;
    TvyrOBEXSessionState old = sessionState_;
    sessionState_ = ssDisconnecting;
    StopTimer();
    if (old == ssConnected) {
        TvyrOBEXOperation op = operation_;
        if (op == opAbort) {
            op = abortedOperation_;
            abortRequested_ = false;
        }
        operation_ = op;
        if (!EndOperation(op, VYR_CONNECTION_TERMINATED) || alive.expired())
            return;
        sessionState_ = ssDisconnecting;
    }
    if (!EndSession(old == ssConnected))
        return;
    inDisconnect_ = false;
    dataStream_.Clear();
    TvyrCustomClientConnection::Disconnect();
}

// ---------------------------------------------------------------------------------------------------
// TvyrOPPClient

TvyrOPPClient::TvyrOPPClient(vcl::TComponent* owner) : TvyrCustomOBEXClient(owner) {
    BluetoothParams()->SetService(OBEXObjectPushServiceUuid);
    BluetoothParams()->SetAuthentication(false);
    IrDAParams()->SetService(u"OBEX");
}

} // namespace vyr
