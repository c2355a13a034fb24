// The connection base and the client connection: state machine, hidden window, timers and data path.
#include "vyrConnections.h"

#include "vyrErrors.h"
#include "vyrMessages.h"
#include "vyrTransportRoad.h"
#include "win32/WinBase.h"
#include "win32/WinUser.h"

#include <new>

namespace vyr {

namespace {

class CsGuard {
public:
    explicit CsGuard(win::CRITICAL_SECTION& cs) : cs_(cs) { win::EnterCriticalSection(&cs_); }
    ~CsGuard() { win::LeaveCriticalSection(&cs_); }
    CsGuard(const CsGuard&) = delete;
    CsGuard& operator=(const CsGuard&) = delete;

private:
    win::CRITICAL_SECTION& cs_;
};

} // namespace

// ---------------------------------------------------------------------------------------------------
// TvyrCustomConnection

TvyrCustomConnection::TvyrCustomConnection(vcl::TComponent* owner) : vcl::TComponent(owner) {
    win::InitializeCriticalSection(&lock_);
    buffers_ = std::make_unique<TvyrBuffers>(this);
}

TvyrCustomConnection::~TvyrCustomConnection() {
    StopWorker();
    DestroyWindow();
    win::DeleteCriticalSection(&lock_);
}

void TvyrCustomConnection::SetBuffers(const TvyrBuffers* value) {
    if (value == buffers_.get())
        return;
    if (!IsClosed())
        throw vyrEConnectionActive(StrConnectionActive);
    if (!value)
        throw vyrEInvalidArgument(StrBuffersNotValid);
    buffers_->Assign(value);
}

bool TvyrCustomConnection::CreateWindow() {
    if (wnd_)
        return true;
    wnd_ = CreateHiddenWindow();
    if (!wnd_)
        return false;
    AttachHiddenWindow(wnd_, this);
    return true;
}

void TvyrCustomConnection::DestroyWindow() {
    DestroyHiddenWindow(wnd_);
}

void TvyrCustomConnection::HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    WndProc(msg, wParam, lParam);
}

void TvyrCustomConnection::WndProc(win::UINT msg, win::WPARAM, win::LPARAM) {
    if (msg == WM_DATA_PENDING)
        DeliverData();
}

bool TvyrCustomConnection::ProcessData(const void*, win::DWORD) {
    return false;
}

