// The BlueSoleil road: the stack connects the serial profile and makes a virtual COM port; an inner serial
// connection on that port carries the bytes. The stack's connect call runs on a thread of its own so that
// the attempt can be bounded and abandoned; the inner connection lives on the road's worker, which pumps
// its messages.
#include "vyrBlueSoleil.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrRoads.h"
#include "vyrSync.h"
#include "win32/WinBase.h"
#include "win32/WinUser.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

namespace vyr {

namespace {

namespace bsold = stackabi::bsold;

// One stack SPP connect call at a time in the process.
TvyrSync& BlueSoleilConnectLock() {
    static TvyrSync lock;
    return lock;
}

// What the stack's connect call and the road share. The call's thread may outlive the road: it then
// finds the attempt abandoned and takes down a link that came too late.
struct SppConnect {
    bsold::BLUETOOTH_DEVICE_INFO device{};
    bsold::SPPEX_SERVICE_INFO service{};
    std::mutex mu;
    bool authenticate = false;
    bool abandoned = false;
    int pairing = 0; // a library code when the bond the link needs could not be made
    std::uint32_t result = 0;
    std::uint32_t handle = 0;
    win::HANDLE done = nullptr;
    ~SppConnect() {
        if (done)
            win::CloseHandle(done);
    }
};

class TvyrBlueSoleilRoad : public TvyrTransportRoad {
public:
    using TvyrTransportRoad::TvyrTransportRoad;

    int Open() override {
        const TvyrCustomClientConnection& c = Connection();
        Attempt a;
        a.address = c.BluetoothParams()->Address();
        a.service = c.BluetoothParams()->Service();
        a.channel = c.BluetoothParams()->Channel();
        a.authenticate = c.BluetoothParams()->Authentication();
        a.timeout = c.ConnectTimeout();
        a.readBuffer = c.Buffers()->ReadBuffer();
        a.writeBuffer = c.Buffers()->WriteBuffer();
        a.outer = Window();
        handle_ = 0;
        return StartWorker([this, a](win::HANDLE terminate) { Run(terminate, a); });
    }

    void Close() override {
        StopWorker(); // the worker has freed the inner connection
        if (std::uint32_t h = handle_.exchange(0))
            vyr::BT_DisconnectSPPExService(h);
    }

    int Write(const void* buffer, win::DWORD size) override {
        std::lock_guard lk(innerMu_);
        if (!inner_)
            return VYR_INTERNAL_ERROR;
        return inner_->Write(buffer, size);
    }

    // The stack's notice of a lost link: the inner connection ends once it has handed on what it received,
    // and its own end then closes this connection. The second notice (that one) is acted on.
    bool DeferLinkLost() override {
        std::lock_guard lk(innerMu_);
        if (ending_ || !inner_)
            return false;
        ending_ = InnerEndsAfterDelivery(*inner_);
        return ending_;
    }

private:
    struct Attempt {
        std::u16string address;
        win::GUID service{};
        win::BYTE channel = 0;
        bool authenticate = false;
        win::DWORD timeout = 20000, readBuffer = 4096, writeBuffer = 4096;
        win::HWND outer = nullptr;
    };

    // Bonds with the phone unless it is bonded already: 0, or the pairing's library code.
    static int Bond(const bsold::BLUETOOTH_DEVICE_INFO& device) {
        switch (vyr::BT_PairDevice(&device, 0, "", 0, 0)) {
        case bsold::BT_SUCCESS:
        case bsold::BT_ERROR_ALREADY_PAIRED:
            return VYR_SUCCESS;
        case bsold::BT_ERROR_PAIR_AUTH_FAILED:
            return VYR_AUTHENTICATION_FAILED;
        default:
            return VYR_INTERNAL_ERROR;
        }
    }

