// The Toshiba road: a step machine on the connection's window. A lookup thread finds the channel; the
// stack makes a virtual COM port, connects it to the phone and reports by messages; an inner serial
// connection on that port then carries the bytes. Everything but the lookup runs on the owner's thread,
// and nothing of it blocks that thread: the waits the stack needs are timed steps.
#include "vyrAPI.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrRoads.h"
#include "vyrToshiba.h"
#include "win32/WinBase.h"
#include "win32/WinUser.h"

#include <memory>
#include <string>

namespace vyr {

namespace {

constexpr std::uint32_t kPortReadyEvent = tos::BTEVENT_COMM_PORT_READY;
// After the stack's connect the port needs a moment before it carries data: two waits of half a second.
constexpr win::UINT kSettleMs = 500;
constexpr win::UINT_PTR kSettleTimer = 1;

class TvyrToshibaRoad : public TvyrTransportRoad {
public:
    using TvyrTransportRoad::TvyrTransportRoad;
    ~TvyrToshibaRoad() override { Teardown(); }

    int Open() override {
        const TvyrClientBluetoothParams* p = Connection().BluetoothParams();
        AddressTextToBytes(p->Address(), address_);
        security_ = (p->Authentication() ? tos::BTSEC_AUTHENTICATE : 0) | (p->Encryption() ? tos::BTSEC_ENCRYPT : 0);
        const win::BYTE channel = p->Channel();
        const std::u16string address = p->Address();
        const win::GUID service = p->Service();
        TvyrBluetoothRadio radio;
        radio.Assign(p->Radio());
        const win::HWND window = Window();
        lookup_ = win::CreateThread([channel, address, service, radio, window]() -> win::DWORD {
            win::BYTE found = channel;
            if (found == 0) {
                try {
                    TvyrBluetoothDevice device;
                    device.SetAddress(address);
                    TvyrBluetoothServices services;
                    if (device.EnumServices(&radio, &services, &service) == VYR_SUCCESS && services.Count() > 0)
                        found = services.Items(0)->Channel();
                } catch (...) {
                    found = 0;
                }
            }
            win::PostMessageW(window, WM_TOSHIBA_CHANNEL_FOUND, found, 0);
            return 0;
        });
        return lookup_ ? VYR_SUCCESS : VYR_OUT_OF_RESOURCES;
    }

    void Close() override { Teardown(); }

    int Write(const void* buffer, win::DWORD size) override {
        return inner_ ? inner_->Write(buffer, size) : VYR_INTERNAL_ERROR;
    }

    bool HandleMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM) override {
        switch (msg) {
        case WM_TOSHIBA_CHANNEL_FOUND:
            ChannelFound(static_cast<win::BYTE>(wParam));
            return true;
        case WM_TOSHIBA_PORT_READY:
            if (step_ == 1)
                PortReady();
            return true;
        case WM_TOSHIBA_CONNECT_STATUS:
            ConnectStatus(wParam);
            return true;
        case WM_TOSHIBA_COMM_STATUS:
            if (step_ == 3 && wParam == tos::BTNOTIFY_COMM_LINK_LOST) {
                KillConnectTimer();
                // The phone's last reply may still be inside the inner connection: it goes first.
                if (!inner_ || !IsConnected() || !InnerEndsAfterDelivery(*inner_))
                    PostLinkLost();
            }
            return true;
        default:
            return false;
        }
    }

private:
    // The settling waits are timed on a window of the road's own, so the connection's messages stay its.
    class SettleWindow : public TvyrHiddenWindowOwner {
    public:
        explicit SettleWindow(TvyrToshibaRoad& road) : road_(road) {}
        void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM) override {
            if (msg == win::WM_TIMER && wParam == kSettleTimer)
                road_.SettleTick();
        }

    private:
        TvyrToshibaRoad& road_;
    };

    stackabi::Hwnd Hwnd() const { return static_cast<stackabi::Hwnd>(Window()); }

    void ChannelFound(win::BYTE channel) {
        if (lookup_) {
            win::WaitForSingleObject(lookup_, win::INFINITE); // it has posted: it is ending
            win::CloseHandle(lookup_);
            lookup_ = nullptr;
        }
        channel_ = channel;
        if (channel_ == 0) {
            PostConnectResult(VYR_SERVICE_NOT_FOUND);
            return;
        }
        if (!vyr::BtNotifyEvent(kPortReadyEvent, &status_, Hwnd(), WM_TOSHIBA_PORT_READY)) {
            PostConnectResult(VYR_INTERNAL_ERROR);
            return;
        }
        for (int n = 1; n <= 255; ++n) {
            const std::string name = "COM" + std::to_string(n);
            if (vyr::BtCreateCOMM(name.c_str(), 0, 0, &status_)) {
                port_ = n;
                portName_ = name;
                break;
            }
        }
        if (port_ == 0) {
            vyr::BtNotifyEvent(0, &status_, nullptr, 0);
            portName_.clear();
            PostConnectResult(VYR_OUT_OF_RESOURCES);
            return;
        }
        step_ = 1;
        // Earlier systems bring this through the stack's own event.
        if (IsVistaOrLater())
            win::PostMessageW(Window(), WM_TOSHIBA_PORT_READY, 0, 0);
    }

    void PortReady() {
        vyr::BtNotifyEvent(0, &status_, nullptr, 0);
        if (!vyr::BtConnectCOMM2(portName_.c_str(), address_, channel_, tos::BTCOMM_CONNECT_KIND, &connection_,
                                 security_, &status_, Hwnd(), WM_TOSHIBA_CONNECT_STATUS, 0)) {
            PostConnectResult(VYR_INTERNAL_ERROR);
            return;
        }
        ArmConnectTimer();
        step_ = 2;
    }

