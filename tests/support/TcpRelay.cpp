#include "TcpRelay.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavlin::test {

namespace {

using Clock = std::chrono::steady_clock;

// Every wait is this short, so the knobs and the destructor take effect promptly.
constexpr int kPollMs = 20;
// A starved throttle looks again sooner, so the rate comes out smooth.
constexpr int kStarvedPollMs = 5;
constexpr std::size_t kReadSize = 64 * 1024;
// Past this much waiting in the relay, it stops reading that side and lets the sender block.
constexpr std::size_t kBufferCap = 1024 * 1024;

void MakeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    // Firebird's small packets must not wait for acknowledgements in the relay.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool WouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK;
}

// Bytes waiting to go one way, oldest first.
struct Pending {
    std::string data;
    std::size_t sent = 0;

    std::size_t Size() const { return data.size() - sent; }
    const char* Front() const { return data.data() + sent; }
    void Append(const char* p, std::size_t n) { data.append(p, n); }
    void Consume(std::size_t n) {
        sent += n;
        if (sent == data.size()) {
            data.clear();
            sent = 0;
        } else if (sent > kBufferCap) {
            data.erase(0, sent);
            sent = 0;
        }
    }
    void Clear() {
        data.clear();
        sent = 0;
    }
};

// One rate for all connections together; a short burst at most, so the bytes flow evenly.
class TokenBucket {
public:
    void SetRate(std::size_t bytesPerSecond) {
        std::lock_guard<std::mutex> guard(mutex_);
        rate_ = bytesPerSecond;
        tokens_ = 0;
        last_ = Clock::now();
    }
    // How many of `want` bytes may go now.
    std::size_t Take(std::size_t want) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (rate_ == 0)
            return want;
        const auto now = Clock::now();
        const double burst = static_cast<double>(std::max<std::size_t>(rate_ / 50, 512));
        tokens_ = std::min(burst, tokens_ + std::chrono::duration<double>(now - last_).count() * rate_);
        last_ = now;
        const std::size_t n = std::min(want, static_cast<std::size_t>(tokens_));
        tokens_ -= static_cast<double>(n);
        return n;
    }
    // Gives back what was taken and not sent.
    void Refund(std::size_t n) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (rate_ != 0)
            tokens_ += static_cast<double>(n);
    }

private:
    std::mutex mutex_;
    std::size_t rate_ = 0;
    double tokens_ = 0;
    Clock::time_point last_ = Clock::now();
};

} // namespace

struct TcpRelay::Impl {
    // The descriptors are written only by the connection's own thread, under `mutex`, so others
    // may shut them down (never close them) under the same lock.
    struct Conn {
        int station = -1;
        int server = -1;
        int answersLeft = -1;
        std::atomic<bool> kept{false};
    };

    int serverPort = 0;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::atomic<bool> held{false};
    std::atomic<bool> keepStationSide{false};
    std::atomic<int> passFirst{-1};
    std::atomic<int> connections{0};
    std::atomic<long> answersPassed{0};
    TokenBucket bucket;

    std::mutex mutex;
    std::vector<std::shared_ptr<Conn>> conns;
    std::vector<std::thread> threads;
    std::thread acceptor;

    void CloseFd(int& fd) {
        std::lock_guard<std::mutex> guard(mutex);
        if (fd >= 0) {
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
            fd = -1;
        }
    }

    void SetFd(int& slot, int fd) {
        std::lock_guard<std::mutex> guard(mutex);
        slot = fd;
    }

