#include "sim/air/ObexLink.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "sim/air/ObexPeer.h"

namespace air {

namespace {

using Clock = std::chrono::steady_clock;

struct Link {
    int fd = -1;     // the phone's end
    int stopFd = -1; // eventfd: wakes the thread to end
    std::atomic<bool> done{false};
    std::thread thread;
};

void ServeLoop(Link* link, const Phone& phone) {
    ObexPeer peer(phone.obex, phone.inbox);
    struct Pending {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };
    std::deque<Pending> queue;
    size_t sentOfFront = 0;
    bool peerGone = false;
    uint8_t buf[4096];
    for (;;) {
        if (peer.CloseLink() && queue.empty())
            break; // the phone drops the link
        const auto now = Clock::now();
        bool frontDue = !queue.empty() && queue.front().due <= now;
        int timeout = -1;
        if (!queue.empty() && !frontDue)
            timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(queue.front().due - now).count());
        pollfd fds[2] = {{link->fd, 0, 0}, {link->stopFd, POLLIN, 0}};
        if (!peer.CloseLink() && !peerGone)
            fds[0].events |= POLLIN;
        if (frontDue)
            fds[0].events |= POLLOUT;
        int r = ::poll(fds, 2, timeout);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || (fds[1].revents & POLLIN))
            break;
        if (fds[0].revents & POLLIN) {
            ssize_t n = ::recv(link->fd, buf, sizeof buf, 0);
            if (n == 0)
                break; // the caller closed its end
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (n > 0) {
                for (auto& resp : peer.Feed(buf, static_cast<size_t>(n)))
                    queue.push_back(
                        {Clock::now() + std::chrono::milliseconds(peer.ResponseDelayMs()), std::move(resp)});
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            if (!(fds[0].revents & POLLOUT))
                break;
        }
        if ((fds[0].revents & POLLOUT) && !queue.empty()) {
            auto& front = queue.front();
            ssize_t w = ::send(link->fd, front.bytes.data() + sentOfFront, front.bytes.size() - sentOfFront,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (w > 0) {
                sentOfFront += static_cast<size_t>(w);
                if (sentOfFront == front.bytes.size()) {
                    queue.pop_front();
                    sentOfFront = 0;
                }
            }
        }
    }
}

// CPU the phones' server threads used, summed as each ends: lets a benchmark tell the station's own
// work apart from the phones'.
std::atomic<unsigned long long> g_serverCpuNs{0};

void Serve(Link* link, Phone phone) {
    struct CpuTally {
        ~CpuTally() {
            timespec ts{};
            if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) == 0)
                g_serverCpuNs += static_cast<unsigned long long>(ts.tv_sec) * 1000000000ull +
                                 static_cast<unsigned long long>(ts.tv_nsec);
        }
    } tally;
    try {
        ServeLoop(link, phone);
    } catch (...) {
        // Out of memory or the like: the phone drops the link rather than take the process down.
    }
    // The end is closed when the link is reaped, so the registry may still look at it; shutting it
    // down is what the caller sees as the drop.
    ::shutdown(link->fd, SHUT_RDWR);
    link->done = true;
}

class Registry {
public:
    ~Registry() { StopAll(); }

    int Start(const Phone& phone) {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
            return -1;
        int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stop < 0) {
            int e = errno;
            ::close(sv[0]);
            ::close(sv[1]);
            errno = e;
            return -1;
        }
        auto link = std::make_unique<Link>();
        link->fd = sv[1];
        link->stopFd = stop;
        Link* raw = link.get();
        std::lock_guard lock(mu_);
        Reap();
        try {
            raw->thread = std::thread(Serve, raw, phone);
        } catch (...) {
            ::close(sv[0]);
            ::close(sv[1]);
            ::close(stop);
            errno = EAGAIN;
            return -1;
        }
        links_.push_back(std::move(link));
        size_t open = 0;
        for (const auto& l : links_)
            open += LinkOpen(*l) ? 1 : 0;
        if (open > highWater_)
            highWater_ = open;
        return sv[0];
    }

    size_t HighWater() {
        std::lock_guard lock(mu_);
        return highWater_;
    }

    void ResetHighWater() {
        std::lock_guard lock(mu_);
        highWater_ = 0;
    }

    size_t Active() {
        std::lock_guard lock(mu_);
        Reap();
        return links_.size();
    }

    void StopAll() {
        std::list<std::unique_ptr<Link>> all;
        {
            std::lock_guard lock(mu_);
            all.swap(links_);
        }
        for (auto& l : all) {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t w = ::write(l->stopFd, &one, sizeof one);
        }
        for (auto& l : all)
            Finish(*l);
    }

