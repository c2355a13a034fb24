// The socket roads: IrDA and RFCOMM on the Microsoft stack. A worker connects in event-select mode; writes
// run on the caller's thread. The socket is closed only by Close, after the worker is joined, so a write
// on the owner's thread never meets a closed (and perhaps reused) descriptor.
//
// Once connected the worker ends and the socket is selected to the connection's window: the owner's own
// message wait watches it and each notice is read on the owner's thread, so a reply wakes that one thread
// on its way to the session, as a blocking client's read would. The next notice comes only after the
// read, so one data message is pending at a time. A stop shuts the socket down first; the terminate
// event still ends every wait of the connect.
#include "vcl/SysUtils.h"
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrMicrosoft.h"
#include "vyrRoads.h"
#include "win32/Sockets.h"
#include "win32/WinBase.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace vyr {

namespace {

constexpr win::DWORD kSendRoomWaitMs = 30000;

class TvyrSocketRoad : public TvyrTransportRoad {
public:
    TvyrSocketRoad(TvyrCustomClientConnection& connection, bool irda) : TvyrTransportRoad(connection), irda_(irda) {}
    ~TvyrSocketRoad() override { CloseSocket(); }

    int Open() override {
        // Everything the worker needs is copied here, on the owner's thread.
        TvyrCustomClientConnection& c = Connection();
        Attempt a;
        a.readSize = c.Buffers()->ReadBuffer();
        buffer_.assign(a.readSize ? a.readSize : 1, '\0');
        lost_ = false;
        a.writeSize = c.Buffers()->WriteBuffer();
        a.timeout = c.ConnectTimeout();
        if (irda_) {
            a.address = c.IrDAParams()->Address();
            a.service = c.IrDAParams()->Service();
            a.nineWire = c.IrDAParams()->NineWire();
        } else {
            const TvyrClientBluetoothParams* p = c.BluetoothParams();
            a.address = p->Address();
            a.authentication = p->Authentication();
            a.encryption = p->Encryption();
            a.serviceClass = p->Service();
            a.channel = p->Channel();
            a.pairing = RfcommPairing();
        }
        return StartWorker([this, a](win::HANDLE terminate) { Run(terminate, a); });
    }

    void Close() override {
        // Set before the socket is read: a worker that makes its socket after this sees the flag.
        stopping_.store(true);
        const win::SOCKET s = socket_.load();
        if (s != win::INVALID_SOCKET)
            win::shutdown(s, win::SD_BOTH);
        StopWorker();
        CloseSocket();
    }

    int Write(const void* buffer, win::DWORD size) override {
        const win::SOCKET s = socket_.load();
        if (s == win::INVALID_SOCKET)
            return VYR_INTERNAL_ERROR;
        const char* p = static_cast<const char*>(buffer);
        win::DWORD sent = 0;
        while (sent < size) {
            int n = win::send(s, p + sent, static_cast<int>(std::min<win::DWORD>(size - sent, 1u << 30)), 0);
            if (n > 0) {
                sent += static_cast<win::DWORD>(n);
                continue;
            }
            if (n == win::SOCKET_ERROR && win::WSAGetLastError() == win::WSAEWOULDBLOCK) {
                // The send buffer is full: wait, bounded, for the peer to take some. The socket is read
                // on this thread only, so what the peer sends meanwhile is taken in here (and delivered
                // once the owner pumps again): a peer that talks back while it takes a long write would
                // otherwise wait for us as we wait for it.
                win::fd_set writable{}, readable{};
                writable.fd_count = readable.fd_count = 1;
                writable.fd_array[0] = readable.fd_array[0] = s;
                win::timeval limit{static_cast<win::LONG>(kSendRoomWaitMs / 1000), 0};
                if (win::select(0, lost_ ? nullptr : &readable, &writable, nullptr, &limit) > 0) {
                    if (!lost_ && readable.fd_count == 1)
                        Receive(s);
                    continue;
                }
            }
            return VYR_INTERNAL_ERROR;
        }
        return VYR_SUCCESS;
    }

    // A notice of the selected socket, on the owner's thread.
    bool HandleMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM) override {
        if (msg != WM_SOCKET_NOTIFY)
            return false;
        const win::SOCKET s = socket_.load();
        if (s != win::INVALID_SOCKET && wParam == s && !lost_ && !stopping_.load())
            Receive(s);
        return true;
    }

private:
    // One receive, handed on as it came. End of stream, or any failure other than "nothing there yet", is
    // a lost link, reported once.
    void Receive(win::SOCKET s) {
        const int n = win::recv(s, buffer_.data(), static_cast<int>(buffer_.size()), 0);
        if (n > 0) {
            PostData(buffer_.data(), static_cast<win::DWORD>(n));
        } else if (n == 0 || win::WSAGetLastError() != win::WSAEWOULDBLOCK) {
            lost_ = true;
            PostLinkLost();
        }
    }

    struct Attempt {
        win::DWORD readSize = 4096, writeSize = 4096, timeout = 20000;
        std::u16string address, service;
        bool nineWire = false, authentication = false, encryption = false;
        win::GUID serviceClass{};
        win::BYTE channel = 0;
        TvyrRfcommPairing pairing;
    };

