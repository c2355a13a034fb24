// RFCOMM links of the bridge's clients: opened on a thread of the bridge, which then reads the link and
// posts what arrives to the client's window. Every buffer posted stays with the client until it is
// destroyed, so a message still waiting in the window's queue never points at freed memory.
#include "Internal.h"

#include "sim/air/StackLink.h"
#include "win32/Windows.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vyr2wbt {

namespace {

// Library codes the bridge reports.
constexpr int32_t kCodeInternal = 2;
constexpr int32_t kCodeUnableConnect = 45;
constexpr int32_t kCodeRejected = 46;

struct Link {
    stackabi::Hwnd window = nullptr;
    std::mutex mu;
    int fd = -1;
    bool ending = false;
    std::thread thread;
    std::deque<std::vector<uint8_t>> posted;
    std::mutex writeMu;
};

std::mutex g_linksMu;
std::map<std::uintptr_t, std::shared_ptr<Link>>& Links() {
    static auto* links = new std::map<std::uintptr_t, std::shared_ptr<Link>>;
    return *links;
}

std::shared_ptr<Link> FindLink(std::uintptr_t client) {
    std::lock_guard lk(g_linksMu);
    auto it = Links().find(client);
    return it == Links().end() ? nullptr : it->second;
}

bool Post(stackabi::Hwnd window, uint32_t msg, stackabi::WParam wParam, stackabi::LParam lParam) {
    return win::PostMessageW(static_cast<win::HWND>(window), msg, wParam, lParam);
}

void Run(std::shared_ptr<Link> link, air::Address phone, uint8_t channel) {
    air::LinkFailure failure;
    int fd = air::OpenStackLink(kStackKind, phone, channel, failure);
    {
        std::lock_guard lk(link->mu);
        if (link->ending) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        link->fd = fd;
    }
    using stackabi::wd::WM_CONNECT_RESULT;
    switch (failure) {
    case air::LinkFailure::None:
        Post(link->window, WM_CONNECT_RESULT, stackabi::wd::kCodeOk, 0);
        break;
    case air::LinkFailure::Silent:
        return; // the caller's own time-out ends the attempt
    case air::LinkFailure::NoRadio:
        Post(link->window, WM_CONNECT_RESULT, stackabi::wd::kCodeApiNotAvailable, 0);
        return;
    case air::LinkFailure::Unreachable:
        Post(link->window, WM_CONNECT_RESULT, kCodeUnableConnect, 0);
        return;
    case air::LinkFailure::Refused:
        Post(link->window, WM_CONNECT_RESULT, kCodeRejected, 0);
        return;
    }
    std::vector<uint8_t> buf(4096);
    for (;;) {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        std::lock_guard lk(link->mu);
        if (link->ending)
            return;
        if (n <= 0) {
            Post(link->window, stackabi::wd::WM_WIDCOMM_DELAYED_CLOSE, 0, 0);
            return;
        }
        link->posted.emplace_back(buf.begin(), buf.begin() + n);
        Post(link->window, stackabi::wd::WM_WIDCOMM_DATA,
             reinterpret_cast<stackabi::WParam>(link->posted.back().data()), static_cast<stackabi::LParam>(n));
    }
}

} // namespace

void EndClientLink(std::uintptr_t client, bool freeBuffers) {
    std::shared_ptr<Link> link = FindLink(client);
    if (!link)
        return;
    {
        std::lock_guard lk(link->mu);
        link->ending = true;
        if (link->fd >= 0)
            ::shutdown(link->fd, SHUT_RDWR);
    }
    if (link->thread.joinable() && link->thread.get_id() != std::this_thread::get_id())
        link->thread.join();
    {
        std::lock_guard wl(link->writeMu);
        std::lock_guard lk(link->mu);
        if (link->fd >= 0)
            ::close(link->fd);
        link->fd = -1;
    }
    if (freeBuffers) {
        std::lock_guard lk(g_linksMu);
        Links().erase(client);
    }
}

} // namespace vyr2wbt

namespace stackabi::wd {
using namespace vyr2wbt;

extern "C" int32_t WD_OpenRfCommClient(WD_CLIENT client, const uint8_t* bdAddr, uint8_t channel, AbiGuid serviceClass,
                                       const char* serviceName, Bool32 authenticate, Bool32 encrypt) {
    (void)serviceClass;
    char args[96] = "";
    if (bdAddr)
        std::snprintf(args, sizeof args, "%02X:%02X:%02X:%02X:%02X:%02X %u %s %d %d", bdAddr[0], bdAddr[1], bdAddr[2],
                      bdAddr[3], bdAddr[4], bdAddr[5], channel, serviceName ? serviceName : "(null)", authenticate,
                      encrypt);
    Record("WD_OpenRfCommClient", win::test::HandleText(client) + " " + args);
    if (ShouldFail("WD_OpenRfCommClient"))
        return kCodeInternal;
    if (!bdAddr)
        return 5;
    auto id = reinterpret_cast<std::uintptr_t>(client);
    stackabi::Hwnd window;
    {
        std::lock_guard lk(State().mu);
        auto it = State().clients.find(id);
        if (!State().initialised || it == State().clients.end())
            return kCodeInternal;
        window = it->second.window;
    }
    auto link = std::make_shared<Link>();
    link->window = window;
    {
        std::lock_guard lk(g_linksMu);
        auto& slot = Links()[id];
        if (slot)
            return kCodeInternal; // one link per client
        slot = link;
    }
    air::Address phone;
    std::memcpy(phone.data(), bdAddr, phone.size());
    try {
        std::lock_guard lk(link->mu);
        link->thread = std::thread(Run, link, phone, channel);
    } catch (...) {
        std::lock_guard lk(g_linksMu);
        Links().erase(id);
        return 1;
    }
    return kCodeOk;
}

extern "C" Bool32 WD_WriteRfCommClient(WD_CLIENT client, const void* data, uint32_t size) {
    Record("WD_WriteRfCommClient", std::to_string(size));
    if (ShouldFail("WD_WriteRfCommClient") || (!data && size))
        return 0;
    std::shared_ptr<Link> link = FindLink(reinterpret_cast<std::uintptr_t>(client));
    if (!link)
        return 0;
    std::lock_guard wl(link->writeMu);
    int fd;
    {
        std::lock_guard lk(link->mu);
        if (link->ending || link->fd < 0)
            return 0;
        fd = link->fd;
    }
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::send(fd, p + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        done += static_cast<uint32_t>(n);
    }
    return 1;
}

extern "C" void WD_CloseRfCommClient(WD_CLIENT client) {
    Record("WD_CloseRfCommClient", win::test::HandleText(client));
    EndClientLink(reinterpret_cast<std::uintptr_t>(client), false);
}

} // namespace stackabi::wd
