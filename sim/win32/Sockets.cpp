// Sockets over real descriptors; links come from the simulated air. One watcher thread records the
// network events of every event-selected socket.
#include "win32/Sockets.h"

#include "sim/air/Air.h"
#include "sim/air/FarEnd.h"
#include "sim/air/ObexLink.h"
#include "sim/win32/Queues.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace win {

namespace {

struct Sock {
    int family = 0;
    unsigned long long gen = 0;
    bool connected = false;
    bool connecting = false; // an unanswered connect
    bool connectDone = false;
    int connectError = 0;
    bool connectReported = false;
    HANDLE event = nullptr;
    LONG mask = 0;
    LONG recorded = 0;
    int errors[FD_MAX_EVENTS] = {};
    bool readArmed = true;
    bool closeReported = false;
    bool authenticate = false;
    int rcvbuf = 0, sndbuf = 0;
};

struct Table {
    std::mutex mu;
    std::map<int, Sock> socks;
    unsigned long long nextGen = 1;
    int wakeFd = -1;
    bool watcherStarted = false;
};

Table& T() {
    static Table* t = new Table; // the watcher thread outlives static destruction
    return *t;
}

int Fail(int error) {
    WSASetLastError(error);
    return SOCKET_ERROR;
}

// The entry of a connected socket of ours, or null with the Windows error the call must fail with.
// The caller holds T().mu.
Sock* ConnectedSock(SOCKET s, int& error) {
    auto it = T().socks.find(static_cast<int>(s));
    if (s == INVALID_SOCKET || it == T().socks.end()) {
        error = WSAENOTSOCK;
        return nullptr;
    }
    if (!it->second.connected) {
        error = WSAENOTCONN;
        return nullptr;
    }
    return &it->second;
}

void Wake() {
    if (T().wakeFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(T().wakeFd, &one, sizeof one);
    }
}

void RecordLocked(Sock& s, int bit, int error) {
    s.recorded |= (1 << bit);
    s.errors[bit] = error;
    if (s.event)
        SetEvent(s.event);
}

bool Watched(const Sock& s) {
    return s.event && s.connected && s.readArmed && !s.closeReported && (s.mask & (FD_READ | FD_CLOSE));
}

void WatchLoop() {
    auto& t = T();
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<unsigned long long> gens;
        {
            std::lock_guard lk(t.mu);
            fds.push_back({t.wakeFd, POLLIN, 0});
            gens.push_back(0);
            for (auto& [fd, s] : t.socks)
                if (Watched(s)) {
                    fds.push_back({fd, POLLIN | POLLRDHUP, 0});
                    gens.push_back(s.gen);
                }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno != EINTR)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (fds[0].revents) {
            uint64_t v;
            [[maybe_unused]] ssize_t n = ::read(t.wakeFd, &v, sizeof v);
        }
        std::lock_guard lk(t.mu);
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            auto it = t.socks.find(fds[i].fd);
            if (it == t.socks.end() || it->second.gen != gens[i] || !Watched(it->second))
                continue;
            Sock& s = it->second;
            char c;
            ssize_t r = ::recv(fds[i].fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
            if (r > 0) {
                // One FD_READ until the next recv, as the system does.
                s.readArmed = false;
                if (s.mask & FD_READ)
                    RecordLocked(s, FD_READ_BIT, 0);
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                // Only once every byte was read: the reader would lose what follows a close event.
                s.closeReported = true;
                if (s.mask & FD_CLOSE)
                    RecordLocked(s, FD_CLOSE_BIT, r == 0 ? 0 : WSAECONNRESET);
            }
        }
    }
}

void EnsureWatcherLocked() {
    auto& t = T();
    if (t.watcherStarted)
        return;
    t.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    t.watcherStarted = true;
    std::thread(WatchLoop).detach();
}

int ErrnoToWsa(int e) {
    switch (e) {
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case ENETDOWN:
        return WSAENETDOWN;
    case EHOSTUNREACH:
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case EACCES:
        return WSAEACCES;
    case EPIPE:
    case ECONNRESET:
        return WSAECONNRESET;
    case ENOTCONN:
        return WSAENOTCONN;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case ENOMEM:
    case ENOBUFS:
        return WSAENOBUFS;
    default:
        return WSAEINVAL;
    }
}

constexpr int kSilent = -2;