    void CloseSocket() {
        win::SOCKET s = socket_.exchange(win::INVALID_SOCKET);
        if (s != win::INVALID_SOCKET)
            win::closesocket(s);
    }

    static bool SetInt(win::SOCKET s, int level, int option, int value) {
        std::int32_t v = value;
        return win::setsockopt(s, level, option, reinterpret_cast<const char*>(&v), sizeof v) == 0;
    }

    // The pairing step of an authenticated RFCOMM link: 0 to go on, a code to report, -1 when stopped.
    static int Pair(win::HANDLE terminate, const Attempt& a) {
        if (!a.authentication || !a.pairing.Authenticate)
            return VYR_SUCCESS;
        if (a.pairing.IsAuthenticated && a.pairing.IsAuthenticated(a.address))
            return VYR_SUCCESS;
        // The user may take as long as they like to answer; a stop must still end the worker at once,
        // so the question runs on a thread of its own that is left to finish alone.
        auto result = std::make_shared<std::atomic<unsigned>>(0);
        auto authenticate = a.pairing.Authenticate;
        std::u16string address = a.address;
        win::HANDLE pairer = win::CreateThread([result, authenticate, address]() -> win::DWORD {
            result->store(authenticate(address));
            return 0;
        });
        if (!pairer)
            return VYR_SUCCESS;
        win::HANDLE handles[2] = {terminate, pairer};
        win::DWORD w = win::WaitForMultipleObjects(2, handles, win::FALSE, win::INFINITE);
        win::CloseHandle(pairer);
        if (w == win::WAIT_OBJECT_0)
            return -1;
        return PairingResultToError(result->load());
    }

    void Run(win::HANDLE terminate, const Attempt& a) {
        if (!irda_) {
            int paired = Pair(terminate, a);
            if (paired < 0)
                return;
            if (paired != VYR_SUCCESS) {
                PostConnectResult(paired);
                return;
            }
        }
        win::SOCKET s = irda_ ? win::socket(win::WS_AF_IRDA, win::WS_SOCK_STREAM, 0)
                              : win::socket(win::AF_BTH, win::WS_SOCK_STREAM, win::BTHPROTO_RFCOMM);
        if (s == win::INVALID_SOCKET) {
            PostConnectResult(VYR_OUT_OF_RESOURCES);
            return;
        }
        socket_.store(s);
        win::WSAEVENT event = nullptr;
        int code = Connect(terminate, a, s, event);
        if (event) {
            win::WSAEventSelect(s, nullptr, 0);
            win::WSACloseEvent(event);
        }
        if (code < 0)
            return;
        PostConnectResult(code);
        // Selected after the result is posted, so every notice finds the connection established.
        if (code == VYR_SUCCESS && !stopping_.load() &&
            win::WSAAsyncSelect(s, Window(), WM_SOCKET_NOTIFY, win::FD_READ | win::FD_CLOSE) != 0)
            PostLinkLost();
    }

    // The connect steps: a code to post, or -1 when stopped (nothing is posted then).
    int Connect(win::HANDLE terminate, const Attempt& a, win::SOCKET s, win::WSAEVENT& event) {
        if (!SetInt(s, win::WS_SOL_SOCKET, win::WS_SO_RCVBUF, static_cast<int>(a.readSize)) ||
            !SetInt(s, win::WS_SOL_SOCKET, win::WS_SO_SNDBUF, static_cast<int>(a.writeSize)))
            return VYR_INTERNAL_ERROR;
        SetInt(s, win::WS_SOL_SOCKET, win::WS_SO_REUSEADDR, 1);
        if (irda_) {
            if (a.nineWire && !SetInt(s, win::SOL_IRLMP, win::IRLMP_9WIRE_MODE, 1))
                return VYR_INTERNAL_ERROR;
        } else if (!SetInt(s, win::SOL_RFCOMM, win::SO_BTH_AUTHENTICATE, a.authentication) ||
                   !SetInt(s, win::SOL_RFCOMM, win::SO_BTH_ENCRYPT, a.encryption)) {
            return VYR_INTERNAL_ERROR;
        }
        event = win::WSACreateEvent();
        if (!event)
            return VYR_OUT_OF_RESOURCES;
        if (win::WSAEventSelect(s, event, win::FD_CONNECT) != 0)
            return VYR_INTERNAL_ERROR;

        int rc;
        if (irda_) {
            win::SOCKADDR_IRDA addr{};
            addr.irdaAddressFamily = win::WS_AF_IRDA;
            try {
                AddressTextToIrDADeviceId(a.address, &addr);
            } catch (const vcl::Exception&) {
                return VYR_INTERNAL_ERROR;
            }
            std::string name = vcl::Utf16ToUtf8(a.service);
            // The field holds 24 characters; a cut name would reach some other service.
            if (name.size() >= sizeof addr.irdaServiceName)
                return VYR_SERVICE_NOT_FOUND;
            std::memcpy(addr.irdaServiceName, name.data(), name.size());
            rc = win::connect(s, &addr, sizeof addr);
        } else {
            win::SOCKADDR_BTH addr{};
            int length = sizeof addr;
            if (win::WSAStringToAddressW(a.address.c_str(), win::AF_BTH, nullptr, &addr, &length) != 0)
                return VYR_INTERNAL_ERROR;
            static_assert(sizeof addr.serviceClassId == sizeof a.serviceClass);
            std::memcpy(&addr.serviceClassId, &a.serviceClass, sizeof a.serviceClass);
            addr.port = a.channel;
            rc = win::connect(s, &addr, sizeof addr);
        }
        if (rc != 0 && win::WSAGetLastError() != win::WSAEWOULDBLOCK)
            return VYR_INTERNAL_ERROR;

        win::HANDLE handles[2] = {terminate, event};
        switch (win::WaitForMultipleObjects(2, handles, win::FALSE, a.timeout)) {
        case win::WAIT_TIMEOUT:
            return VYR_TIMEOUT;
        case win::WAIT_OBJECT_0:
            return -1;
        case win::WAIT_OBJECT_0 + 1: {
            win::WSANETWORKEVENTS ne{};
            if (win::WSAEnumNetworkEvents(s, event, &ne) != 0)
                return VYR_INTERNAL_ERROR;
            return SocketErrorToError(ne.iErrorCode[win::FD_CONNECT_BIT],
                                      irda_ ? VYR_UNABLE_CONNECT : VYR_ACCESS_DENIED);
        }
        default:
            return VYR_INTERNAL_ERROR;
        }
    }