bool TvyrCustomConnection::AppendData(const void* buffer, win::DWORD size) {
    if (!IsConnected() || !buffer || size == 0)
        return false;
    auto* bytes = static_cast<const std::uint8_t*>(buffer);
    CsGuard guard(lock_);
    try {
        pending_.insert(pending_.end(), bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        // No room: these bytes are dropped, the ones already waiting stay.
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    if (deliveryPending_)
        return false;
    deliveryPending_ = true;
    return true;
}

win::DWORD TvyrCustomConnection::PendingSize() const {
    CsGuard guard(lock_);
    return static_cast<win::DWORD>(pending_.size());
}

void TvyrCustomConnection::FreePendingData() {
    std::vector<std::uint8_t> old;
    std::vector<std::uint8_t>().swap(spare_);
    CsGuard guard(lock_);
    old.swap(pending_);
    deliveryPending_ = false;
}

void TvyrCustomConnection::DeliverData() {
    if (!IsConnected())
        return;
    // Take the whole block: later postings of the same block find nothing. The emptied block of the last
    // delivery takes its place, so a steady exchange of replies allocates nothing.
    std::vector<std::uint8_t> block;
    block.swap(spare_);
    {
        CsGuard guard(lock_);
        block.swap(pending_);
        deliveryPending_ = false;
    }
    if (!block.empty() && IsConnected()) {
        // The handlers get a block of their own, so a Disconnect inside them cannot pull it away.
        auto size = static_cast<win::DWORD>(block.size());
        if (!ProcessData(block.data(), size) && OnData)
            OnData(this, block.data(), size);
    }
    // A handler that disconnected has let go of everything; one that delivered again (a nested pump) may
    // have lent its block back already.
    if (IsConnected() && spare_.capacity() == 0) {
        block.clear();
        spare_.swap(block);
    }
}

int TvyrCustomConnection::StartWorker(std::function<void(win::HANDLE terminate)> routine) {
    if (worker_ || !routine)
        return VYR_OUT_OF_RESOURCES;
    terminate_ = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
    if (!terminate_)
        return VYR_OUT_OF_RESOURCES;
    win::HANDLE terminate = terminate_;
    const win::HWND window = wnd_;
    worker_ = win::CreateThread([routine = std::move(routine), terminate, window]() -> win::DWORD {
        try {
            routine(terminate);
        } catch (...) {
            // A road's worker must never take the process down, nor leave its connection waiting for a
            // report that cannot come: an attempt still gets its one outcome (2), an established link
            // ends. Whichever does not apply is ignored (the state has moved on) or finds the window gone.
            win::PostMessageW(window, WM_CONNECT_RESULT, VYR_INTERNAL_ERROR, 0);
            win::PostMessageW(window, WM_LINK_LOST, 0, 0);
        }
        return 0;
    });
    if (!worker_) {
        win::CloseHandle(terminate_);
        terminate_ = nullptr;
        return VYR_OUT_OF_RESOURCES;
    }
    return VYR_SUCCESS;
}

void TvyrCustomConnection::StopWorker() {
    if (!worker_)
        return;
    win::SetEvent(terminate_);
    win::WaitForSingleObject(worker_, win::INFINITE);
    win::CloseHandle(worker_);
    win::CloseHandle(terminate_);
    worker_ = nullptr;
    terminate_ = nullptr;
}

// ---------------------------------------------------------------------------------------------------
// TvyrCustomClientConnection

TvyrCustomClientConnection::TvyrCustomClientConnection(vcl::TComponent* owner)
    : TvyrCustomConnection(owner), bluetoothParams_(std::make_unique<TvyrClientBluetoothParams>(this)),
      irdaParams_(std::make_unique<TvyrClientIrDAParams>(this)),
      serialParams_(std::make_unique<TvyrClientSerialParams>(this)) {}

TvyrCustomClientConnection::~TvyrCustomClientConnection() {
    TvyrCustomClientConnection::Disconnect();
}

win::BYTE TvyrCustomClientConnection::GetRequiredTransport() const {
    switch (transport_) {
    case ctBluetooth:
        return TRANSPORT_BLUETOOTH;
    case ctIrDA:
        return TRANSPORT_IRDA;
    case ctSerial:
        return TRANSPORT_SERIAL;
    }
    return 0xFF; // never available
}

int TvyrCustomClientConnection::Connect() {
    if (State() != csClosed)
        return VYR_CONNECTION_EXISTS;
    if (!IsTransportAvailable(GetRequiredTransport()))
        return VYR_TRANSPORT_NOT_AVAILABLE;
    if (!CreateWindow())
        return VYR_OUT_OF_RESOURCES;
    state_ = csConnecting;
    RegisterListenerWindow(Window());

    std::unique_ptr<TvyrTransportRoad> road;
    int result = CreateTransportRoad(*this, road);
    if (result == VYR_SUCCESS) {
        road_ = std::move(road);
        try {
            result = road_->Open();
        } catch (...) {
            result = VYR_INTERNAL_ERROR;
        }
    }
    if (result != VYR_SUCCESS) {
        // Undo everything of the attempt; the caller gets the code and no event follows.
        if (road_) {
            road_->Close();
            road_.reset();
        }
        StopWorker();
        KillConnectTimer();
        KillLinkTimer();
        UnregisterListenerWindow(Window());
        DestroyWindow();
        FreePendingData();
        state_ = csClosed;
    }
    return result;
}

void TvyrCustomClientConnection::Disconnect() {
    TvyrConnectionState was = State();
    if (was != csConnecting && was != csConnected)
        return;
    KillConnectTimer();
    state_ = csDisconnecting;
    if (road_) {
        road_->Close();
        road_.reset();
    }
    StopWorker();
    KillLinkTimer();
    UnregisterListenerWindow(Window());
    DestroyWindow();
    // Cleared before the event, so a handler that connects again starts with nothing left over.
    FreePendingData();
    state_ = csClosed;
    if (was == csConnected)
        DoDisconnect();
}

int TvyrCustomClientConnection::Write(const void* buffer, win::DWORD size) {
    if (!IsConnected())
        return VYR_NOT_CONNECTED;
    if (!buffer && size > 0)
        return VYR_INVALID_ARGUMENT;
    if (!road_)
        return VYR_INTERNAL_ERROR;
    try {
        return road_->Write(buffer, size);
    } catch (...) {
        return VYR_INTERNAL_ERROR;
    }
}

void TvyrCustomClientConnection::DoConnect(int error) {
    if (OnConnect)
        OnConnect(this, error);
}

void TvyrCustomClientConnection::DoDisconnect() {
    if (OnDisconnect)
        OnDisconnect(this);
}

void TvyrCustomClientConnection::ConnectResult(int code) {
    if (State() != csConnecting)
        return;
    KillConnectTimer();
    if (code == VYR_SUCCESS) {
        state_ = csConnected;
        DoConnect(VYR_SUCCESS);
        return;
    }
    // Closed before the event, so the handler may change the parameters and connect again.
    Disconnect();
    DoConnect(code);
}

void TvyrCustomClientConnection::TimerTick(win::UINT_PTR id) {
    // By id and flag: a link tick must never read as a connect time-out.
    if (id == CONNECT_TIMER_ID && connectTimerArmed_) {
        KillConnectTimer();
        win::PostMessageW(Window(), WM_CONNECT_RESULT, VYR_TIMEOUT, 0);
    } else if (id == LINK_TIMER_ID && linkTimerArmed_) {
        KillLinkTimer();
        win::PostMessageW(Window(), WM_LINK_LOST, 0, 0);
    }
}

void TvyrCustomClientConnection::ApiChanged() {
    bool gone = !IsTransportAvailable(GetRequiredTransport());
    if (!gone && transport_ == ctBluetooth) {
        const TvyrBluetoothRadio* radio = bluetoothParams_->Radio();
        gone = !radio || !IsApiAvailable(radio->Api());
    }
    if (gone)
        Disconnect();
}

void TvyrCustomClientConnection::WndProc(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    TvyrCustomConnection::WndProc(msg, wParam, lParam);
    if (msg == win::WM_TIMER) {
        TimerTick(wParam);
    } else if (msg == WM_LINK_LOST) {
        // A road whose bytes still travel through an inner connection reports the loss again itself, after
        // them: a reply that arrived before the hang-up must not be dropped with the link.
        if (State() == csConnected && road_ && road_->DeferLinkLost())
            return;
        if (State() == csConnected) {
            // Bytes that reached the connection before the loss are the peer's last words: they go first
            // (a handler may end the connection meanwhile).
            DeliverData();
            if (State() == csConnected)
                Disconnect();
        } else if (State() == csConnecting) {
            // The road lost the link before it could report: the attempt still gets its one outcome.
            Disconnect();
            DoConnect(VYR_CONNECTION_REJECTED);
        } else {
            Disconnect();
        }
    } else if (msg == WM_API_UNLOADED) {
        Disconnect();
    } else if (msg == WM_API_CHANGED) {
        ApiChanged();
    } else if (msg == WM_CONNECT_RESULT) {
        ConnectResult(static_cast<int>(static_cast<win::INT_PTR>(wParam)));
    } else if (road_ && msg != WM_DATA_PENDING) {
        road_->HandleMessage(msg, wParam, lParam);
    }
}

bool TvyrCustomClientConnection::ArmConnectTimer() {
    if (!Window())
        return false;
    connectTimerArmed_ = win::SetTimer(Window(), CONNECT_TIMER_ID, connectTimeout_, nullptr) != 0;
    return connectTimerArmed_;
}

void TvyrCustomClientConnection::KillConnectTimer() {
    if (!connectTimerArmed_)
        return;
    win::KillTimer(Window(), CONNECT_TIMER_ID);
    connectTimerArmed_ = false;
}

bool TvyrCustomClientConnection::ArmLinkTimer() {
    if (!Window())
        return false;
    linkTimerArmed_ = win::SetTimer(Window(), LINK_TIMER_ID, 1000, nullptr) != 0;
    return linkTimerArmed_;
}

void TvyrCustomClientConnection::KillLinkTimer() {
    if (!linkTimerArmed_)
        return;
    win::KillTimer(Window(), LINK_TIMER_ID);
    linkTimerArmed_ = false;
}

// ---- Parameter properties ----

void TvyrCustomClientConnection::SetBluetoothParams(const TvyrClientBluetoothParams* value) {
    if (value == bluetoothParams_.get())
        return;
    if (!IsClosed())
        throw vyrEConnectionActive(StrConnectionActive);
    if (!value)
        throw vyrEInvalidArgument(StrBluetoothParamsNotValid);
    bluetoothParams_->Assign(value);
}

void TvyrCustomClientConnection::SetIrDAParams(const TvyrClientIrDAParams* value) {
    if (value == irdaParams_.get())
        return;
    if (!IsClosed())
        throw vyrEConnectionActive(StrConnectionActive);
    if (!value)
        throw vyrEInvalidArgument(StrIrDAParamsNotValid);
    irdaParams_->Assign(value);
}

void TvyrCustomClientConnection::SetSerialParams(const TvyrClientSerialParams* value) {
    if (value == serialParams_.get())
        return;
    if (!IsClosed())
        throw vyrEConnectionActive(StrConnectionActive);
    if (!value)
        throw vyrEInvalidArgument(StrSerialParamsNotValid);
    serialParams_->Assign(value);
}

void TvyrCustomClientConnection::SetConnectTimeout(win::DWORD value) {
    if (value == connectTimeout_)
        return;
    if (!IsClosed())
        throw vyrEConnectionActive(StrConnectionActive);
    if (value == 0)
        throw vyrEInvalidArgument(StrTimeoutNotValid);
    connectTimeout_ = value;
}

void TvyrCustomClientConnection::SetTransport(TvyrClientTransport value) {
    if (value == transport_)
        return;
    if (!IsClosed())
        throw vyrEConnectionActive(StrConnectionActive);
    transport_ = value;
}

} // namespace vyr