// A scripted far end's answer: a descriptor, kSilent, or -1 with the error.
int OpenScripted(const air::FarEnd& script, int& error) {
    switch (script.mode) {
    case air::FarEndMode::Refuse:
        error = WSAECONNREFUSED;
        return -1;
    case air::FarEndMode::Silence:
        return kSilent;
    default: {
        int fd = air::OpenFarEnd(script);
        if (fd < 0)
            error = ErrnoToWsa(errno);
        return fd;
    }
    }
}

int OpenRfcommLink(const SOCKADDR_BTH& a, bool authenticate, int& error) {
    air::Address addr{};
    for (int i = 0; i < 6; ++i)
        addr[5 - i] = static_cast<uint8_t>(a.btAddr >> (8 * i));
    constexpr int kMicrosoft = static_cast<int>(air::StackKind::Microsoft);
    air::Air& air = air::Air::Instance();
    if (!air.RadioPresent(kMicrosoft)) {
        error = WSAENETDOWN;
        return -1;
    }
    auto phone = air.FindPhone(addr);
    if (!phone || !phone->ReachableFrom(kMicrosoft)) {
        error = WSAETIMEDOUT; // nobody answers the page
        return -1;
    }
    uint8_t channel = static_cast<uint8_t>(a.port);
    if (a.port > 30) {
        error = WSAEINVAL;
        return -1;
    }
    if (channel == 0) {
        // The address is packed and its GUID sits at offset 10: copy it out, never refer to it in place.
        stackabi::AbiGuid serviceClass{};
        std::memcpy(&serviceClass, reinterpret_cast<const uint8_t*>(&a) + offsetof(SOCKADDR_BTH, serviceClassId),
                    sizeof serviceClass);
        auto want = air::Service::FromGuid(serviceClass);
        for (const auto& s : phone->services)
            if (s.uuid == want) {
                channel = s.channel;
                break;
            }
    } else if (!air::FindRfcommFarEnd(addr, channel)) {
        bool offered = std::any_of(phone->services.begin(), phone->services.end(),
                                   [&](const air::Service& s) { return s.channel == channel; });
        if (!offered)
            channel = 0;
    }
    if (channel == 0) {
        error = WSAEADDRNOTAVAIL;
        return -1;
    }
    if (phone->link == air::LinkPolicy::Refuse) {
        error = WSAECONNREFUSED;
        return -1;
    }
    if (phone->link == air::LinkPolicy::NeedsPairing && !phone->pairing.paired) {
        // Without a bond the phone's security manager turns the link down; an authenticated socket
        // would have had to pair first.
        error = WSAEACCES;
        (void)authenticate;
        return -1;
    }
    if (auto script = air::FindRfcommFarEnd(addr, channel))
        return OpenScripted(*script, error);
    int fd = air::ConnectRfcomm(kMicrosoft, addr, channel);
    if (fd < 0)
        error = ErrnoToWsa(errno);
    return fd;
}

int OpenIrdaLink(const SOCKADDR_IRDA& a, int& error) {
    if (!air::Air::Instance().IrdaPresent()) {
        error = WSAENETDOWN;
        return -1;
    }
    air::IrdaDeviceId id;
    std::memcpy(id.data(), a.irdaDeviceID, 4);
    std::string service(a.irdaServiceName, strnlen(a.irdaServiceName, sizeof a.irdaServiceName));
    if (auto script = air::FindIrdaFarEnd(id, service))
        return OpenScripted(*script, error);
    error = air::IrdaDeviceKnown(id) ? WSAEADDRNOTAVAIL : WSAETIMEDOUT;
    return -1;
}

void ApplyBuffers(int fd, const Sock& s) {
    if (s.rcvbuf > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &s.rcvbuf, sizeof s.rcvbuf);
    if (s.sndbuf > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &s.sndbuf, sizeof s.sndbuf);
}

} // namespace

SOCKET socket(int af, int type, int protocol) {
    if (test::ShouldFail("socket")) {
        WSASetLastError(WSAENOBUFS);
        return INVALID_SOCKET;
    }
    if (af != AF_BTH && af != WS_AF_IRDA) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (type != WS_SOCK_STREAM || (af == AF_BTH && protocol != BTHPROTO_RFCOMM) ||
        (af == WS_AF_IRDA && protocol != 0)) {
        WSASetLastError(WSAEINVAL);
        return INVALID_SOCKET;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        WSASetLastError(ErrnoToWsa(errno));
        return INVALID_SOCKET;
    }
    std::lock_guard lk(T().mu);
    EnsureWatcherLocked();
    Sock s;
    s.family = af;
    s.gen = T().nextGen++;
    T().socks[fd] = s;
    return static_cast<SOCKET>(fd);
}