    // The stack's connect: 0 connected (handle set), a code to report, or -1 when stopped.
    int ConnectSpp(win::HANDLE terminate, const Attempt& a, std::uint32_t& handle, std::uint8_t& recordPort) {
        auto spp = std::make_shared<SppConnect>();
        spp->device.dwSize = sizeof spp->device;
        AddressTextToBtDeviceInfo(a.address, &spp->device);
        spp->service.dwSize = sizeof spp->service;
        std::memcpy(&spp->service.serviceClassUuid128, &a.service, sizeof a.service);
        spp->service.ucServiceChannel = a.channel;
        spp->done = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
        if (!spp->done)
            return VYR_OUT_OF_RESOURCES;
        spp->authenticate = a.authenticate;
        // Nobody joins this thread: the stack stays open until its call has come back.
        BeginDetachedBlueSoleilCall();
        win::HANDLE thread = win::CreateThread([spp]() -> win::DWORD {
            struct Ended {
                ~Ended() { EndDetachedBlueSoleilCall(); }
            } ended;
            std::uint32_t h = 0, r = 0;
            // The stack's connect takes no security request: an authenticated link is one to a bonded
            // phone, so the bond comes first, the stack asking for the PIN itself as the platform's own
            // pairing does on the Microsoft road. A bond already there is kept.
            const int pairing = spp->authenticate ? Bond(spp->device) : VYR_SUCCESS;
            if (pairing == VYR_SUCCESS) {
                TvyrSyncGuard guard(BlueSoleilConnectLock());
                r = vyr::BT_ConnectSPPExService(&spp->device, &spp->service, &h);
            }
            std::lock_guard lk(spp->mu);
            spp->pairing = pairing;
            spp->result = r, spp->handle = h;
            if (spp->abandoned && r == stackabi::bsold::BT_SUCCESS && h)
                vyr::BT_DisconnectSPPExService(h); // nobody will use this link any more
            win::SetEvent(spp->done);
            return 0;
        });
        if (!thread) {
            EndDetachedBlueSoleilCall();
            return VYR_OUT_OF_RESOURCES;
        }
        win::CloseHandle(thread); // it ends on its own
        win::HANDLE handles[2] = {spp->done, terminate};
        win::DWORD w = win::WaitForMultipleObjects(2, handles, win::FALSE, a.timeout);
        std::lock_guard lk(spp->mu);
        if (w != win::WAIT_OBJECT_0 && win::WaitForSingleObject(spp->done, 0) != win::WAIT_OBJECT_0) {
            spp->abandoned = true;
            return w == win::WAIT_OBJECT_0 + 1 ? -1 : VYR_TIMEOUT;
        }
        if (w == win::WAIT_OBJECT_0 + 1) {
            // Stopped just as the call came back: its link is ours to end.
            if (spp->result == stackabi::bsold::BT_SUCCESS && spp->handle)
                vyr::BT_DisconnectSPPExService(spp->handle);
            return -1;
        }
        if (spp->pairing != VYR_SUCCESS)
            return spp->pairing;
        if (spp->result != stackabi::bsold::BT_SUCCESS || !spp->handle)
            return VYR_INTERNAL_ERROR;
        handle = spp->handle;
        recordPort = spp->service.ucComIndex;
        return VYR_SUCCESS;
    }

    void Run(win::HANDLE terminate, const Attempt& a) {
        std::uint32_t handle = 0;
        std::uint8_t recordPort = 0;
        const int r = ConnectSpp(terminate, a, handle, recordPort);
        if (r < 0)
            return;
        bool registered = false;
        if (r != VYR_SUCCESS) {
            PostConnectResult(r);
        } else {
            RegisterBlueSoleilWindow(static_cast<int>(handle), 0, a.outer);
            registered = true;
            handle_ = handle;
            std::uint32_t serviceClass = 0, size = sizeof(bsold::SPPEX_CONNECT_INFO);
            std::uint16_t role = 0;
            std::uint8_t remote[6] = {};
            bsold::SPPEX_CONNECT_INFO info{};
            info.dwSize = sizeof info;
            std::uint32_t port = 0;
            if (vyr::BT_GetConnectInfo(handle, &serviceClass, &role, remote, &size, &info) == bsold::BT_SUCCESS)
                port = info.ucComPort;
            // The connect call's own record knows the port too, whatever the second call said.
            if (port == 0)
                port = recordPort;
            const int started = port ? OpenInner(a, port) : VYR_INTERNAL_ERROR;
            if (started != VYR_SUCCESS)
                PostConnectResult(started);
        }
        Pump(terminate);
        if (registered)
            UnregisterBlueSoleilWindow(0, a.outer);
        std::unique_ptr<TvyrCustomClientConnection> inner;
        {
            std::lock_guard lk(innerMu_);
            inner = std::move(inner_);
        }
        if (inner)
            inner->Disconnect();
    }

    // The inner serial connection, made on this thread so its window and events belong here.
    int OpenInner(const Attempt& a, std::uint32_t port) {
        auto inner = std::make_unique<TvyrCustomClientConnection>();
        inner->SetTransport(ctSerial);
        inner->SerialParams()->SetPort(port);
        inner->Buffers()->SetReadBuffer(a.readBuffer);
        inner->Buffers()->SetWriteBuffer(a.writeBuffer);
        TvyrCustomClientConnection& outer = Connection();
        const win::HWND window = a.outer;
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
        std::lock_guard lk(innerMu_);
        inner_ = std::move(inner);
        return inner_->Connect();
    }

    void Pump(win::HANDLE terminate) {
        for (;;) {
            win::DWORD w = win::MsgWaitForMultipleObjects(1, &terminate, win::FALSE, win::INFINITE, win::QS_ALLINPUT);
            if (w == win::WAIT_OBJECT_0)
                return;
            win::MSG msg;
            while (win::PeekMessageW(&msg, nullptr, 0, 0, win::PM_REMOVE)) {
                // A write on the owner's thread must not meet the inner connection half torn down.
                std::lock_guard lk(innerMu_);
                win::DispatchMessageW(&msg);
            }
        }
    }

    std::atomic<std::uint32_t> handle_{0};
    std::mutex innerMu_;
    bool ending_ = false; // the inner connection was asked to end after its bytes (under innerMu_)
    std::unique_ptr<TvyrCustomClientConnection> inner_;
};

} // namespace

std::unique_ptr<TvyrTransportRoad> CreateBlueSoleilRoad(TvyrCustomClientConnection& connection) {
    return std::make_unique<TvyrBlueSoleilRoad>(connection);
}

} // namespace vyr
