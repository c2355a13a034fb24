// SPP client links of the older interface: a connect makes a virtual COM port (a pseudo-terminal in the
// COM folder) and relays it to the phone's channel. The connect call blocks, as the stack's does, while
// the phone is silent (bounded). A link the phone drops raises the SPP link-lost event with its handle.
#include "stacks/btfunc.h"

#include "sim/air/FarEnd.h"
#include "sim/air/StackLink.h"
#include "sim/win32/Testing.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace stackabi::bsold {

extern "C" int TavlinBtfunc_RaiseEvent(uint8_t kind, uint32_t value, uint8_t event);

namespace {

constexpr int kBlueSoleil = static_cast<int>(air::StackKind::BlueSoleil);
// How long a connect to a silent phone blocks before the stack gives up (real milliseconds).
constexpr int kSilentConnectMs = 5000;

struct Spp {
    std::mutex mu;
    uint32_t next = 0x200;
    std::map<uint32_t, std::shared_ptr<air::VirtualComPort>> links;
};

Spp& S() {
    static auto* s = new Spp;
    return *s;
}

std::shared_ptr<air::VirtualComPort> NewPort() {
    for (unsigned n = 1; n <= 255; ++n)
        if (!air::ComPortTaken(n))
            if (auto port = air::VirtualComPort::Create(n))
                return port;
    return nullptr;
}

} // namespace

extern "C" {

uint32_t BT_ConnectSPPExService(const BLUETOOTH_DEVICE_INFO* device, SPPEX_SERVICE_INFO* service,
                                uint32_t* connection) {
    if (!device || !service || !connection || device->dwSize != sizeof *device || service->dwSize != sizeof *service) {
        win::test::Record("BT_ConnectSPPExService", "bad arguments");
        return 0;
    }
    air::Address phone;
    for (size_t i = 0; i < BD_ADDR_SIZE; ++i)
        phone[i] = device->address[BD_ADDR_SIZE - 1 - i];
    char args[64];
    std::snprintf(args, sizeof args, "%s %u", air::AddressToText(phone).c_str(), service->ucServiceChannel);
    win::test::Record("BT_ConnectSPPExService", args);
    if (win::test::ShouldFail("BT_ConnectSPPExService"))
        return 0;
    uint8_t channel = service->ucServiceChannel;
    if (channel == 0) {
        // The service class names the service.
        auto p = air::Air::Instance().FindPhone(phone);
        const auto want = air::Service::FromGuid(service->serviceClassUuid128);
        if (p)
            for (const auto& s : p->services)
                if (s.uuid == want && channel == 0)
                    channel = s.channel;
        if (channel == 0)
            return 0;
    }
    air::LinkFailure failure;
    int fd = air::OpenStackLink(kBlueSoleil, phone, channel, failure);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSilentConnectMs);
    while (fd < 0 && failure == air::LinkFailure::Silent && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fd = air::OpenStackLink(kBlueSoleil, phone, channel, failure);
    }
    if (fd < 0)
        return 0;
    std::shared_ptr<air::VirtualComPort> port = NewPort();
    if (!port) {
        ::close(fd);
        return 0;
    }
    uint32_t handle;
    {
        std::lock_guard lk(S().mu);
        handle = S().next++;
        S().links[handle] = port;
    }
    port->Attach(fd,
                 [handle] { TavlinBtfunc_RaiseEvent(BT_CALLBACK_KIND_SPPEX, handle, BT_EVENT_SPP_CLIENT_LINK_LOST); });
    service->ucComIndex = static_cast<uint8_t>(port->Number());
    *connection = handle;
    win::test::Record("BT_ConnectSPPExService",
                      "connected " + std::to_string(handle) + " COM" + std::to_string(port->Number()));
    return BT_SUCCESS;
}

uint32_t BT_GetConnectInfo(uint32_t connection, uint32_t* serviceClass, uint16_t* role, uint8_t* remoteAddress,
                           uint32_t* infoSize, SPPEX_CONNECT_INFO* info) {
    win::test::Record("BT_GetConnectInfo", std::to_string(connection));
    if (!infoSize || !info || *infoSize < sizeof *info || win::test::ShouldFail("BT_GetConnectInfo"))
        return 0;
    std::shared_ptr<air::VirtualComPort> port;
    {
        std::lock_guard lk(S().mu);
        auto it = S().links.find(connection);
        if (it == S().links.end())
            return 0;
        port = it->second;
    }
    if (serviceClass)
        *serviceClass = 0x1101;
    if (role)
        *role = 0;
    (void)remoteAddress;
    info->dwSize = sizeof *info;
    info->ucComPort = static_cast<uint8_t>(win::test::Value("BT_GetConnectInfo.port", port->Number()));
    *infoSize = sizeof *info;
    return BT_SUCCESS;
}

uint32_t BT_DisconnectSPPExService(uint32_t connection) {
    win::test::Record("BT_DisconnectSPPExService", std::to_string(connection));
    std::shared_ptr<air::VirtualComPort> port;
    {
        std::lock_guard lk(S().mu);
        auto it = S().links.find(connection);
        if (it == S().links.end())
            return 0;
        port = std::move(it->second);
        S().links.erase(it);
    }
    port.reset(); // ends the relay and removes the port
    return BT_SUCCESS;
}

// Test hook: SPP links alive now.
int TavlinBtfunc_SppLinks() {
    std::lock_guard lk(S().mu);
    return static_cast<int>(S().links.size());
}

} // extern "C"
} // namespace stackabi::bsold