int closesocket(SOCKET s) {
    {
        std::lock_guard lk(T().mu);
        auto it = T().socks.find(static_cast<int>(s));
        if (s == INVALID_SOCKET || it == T().socks.end())
            return Fail(WSAENOTSOCK);
        T().socks.erase(it);
        WatchSocket(static_cast<int>(s), nullptr, 0, 0);
        // The watcher's poll may still hold the descriptor and so keep the link up after close: the
        // shutdown ends it for the peer at once.
        ::shutdown(static_cast<int>(s), SHUT_RDWR);
        ::close(static_cast<int>(s)); // under the lock, so the watcher never peeks a reused number
    }
    Wake();
    return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    std::lock_guard lk(T().mu);
    auto it = T().socks.find(static_cast<int>(s));
    if (s == INVALID_SOCKET || it == T().socks.end())
        return Fail(WSAENOTSOCK);
    if (!optval || optlen < static_cast<int>(sizeof(int32_t)))
        return Fail(WSAEFAULT);
    if (test::ShouldFail("setsockopt"))
        return Fail(WSAENOBUFS);
    int32_t v;
    std::memcpy(&v, optval, sizeof v);
    Sock& k = it->second;
    if (level == WS_SOL_SOCKET) {
        if (optname == WS_SO_RCVBUF || optname == WS_SO_SNDBUF) {
            if (v < 0)
                return Fail(WSAEINVAL);
            (optname == WS_SO_RCVBUF ? k.rcvbuf : k.sndbuf) = v;
            ApplyBuffers(static_cast<int>(s), k);
            return 0;
        }
        if (optname == WS_SO_REUSEADDR)
            return 0;
    } else if (level == SOL_RFCOMM && k.family == AF_BTH) {
        if (optname == SO_BTH_AUTHENTICATE) {
            k.authenticate = v != 0;
            return 0;
        }
        if (optname == SO_BTH_ENCRYPT)
            return 0;
    } else if (level == SOL_IRLMP && k.family == WS_AF_IRDA && optname == IRLMP_9WIRE_MODE) {
        return 0;
    }
    return Fail(WSAENOPROTOOPT);
}

int connect(SOCKET s, const void* name, int namelen) {
    int family;
    bool authenticate;
    {
        std::lock_guard lk(T().mu);
        auto it = T().socks.find(static_cast<int>(s));
        if (s == INVALID_SOCKET || it == T().socks.end())
            return Fail(WSAENOTSOCK);
        if (it->second.connected)
            return Fail(WSAEISCONN);
        if (it->second.connecting)
            return Fail(WSAEALREADY);
        it->second.connecting = true;
        family = it->second.family;
        authenticate = it->second.authenticate;
    }
    int error = 0;
    int fd = -1;
    if (!name) {
        error = WSAEFAULT;
    } else if (test::ShouldFail("connect")) {
        error = WSAECONNREFUSED;
    } else if (family == AF_BTH) {
        if (namelen < static_cast<int>(sizeof(SOCKADDR_BTH))) {
            error = WSAEFAULT;
        } else {
            SOCKADDR_BTH a;
            std::memcpy(&a, name, sizeof a);
            fd = a.addressFamily == AF_BTH ? OpenRfcommLink(a, authenticate, error) : (error = WSAEAFNOSUPPORT, -1);
        }
    } else {
        if (namelen < static_cast<int>(sizeof(SOCKADDR_IRDA))) {
            error = WSAEFAULT;
        } else {
            SOCKADDR_IRDA a;
            std::memcpy(&a, name, sizeof a);
            fd = a.irdaAddressFamily == WS_AF_IRDA ? OpenIrdaLink(a, error) : (error = WSAEAFNOSUPPORT, -1);
        }
    }
    std::unique_lock lk(T().mu);
    auto it = T().socks.find(static_cast<int>(s));
    if (it == T().socks.end()) { // closed meanwhile by another thread
        if (fd >= 0)
            ::close(fd);
        return Fail(WSAENOTSOCK);
    }
    Sock& k = it->second;
    if (fd >= 0) {
        int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        ApplyBuffers(fd, k);
        if (::dup3(fd, static_cast<int>(s), O_CLOEXEC) < 0)
            error = ErrnoToWsa(errno);
        else
            k.connected = true;
        ::close(fd);
    }
    const bool eventMode = k.event != nullptr || k.mask != 0;
    if (fd == kSilent) {
        if (!eventMode) {
            k.connecting = false;
            return Fail(WSAETIMEDOUT);
        }
        return Fail(WSAEWOULDBLOCK); // stays unanswered
    }
    k.connecting = false;
    k.connectDone = true;
    k.connectError = error;
    k.gen = T().nextGen++;
    if (!eventMode)
        return error ? Fail(error) : 0;
    if (k.mask & FD_CONNECT) {
        k.connectReported = true;
        RecordLocked(k, FD_CONNECT_BIT, error);
    }
    lk.unlock();
    Wake();
    return Fail(WSAEWOULDBLOCK);
}

