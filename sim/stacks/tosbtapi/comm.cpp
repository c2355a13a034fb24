// Virtual COM ports: BtCreateCOMM makes a pseudo-terminal entered in the COM folder, BtConnectCOMM2 links
// it to a phone's channel on a thread of the stack (the outcome follows as the caller's message), and
// BtNotifyCOMM asks for the link-lost notice.
#include "Internal.h"

#include "sim/air/StackLink.h"
#include "win32/Windows.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tosbtapi {

namespace {

using namespace stackabi::tos;

// How long a connect to a silent phone runs before the stack reports failure (real milliseconds).
constexpr int kSilentConnectMs = 5000;

struct Port {
    std::mutex mu;
    std::unique_ptr<air::VirtualComPort> com;
    uint64_t attempt = 0; // bumped by every connect and disconnect: a late outcome of an old one is dropped
    bool connecting = false;
    stackabi::Hwnd notifyWindow = nullptr;
    uint32_t notifyMessage = 0;
};

std::mutex g_portsMu;
std::map<std::string, std::shared_ptr<Port>>& Ports() {
    static auto* ports = new std::map<std::string, std::shared_ptr<Port>>;
    return *ports;
}
uint16_t g_nextConnection = 0x40;

std::shared_ptr<Port> FindPort(const char* name) {
    if (!name)
        return nullptr;
    std::lock_guard lk(g_portsMu);
    auto it = Ports().find(name);
    return it == Ports().end() ? nullptr : it->second;
}

unsigned PortNumber(const char* name) {
    unsigned n = 0;
    char rest = 0;
    if (!name || std::sscanf(name, "COM%u%c", &n, &rest) != 1)
        return 0;
    return n;
}

void Connect(std::shared_ptr<Port> port, uint64_t attempt, air::Address phone, uint8_t channel, bool authenticate,
             stackabi::Hwnd window, uint32_t message) {
    // An authenticated link to a phone without a bond bonds first, the stack answering the PIN itself.
    auto& theAir = air::Air::Instance();
    if (authenticate && !theAir.IsPaired(phone))
        theAir.Pair(kStackKind, phone, AutoReplyPin(phone));
    air::LinkFailure failure;
    int fd = air::OpenStackLink(kStackKind, phone, channel, failure);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSilentConnectMs);
    while (fd < 0 && failure == air::LinkFailure::Silent && std::chrono::steady_clock::now() < until) {
        {
            std::lock_guard lk(port->mu);
            if (port->attempt != attempt)
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fd = air::OpenStackLink(kStackKind, phone, channel, failure);
    }
    std::lock_guard lk(port->mu);
    if (port->attempt != attempt || !port->com) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    port->connecting = false;
    auto post = [&](stackabi::WParam w) { win::PostMessageW(static_cast<win::HWND>(window), message, w, 0); };
    std::weak_ptr<Port> weak = port;
    if (fd >= 0 && port->com->Attach(fd, [weak] {
            if (auto p = weak.lock()) {
                std::lock_guard plk(p->mu);
                if (p->notifyWindow)
                    win::PostMessageW(static_cast<win::HWND>(p->notifyWindow), p->notifyMessage,
                                      BTNOTIFY_COMM_LINK_LOST, 0);
            }
        })) {
        post(BTNOTIFY_COMM_CONNECT_END);
        return;
    }
    if (fd >= 0)
        ::close(fd);
    post(BTNOTIFY_COMM_CONNECT_FAILED);
    post(BTNOTIFY_COMM_CONNECT_END);
}

// Ends the link or the connect of a port, outside the port's lock (the relay's notice takes it).
void EndLink(Port& port) {
    air::VirtualComPort* com;
    {
        std::lock_guard lk(port.mu);
        ++port.attempt;
        port.connecting = false;
        port.notifyWindow = nullptr;
        com = port.com.get();
    }
    if (com)
        com->Detach();
}

} // namespace
} // namespace tosbtapi

// Test hook: virtual ports alive now.
extern "C" int tavlin_tosbtapi_ports() {
    std::lock_guard lk(tosbtapi::g_portsMu);
    return static_cast<int>(tosbtapi::Ports().size());
}

// Test hook: the stack tells every watcher of a linked port that its link is lost, ahead of anything still
// travelling on the port; the link itself stays. Returns how many were told.
extern "C" int tavlin_tosbtapi_notify_link_lost() {
    std::vector<std::shared_ptr<tosbtapi::Port>> ports;
    {
        std::lock_guard lk(tosbtapi::g_portsMu);
        for (const auto& [name, port] : tosbtapi::Ports())
            ports.push_back(port);
    }
    int told = 0;
    for (const auto& port : ports) {
        std::lock_guard lk(port->mu);
        if (port->notifyWindow && port->com && port->com->Attached()) {
            win::PostMessageW(static_cast<win::HWND>(port->notifyWindow), port->notifyMessage,
                              stackabi::tos::BTNOTIFY_COMM_LINK_LOST, 0);
            ++told;
        }
    }
    return told;
}