private:
    static void Finish(Link& l) {
        if (l.thread.joinable())
            l.thread.join();
        ::close(l.stopFd);
        ::close(l.fd);
    }

    // Neither side has ended the link yet: a caller that closed its end no longer holds it, even
    // before the phone's thread has noticed.
    static bool LinkOpen(const Link& l) {
        if (l.done)
            return false;
        pollfd pfd{l.fd, POLLRDHUP, 0};
        if (::poll(&pfd, 1, 0) < 0)
            return true;
        return (pfd.revents & (POLLHUP | POLLRDHUP | POLLERR)) == 0;
    }

    void Reap() {
        for (auto it = links_.begin(); it != links_.end();) {
            if ((*it)->done) {
                Finish(**it);
                it = links_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex mu_;
    std::list<std::unique_ptr<Link>> links_;
    size_t highWater_ = 0;
};

Registry& Links() {
    static Registry registry; // joins what is left when the library unloads
    return registry;
}

int OpenTcp(const std::string& hostPort) {
    size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    std::string host = hostPort.substr(0, colon);
    std::string port = hostPort.substr(colon + 1);
    if (host == "localhost")
        host = "127.0.0.1";
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    char* end = nullptr;
    long p = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end || p <= 0 || p > 65535 || ::inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) {
        errno = EINVAL;
        return -1;
    }
    sa.sin_port = htons(static_cast<uint16_t>(p));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int r;
    do
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

} // namespace

int OpenBridge(const std::string& endpoint) {
    if (endpoint.rfind("tcp:", 0) == 0)
        return OpenTcp(endpoint.substr(4));
    if (endpoint.empty()) {
        errno = EINVAL;
        return -1;
    }
    int fd = ::open(endpoint.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    if (::isatty(fd) && ::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

int OpenObexLink(const Phone& phone) {
    if (!phone.bridge.empty())
        return OpenBridge(phone.bridge);
    if (phone.inbox.empty() || phone.inbox[0] != '/') {
        Phone resolved = phone;
        resolved.inbox = ResolveInbox(phone.inbox, phone.address);
        return Links().Start(resolved);
    }
    return Links().Start(phone);
}

int ConnectRfcomm(int stackKind, const Address& address, uint8_t channel) {
    Air& a = Air::Instance();
    if (!a.RadioPresent(stackKind)) {
        errno = ENETDOWN;
        return -1;
    }
    auto phone = a.FindPhone(address);
    if (!phone || !phone->ReachableFrom(stackKind)) {
        errno = EHOSTUNREACH;
        return -1;
    }
    if (phone->link == LinkPolicy::Refuse) {
        errno = ECONNREFUSED;
        return -1;
    }
    if (phone->link == LinkPolicy::NeedsPairing && !phone->pairing.paired) {
        errno = EACCES;
        return -1;
    }
    bool served = false;
    for (const auto& s : phone->services)
        served = served || (channel == 0 ? s.Uuid16() == kObexObjectPushUuid16 : s.channel == channel);
    if (!served) {
        errno = ECONNREFUSED;
        return -1;
    }
    return OpenObexLink(*phone);
}

double ObexLinkCpuSeconds() {
    return static_cast<double>(g_serverCpuNs.load()) / 1e9;
}

size_t ActiveObexLinks() {
    return Links().Active();
}

void StopObexLinks() {
    Links().StopAll();
}

size_t ObexLinkHighWater() {
    return Links().HighWater();
}

void ResetObexLinkHighWater() {
    Links().ResetHighWater();
}

} // namespace air