int send(SOCKET s, const char* buf, int len, int) {
    if (test::ShouldFail("send"))
        return Fail(WSAECONNRESET);
    if (!buf || len < 0)
        return Fail(WSAEFAULT);
    {
        std::lock_guard lk(T().mu);
        int error = 0;
        if (!ConnectedSock(s, error))
            return Fail(error);
    }
    for (;;) {
        ssize_t n = ::send(static_cast<int>(s), buf, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno != EINTR)
            return Fail(ErrnoToWsa(errno));
    }
}

int shutdown(SOCKET s, int how) {
    int mode = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : how == SD_BOTH ? SHUT_RDWR : -1;
    if (mode < 0)
        return Fail(WSAEINVAL);
    std::lock_guard lk(T().mu);
    int error = 0;
    if (!ConnectedSock(s, error))
        return Fail(error);
    if (::shutdown(static_cast<int>(s), mode) != 0)
        return Fail(ErrnoToWsa(errno));
    return 0;
}

int recv(SOCKET s, char* buf, int len, int) {
    if (!buf || len < 0)
        return Fail(WSAEFAULT);
    bool failed = test::ShouldFail("recv");
    int result;
    bool rearmed;
    {
        std::lock_guard lk(T().mu);
        int error = 0;
        Sock* sock = ConnectedSock(s, error);
        if (!sock)
            return Fail(error);
        // The next byte raises FD_READ again; the watcher is woken only when it has a socket to take back.
        rearmed = !sock->readArmed;
        sock->readArmed = true;
        rearmed = rearmed && Watched(*sock);
        ssize_t n;
        do
            n = failed ? (errno = ECONNRESET, -1)
                       : ::recv(static_cast<int>(s), buf, static_cast<size_t>(len), MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        result = n >= 0 ? static_cast<int>(n) : Fail(ErrnoToWsa(errno));
    }
    if (rearmed)
        Wake();
    RearmSocketWatch(static_cast<int>(s));
    return result;
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, LONG events) {
    std::lock_guard lk(T().mu);
    auto it = T().socks.find(static_cast<int>(s));
    if (s == INVALID_SOCKET || it == T().socks.end())
        return Fail(WSAENOTSOCK);
    if (test::ShouldFail("WSAAsyncSelect"))
        return Fail(WSAENOBUFS);
    events &= FD_READ | FD_CLOSE;
    if (hwnd && events == 0)
        return Fail(WSAEINVAL);
    // One way of selection at a time, as the system has it.
    it->second.event = nullptr;
    it->second.mask = 0;
    if (int error = WatchSocket(static_cast<int>(s), hwnd, msg, events))
        return Fail(error);
    return 0;
}

int select(int, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout) {
    std::vector<pollfd> fds;
    auto add = [&](fd_set* set, short events) {
        if (!set)
            return;
        for (unsigned i = 0; i < std::min<unsigned>(set->fd_count, FD_SETSIZE_WS); ++i)
            fds.push_back({static_cast<int>(set->fd_array[i]), events, 0});
    };
    add(readfds, POLLIN);
    add(writefds, POLLOUT);
    add(exceptfds, POLLPRI);
    if (fds.empty())
        return Fail(WSAEINVAL);
    int ms = -1;
    if (timeout) {
        // Clock milliseconds, so a sped-up test clock shortens the wait as it does every other wait.
        long long clockMs = static_cast<long long>(timeout->tv_sec) * 1000 + timeout->tv_usec / 1000;
        double scale = test::TimeScale();
        ms =
            static_cast<int>(std::min<long long>(static_cast<long long>(clockMs / (scale > 0 ? scale : 1.0)), 1 << 30));
    }
    int r;
    do
        r = ::poll(fds.data(), fds.size(), ms);
    while (r < 0 && errno == EINTR);
    if (r < 0)
        return Fail(ErrnoToWsa(errno));
    size_t at = 0;
    int ready = 0;
    auto keep = [&](fd_set* set) {
        if (!set)
            return;
        unsigned out = 0;
        for (unsigned i = 0; i < std::min<unsigned>(set->fd_count, FD_SETSIZE_WS); ++i, ++at)
            if (fds[at].revents)
                set->fd_array[out++] = set->fd_array[i];
        set->fd_count = out;
        ready += static_cast<int>(out);
    };
    keep(readfds);
    keep(writefds);
    keep(exceptfds);
    return ready;
}

WSAEVENT WSACreateEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

BOOL WSACloseEvent(WSAEVENT event) {
    return CloseHandle(event);
}

int WSAEventSelect(SOCKET s, WSAEVENT event, LONG networkEvents) {
    {
        std::lock_guard lk(T().mu);
        auto it = T().socks.find(static_cast<int>(s));
        if (s == INVALID_SOCKET || it == T().socks.end())
            return Fail(WSAENOTSOCK);
        if (test::ShouldFail("WSAEventSelect"))
            return Fail(WSAENOBUFS);
        if (networkEvents != 0 && !event)
            return Fail(WSAEINVAL);
        Sock& k = it->second;
        if (networkEvents != 0)
            WatchSocket(static_cast<int>(s), nullptr, 0, 0);
        k.event = networkEvents ? event : nullptr;
        k.mask = networkEvents;
        k.recorded = 0;
        k.gen = T().nextGen++;
        if (k.connectDone && !k.connectReported && (k.mask & FD_CONNECT)) {
            k.connectReported = true;
            RecordLocked(k, FD_CONNECT_BIT, k.connectError);
        }
    }
    Wake();
    return 0;
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* events) {
    if (!events)
        return Fail(WSAEFAULT);
    std::lock_guard lk(T().mu);
    auto it = T().socks.find(static_cast<int>(s));
    if (s == INVALID_SOCKET || it == T().socks.end())
        return Fail(WSAENOTSOCK);
    if (test::ShouldFail("WSAEnumNetworkEvents"))
        return Fail(WSAENOBUFS);
    Sock& k = it->second;
    events->lNetworkEvents = k.recorded;
    std::memcpy(events->iErrorCode, k.errors, sizeof k.errors);
    k.recorded = 0;
    std::memset(k.errors, 0, sizeof k.errors);
    if (event)
        ResetEvent(event);
    return 0;
}

int WSAStringToAddressW(const char16_t* text, int family, void*, void* address, int* addressLength) {
    if (!text || !address || !addressLength)
        return Fail(WSAEFAULT);
    if (test::ShouldFail("WSAStringToAddressW"))
        return Fail(WSAEINVAL);
    if (family != AF_BTH)
        return Fail(WSAEINVAL);
    if (*addressLength < static_cast<int>(sizeof(SOCKADDR_BTH))) {
        *addressLength = sizeof(SOCKADDR_BTH);
        return Fail(WSAEFAULT);
    }
    std::u16string t(text);
    if (t.size() >= 2 && t.front() == u'(' && t.back() == u')')
        t = t.substr(1, t.size() - 2);
    if (t.size() != 17)
        return Fail(WSAEINVAL);
    uint64_t value = 0;
    for (size_t i = 0; i < 17; ++i) {
        char16_t c = t[i];
        if (i % 3 == 2) {
            if (c != u':')
                return Fail(WSAEINVAL);
            continue;
        }
        int d = (c >= u'0' && c <= u'9')   ? c - u'0'
                : (c >= u'A' && c <= u'F') ? c - u'A' + 10
                : (c >= u'a' && c <= u'f') ? c - u'a' + 10
                                           : -1;
        if (d < 0)
            return Fail(WSAEINVAL);
        value = (value << 4) | static_cast<uint64_t>(d);
    }
    SOCKADDR_BTH a{};
    a.addressFamily = AF_BTH;
    a.btAddr = value;
    std::memcpy(address, &a, sizeof a);
    *addressLength = sizeof a;
    return 0;
}

namespace test {
int OpenSocketCount() {
    std::lock_guard lk(T().mu);
    return static_cast<int>(T().socks.size());
}
} // namespace test

} // namespace win