    const bool irda_;
    std::atomic<win::SOCKET> socket_{win::INVALID_SOCKET};
    std::atomic<bool> stopping_{false};
    // The owner's thread only.
    std::vector<char> buffer_;
    bool lost_ = false;
};

} // namespace

namespace {

// The device record the Microsoft stack's device calls take: its size and the address.
bool MsDeviceRecord(const std::u16string& address, ms::BLUETOOTH_DEVICE_INFO& info) {
    info = ms::BLUETOOTH_DEVICE_INFO{};
    info.dwSize = sizeof info;
    try {
        AddressTextToMsDeviceInfo(address, &info);
    } catch (const vcl::Exception&) {
        return false;
    }
    return true;
}

TvyrRfcommPairing MicrosoftPairing() {
    TvyrRfcommPairing p;
    p.IsAuthenticated = [](const std::u16string& address) {
        ms::BLUETOOTH_DEVICE_INFO info;
        return MsDeviceRecord(address, info) && vyr::BluetoothGetDeviceInfo(nullptr, &info) == 0 &&
               info.fAuthenticated != 0;
    };
    p.Authenticate = [](const std::u16string& address) -> unsigned {
        ms::BLUETOOTH_DEVICE_INFO info;
        if (!MsDeviceRecord(address, info))
            return 87;
        return vyr::BluetoothAuthenticateDevice(nullptr, nullptr, &info, nullptr, 0);
    };
    return p;
}

} // namespace

TvyrRfcommPairing& RfcommPairing() {
    static TvyrRfcommPairing pairing = MicrosoftPairing();
    return pairing;
}

void RestoreRfcommPairing() {
    RfcommPairing() = MicrosoftPairing();
}

int PairingResultToError(unsigned platformCode) {
    switch (platformCode) {
    case 0:
        return VYR_SUCCESS;
    case 5:
        return VYR_ACCESS_DENIED;
    case 259:
        return VYR_ALREADY_PAIRED;
    case 1223:
        return VYR_CANCELLED_BY_USER;
    case 1244:
        return VYR_AUTHENTICATION_FAILED;
    default:
        return VYR_INTERNAL_ERROR;
    }
}

int SocketErrorToError(int socketError, int invalidArgument) {
    switch (socketError) {
    case 0:
        return VYR_SUCCESS;
    case win::WSAEACCES:
        return VYR_ACCESS_DENIED;
    case win::WSAEINVAL:
        return invalidArgument;
    case win::WSAEADDRINUSE:
    case win::WSAEISCONN:
        return VYR_CONNECTION_EXISTS;
    case win::WSAEADDRNOTAVAIL:
        return VYR_SERVICE_NOT_FOUND;
    case win::WSAECONNABORTED:
        return VYR_CANCELLED_BY_USER;
    case win::WSAETIMEDOUT:
        return VYR_TIMEOUT;
    case win::WSAECONNREFUSED:
    case win::WSAEHOSTDOWN:
        return VYR_CONNECTION_REJECTED;
    default:
        return VYR_UNABLE_CONNECT;
    }
}

std::unique_ptr<TvyrTransportRoad> CreateMicrosoftRoad(TvyrCustomClientConnection& connection) {
    return std::make_unique<TvyrSocketRoad>(connection, false);
}

std::unique_ptr<TvyrTransportRoad> CreateIrDARoad(TvyrCustomClientConnection& connection) {
    return std::make_unique<TvyrSocketRoad>(connection, true);
}

} // namespace vyr