    void ConnectStatus(win::WPARAM status) {
        if (step_ != 2)
            return;
        if (status == tos::BTNOTIFY_COMM_CONNECT_FAILED) {
            failed_ = true;
            return;
        }
        if (status != tos::BTNOTIFY_COMM_CONNECT_END)
            return;
        KillConnectTimer();
        if (failed_) {
            PostConnectResult(VYR_UNABLE_CONNECT);
            return;
        }
        step_ = 3;
        MakeInner();
        if (!vyr::BtNotifyCOMM(portName_.c_str(), tos::BTNOTIFYCOMM_STATUS, address_, connection_, &status_, Hwnd(),
                               WM_TOSHIBA_COMM_STATUS, 0)) {
            PostConnectResult(VYR_INTERNAL_ERROR);
            return;
        }
        // The stack needs a moment before its port carries data: the first of two waits. The owner's
        // thread serves its messages meanwhile; one of them may end this road, which ends the waits too.
        settleWindow_ = CreateHiddenWindow();
        if (settleWindow_)
            AttachHiddenWindow(settleWindow_, &settle_);
        if (!settleWindow_ || !win::SetTimer(settleWindow_, kSettleTimer, kSettleMs, nullptr)) {
            DestroyHiddenWindow(settleWindow_);
            PostConnectResult(VYR_OUT_OF_RESOURCES);
            return;
        }
        settleWaits_ = 2;
    }

    void SettleTick() {
        if (--settleWaits_ > 0) {
            // The second wait runs its whole length from here, however late this tick came.
            if (win::SetTimer(settleWindow_, kSettleTimer, kSettleMs, nullptr))
                return;
            EndSettling();
            PostConnectResult(VYR_OUT_OF_RESOURCES);
            return;
        }
        EndSettling();
        if (step_ != 3 || !inner_)
            return;
        PostConnectResult(inner_->Connect());
    }

    void EndSettling() {
        if (settleWindow_)
            win::KillTimer(settleWindow_, kSettleTimer);
        DestroyHiddenWindow(settleWindow_);
        settleWaits_ = 0;
    }

    void MakeInner() {
        auto inner = std::make_unique<TvyrCustomClientConnection>();
        inner->SetTransport(ctSerial);
        inner->SerialParams()->SetPort(static_cast<win::DWORD>(port_));
        inner->Buffers()->SetReadBuffer(Connection().Buffers()->ReadBuffer());
        inner->Buffers()->SetWriteBuffer(Connection().Buffers()->WriteBuffer());
        TvyrCustomClientConnection& outer = Connection();
        const win::HWND window = Window();
        inner->OnData = [&outer, window](vcl::TObject*, const void* buffer, win::DWORD size) {
            if (!outer.IsConnected())
                return;
            outer.AppendData(buffer, size);
            win::PostMessageW(window, WM_DATA_PENDING, 0, 0);
        };
        inner->OnConnect = [window](vcl::TObject*, int error) {
            win::PostMessageW(window, WM_CONNECT_RESULT, static_cast<win::WPARAM>(static_cast<win::INT_PTR>(error)), 0);
        };
        // The port going away is the link going away.
        inner->OnDisconnect = [window](vcl::TObject*) { win::PostMessageW(window, WM_LINK_LOST, 0, 0); };
        inner_ = std::move(inner);
    }

    void Teardown() {
        EndSettling();
        if (lookup_) {
            win::WaitForSingleObject(lookup_, win::INFINITE);
            win::CloseHandle(lookup_);
            lookup_ = nullptr;
        } else if (step_ == 1) {
            vyr::BtNotifyEvent(0, &status_, nullptr, 0);
            // The port made for this attempt goes with it.
            vyr::BtDestroyCOMM(portName_.c_str(), &status_);
        } else if (step_ == 2 || step_ == 3) {
            const std::uint8_t none[6] = {};
            if (step_ == 3 && inner_) {
                std::unique_ptr<TvyrCustomClientConnection> inner = std::move(inner_);
                inner->OnDisconnect = nullptr; // ending on purpose
                inner->Disconnect();
            }
            vyr::BtNotifyCOMM(portName_.c_str(), tos::BTNOTIFYCOMM_OFF, step_ == 3 ? address_ : none, connection_,
                              &status_, nullptr, 0, 0);
            vyr::BtDisconnectCOMM(portName_.c_str(), &status_);
            vyr::BtDestroyCOMM(portName_.c_str(), &status_);
        }
        inner_.reset();
        connection_ = 0;
        channel_ = 0;
        failed_ = false;
        port_ = 0;
        portName_.clear();
        step_ = 0;
        status_ = 0;
    }

    win::HANDLE lookup_ = nullptr;
    std::uint8_t address_[6] = {};
    std::uint32_t security_ = 0;
    win::BYTE channel_ = 0;
    int step_ = 0;
    bool failed_ = false;
    int port_ = 0;
    std::string portName_;
    std::uint16_t connection_ = 0;
    tos::BTSTATUS status_ = 0;
    std::unique_ptr<TvyrCustomClientConnection> inner_;
    SettleWindow settle_{*this};
    win::HWND settleWindow_ = nullptr;
    int settleWaits_ = 0;
};

} // namespace

std::unique_ptr<TvyrTransportRoad> CreateToshibaRoad(TvyrCustomClientConnection& connection) {
    return std::make_unique<TvyrToshibaRoad>(connection);
}

} // namespace vyr