namespace stackabi::tos {
using namespace tosbtapi;

extern "C" Bool32 BtCreateCOMM(const char* portName, uint32_t reserved1, uint32_t reserved2, BTSTATUS* status) {
    (void)reserved1, (void)reserved2;
    Record("BtCreateCOMM", portName ? portName : "(null)");
    const unsigned number = PortNumber(portName);
    if (!IsOpen() || number == 0 || ShouldFail("BtCreateCOMM") || FindPort(portName)) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    auto com = air::VirtualComPort::Create(number);
    if (!com) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    auto port = std::make_shared<Port>();
    port->com = std::move(com);
    {
        std::lock_guard lk(g_portsMu);
        Ports()[portName] = port;
    }
    // The port is ready at once: tell whoever asked for that event.
    std::vector<EventRegistration> targets;
    {
        std::lock_guard lk(State().mu);
        targets = State().events;
    }
    for (const auto& r : targets)
        if (r.mask & BTEVENT_COMM_PORT_READY)
            win::PostMessageW(static_cast<win::HWND>(r.window), r.message, 0, 0);
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtDestroyCOMM(const char* portName, BTSTATUS* status) {
    Record("BtDestroyCOMM", portName ? portName : "(null)");
    std::shared_ptr<Port> port;
    {
        std::lock_guard lk(g_portsMu);
        auto it = portName ? Ports().find(portName) : Ports().end();
        if (it != Ports().end()) {
            port = it->second;
            Ports().erase(it);
        }
    }
    if (!port) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    EndLink(*port);
    std::unique_ptr<air::VirtualComPort> com;
    {
        std::lock_guard lk(port->mu);
        com = std::move(port->com);
    }
    com.reset(); // removes the COM folder entry
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtConnectCOMM2(const char* portName, const uint8_t* bdAddr, uint8_t channel, uint32_t connectKind,
                                 uint16_t* connection, uint32_t security, BTSTATUS* status, Hwnd window,
                                 uint32_t message, uint32_t reserved) {
    (void)reserved;
    char args[96] = "";
    if (bdAddr)
        std::snprintf(args, sizeof args, " %02X:%02X:%02X:%02X:%02X:%02X %u %u %u %u", bdAddr[0], bdAddr[1], bdAddr[2],
                      bdAddr[3], bdAddr[4], bdAddr[5], channel, connectKind, security, message);
    Record("BtConnectCOMM2", std::string(portName ? portName : "(null)") + args);
    std::shared_ptr<Port> port = FindPort(portName);
    if (!IsOpen() || !port || !bdAddr || !connection || ShouldFail("BtConnectCOMM2")) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    air::Address phone;
    std::memcpy(phone.data(), bdAddr, phone.size());
    uint64_t attempt;
    {
        std::lock_guard lk(port->mu);
        if (port->connecting || port->com->Attached()) {
            SetStatus(status, kStatusFailed);
            return 0;
        }
        attempt = ++port->attempt;
        port->connecting = true;
    }
    {
        std::lock_guard lk(g_portsMu);
        *connection = g_nextConnection++;
    }
    try {
        std::thread(Connect, port, attempt, phone, channel, (security & BTSEC_AUTHENTICATE) != 0, window, message)
            .detach();
    } catch (...) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtDisconnectCOMM(const char* portName, BTSTATUS* status) {
    Record("BtDisconnectCOMM", portName ? portName : "(null)");
    std::shared_ptr<Port> port = FindPort(portName);
    if (!port) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    EndLink(*port);
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtNotifyCOMM(const char* portName, uint32_t mode, const uint8_t* bdAddr, uint16_t connection,
                               BTSTATUS* status, Hwnd window, uint32_t message, uint32_t reserved) {
    (void)bdAddr, (void)reserved;
    Record("BtNotifyCOMM", std::string(portName ? portName : "(null)") + " " + std::to_string(mode) + " " +
                               std::to_string(connection) + " " + std::to_string(message));
    std::shared_ptr<Port> port = FindPort(portName);
    if (!port || ShouldFail("BtNotifyCOMM") || (mode != BTNOTIFYCOMM_STATUS && mode != BTNOTIFYCOMM_OFF)) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    std::lock_guard lk(port->mu);
    port->notifyWindow = mode == BTNOTIFYCOMM_STATUS ? window : nullptr;
    port->notifyMessage = mode == BTNOTIFYCOMM_STATUS ? message : 0;
    SetStatus(status, kStatusOk);
    return 1;
}

} // namespace stackabi::tos