    void Accept() {
        while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, kPollMs) <= 0)
                continue;
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            auto conn = std::make_shared<Conn>();
            conn->station = fd;
            conn->answersLeft = passFirst.load();
            ++connections;
            std::lock_guard<std::mutex> guard(mutex);
            if (stop) {
                ::close(fd);
                return;
            }
            conns.push_back(conn);
            threads.emplace_back([this, conn] { Pump(*conn); });
        }
    }

    // Ends the connection as the server ending it would: the station's side closes too, unless it
    // is to be kept open.
    bool ServerEnded(Conn& c, Pending& up) {
        CloseFd(c.server);
        up.Clear();
        if (keepStationSide) {
            c.kept = true;
            return true;
        }
        return false;
    }

    void Pump(Conn& c) {
        Connect(c);
        Pending up, down; // station->server, server->station
        std::vector<char> buf(kReadSize);
        bool serverDone = c.server < 0;
        // A server that does not take the connection counts as one that ended it at once.
        bool keptOpen = serverDone && keepStationSide;
        if (keptOpen)
            c.kept = true;
        while (!stop && c.station >= 0) {
            bool starved = false, stationFull = false, serverFull = false, broken = false;
            while (down.Size() > 0 && !held) {
                const std::size_t grant = bucket.Take(down.Size());
                if (grant == 0) {
                    starved = true;
                    break;
                }
                const ssize_t n = ::send(c.station, down.Front(), grant, MSG_NOSIGNAL | MSG_DONTWAIT);
                const int err = errno;
                bucket.Refund(grant - static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
                if (n > 0) {
                    down.Consume(static_cast<std::size_t>(n));
                } else if (n < 0 && err == EINTR) {
                    continue;
                } else if (n < 0 && WouldBlock(err)) {
                    stationFull = true;
                    break;
                } else {
                    broken = true;
                    break;
                }
            }
            // A server that ended closes the station's side once what it sent has been delivered.
            if (broken || (serverDone && !keptOpen && down.Size() == 0))
                break;
            while (!serverDone && up.Size() > 0) {
                const ssize_t n = ::send(c.server, up.Front(), up.Size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    up.Consume(static_cast<std::size_t>(n));
                } else if (n < 0 && errno == EINTR) {
                    continue;
                } else if (n < 0 && WouldBlock(errno)) {
                    serverFull = true;
                    break;
                } else {
                    serverDone = true;
                    keptOpen = ServerEnded(c, up);
                }
            }

            pollfd p[2] = {
                {c.station, static_cast<short>((up.Size() < kBufferCap ? POLLIN : 0) | (stationFull ? POLLOUT : 0)), 0},
                {serverDone ? -1 : c.server,
                 static_cast<short>((down.Size() < kBufferCap ? POLLIN : 0) | (serverFull ? POLLOUT : 0)), 0}};
            if (::poll(p, 2, starved ? kStarvedPollMs : kPollMs) <= 0)
                continue;
            if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(c.station, buf.data(), buf.size(), MSG_DONTWAIT);
                if (n > 0 && !serverDone)
                    up.Append(buf.data(), static_cast<std::size_t>(n));
                else if (n == 0 || (n < 0 && errno != EINTR && !WouldBlock(errno)))
                    break; // the station went: its server side goes too
            }
            if (!serverDone && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = ::recv(c.server, buf.data(), buf.size(), MSG_DONTWAIT);
                if (n > 0) {
                    if (c.answersLeft != 0) {
                        down.Append(buf.data(), static_cast<std::size_t>(n));
                        if (c.answersLeft > 0)
                            --c.answersLeft;
                        ++answersPassed;
                    }
                } else if (n == 0 || (n < 0 && errno != EINTR && !WouldBlock(errno))) {
                    serverDone = true;
                    keptOpen = ServerEnded(c, up);
                }
            }
        }
        c.kept = false;
        CloseFd(c.server);
        CloseFd(c.station);
    }

    // Leaves c.server unset when the server does not take the connection. Waits in short steps,
    // so a server whose queue is full does not hold up the destructor.
    void Connect(Conn& c) {
        MakeNonBlocking(c.station);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(serverPort));
        int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (rc < 0 && (errno == EINPROGRESS || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            while (!stop && (rc = ::poll(&p, 1, kPollMs)) <= 0) {
            }
            int err = 0;
            socklen_t len = sizeof err;
            rc = !stop && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0 ? 0 : -1;
        }
        if (rc < 0) {
            ::close(fd);
            return;
        }
        MakeNonBlocking(fd);
        SetFd(c.server, fd);
    }
};

TcpRelay::TcpRelay(int serverPort) : impl_(std::make_unique<Impl>()) {
    impl_->serverPort = serverPort;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("The relay cannot make a socket: ") + std::strerror(errno));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::runtime_error(std::string("The relay cannot listen: ") + std::strerror(err));
    }
    impl_->listener = fd;
    impl_->port = ntohs(a.sin_port);
    impl_->acceptor = std::thread([this] { impl_->Accept(); });
}

TcpRelay::~TcpRelay() {
    impl_->stop = true;
    {
        std::lock_guard<std::mutex> guard(impl_->mutex);
        for (const auto& c : impl_->conns) {
            if (c->station >= 0)
                ::shutdown(c->station, SHUT_RDWR);
            if (c->server >= 0)
                ::shutdown(c->server, SHUT_RDWR);
        }
    }
    impl_->acceptor.join();
    // No thread is added once the acceptor has ended.
    for (auto& t : impl_->threads)
        t.join();
    ::close(impl_->listener);
}

int TcpRelay::Port() const {
    return impl_->port;
}

void TcpRelay::SetThrottle(std::size_t bytesPerSecond) {
    impl_->bucket.SetRate(bytesPerSecond);
}

void TcpRelay::PassFirstAnswers(int answers) {
    impl_->passFirst = answers < 0 ? -1 : answers;
}

void TcpRelay::Hold() {
    impl_->held = true;
}

void TcpRelay::Release() {
    impl_->held = false;
}

void TcpRelay::KeepStationSideOpen(bool keep) {
    impl_->keepStationSide = keep;
}

void TcpRelay::CloseKept() {
    // The connection's thread sees its station's side end and closes the descriptor itself.
    std::lock_guard<std::mutex> guard(impl_->mutex);
    for (const auto& c : impl_->conns)
        if (c->kept && c->station >= 0)
            ::shutdown(c->station, SHUT_RDWR);
}

int TcpRelay::Connections() const {
    return impl_->connections;
}

long TcpRelay::AnswersPassed() const {
    return impl_->answersPassed;
}

} // namespace tavlin::test
