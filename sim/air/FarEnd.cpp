// Scripted far ends, served on threads of their own.
#include "sim/air/FarEnd.h"
#include "sim/air/ObexLink.h"

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include <sys/socket.h>
#include <unistd.h>

namespace air {

namespace {

struct Scripts {
    std::mutex mu;
    std::map<std::pair<Address, uint8_t>, FarEnd> rfcomm;
    std::map<std::pair<IrdaDeviceId, std::string>, FarEnd> irda;
};

Scripts& S() {
    static Scripts* s = new Scripts; // outlives detached server threads
    return *s;
}

std::atomic<size_t> g_active{0};

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

void Serve(int fd, FarEnd script) {
    char buf[8192];
    size_t echoed = 0;
    for (;;) {
        size_t want = sizeof buf;
        if (script.mode == FarEndMode::Drop) {
            if (echoed >= script.dropAfter)
                break;
            want = std::min(want, script.dropAfter - echoed);
        }
        ssize_t r = ::recv(fd, buf, want, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || !WriteAll(fd, buf, static_cast<size_t>(r)))
            break;
        echoed += static_cast<size_t>(r);
    }
    ::close(fd);
    --g_active;
}

} // namespace

void SetRfcommFarEnd(const Address& phone, uint8_t channel, FarEnd script) {
    std::lock_guard lk(S().mu);
    S().rfcomm[{phone, channel}] = script;
}

void SetIrdaFarEnd(const IrdaDeviceId& device, const std::string& service, FarEnd script) {
    std::lock_guard lk(S().mu);
    S().irda[{device, service}] = script;
}

void ClearFarEnds() {
    std::lock_guard lk(S().mu);
    S().rfcomm.clear();
    S().irda.clear();
}

std::optional<FarEnd> FindRfcommFarEnd(const Address& phone, uint8_t channel) {
    std::lock_guard lk(S().mu);
    auto it = S().rfcomm.find({phone, channel});
    if (it == S().rfcomm.end())
        return std::nullopt;
    return it->second;
}

std::optional<FarEnd> FindIrdaFarEnd(const IrdaDeviceId& device, const std::string& service) {
    std::lock_guard lk(S().mu);
    auto it = S().irda.find({device, service});
    if (it == S().irda.end())
        return std::nullopt;
    return it->second;
}

bool IrdaDeviceKnown(const IrdaDeviceId& device) {
    std::lock_guard lk(S().mu);
    for (const auto& [key, script] : S().irda)
        if (key.first == device)
            return true;
    return false;
}

int OpenFarEnd(const FarEnd& script) {
    if (script.mode == FarEndMode::ObjectPush) {
        auto phone = Air::Instance().FindPhone(script.phone);
        if (!phone) {
            errno = EHOSTUNREACH;
            return -1;
        }
        return OpenObexLink(*phone);
    }
    if (script.mode != FarEndMode::Echo && script.mode != FarEndMode::Drop) {
        errno = EINVAL;
        return -1;
    }
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return -1;
    ++g_active;
    try {
        std::thread(Serve, sv[1], script).detach();
    } catch (...) {
        --g_active;
        ::close(sv[0]);
        ::close(sv[1]);
        errno = EAGAIN;
        return -1;
    }
    return sv[0];
}

size_t ActiveFarEnds() {
    return g_active.load();
}

} // namespace air
