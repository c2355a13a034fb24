// Stand-in for the newer BlueSoleil interface. It keeps the stack's device table (handles for the
// devices it knows), and renders the air's BlueSoleil radio and phones. Addresses come least
// significant byte first.
#include "stacks/bssdk.h"
#include "sim/stacks/StandInThread.h"

#include "sim/air/Air.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace stackabi::bs {
namespace {

constexpr int kBlueSoleil = static_cast<int>(air::StackKind::BlueSoleil);

struct Device {
    BTDEVHDL handle;
    air::Address address; // text order
};

struct State {
    std::mutex mu;
    bool initialized = false;
    std::vector<Device> devices;
    BTDEVHDL nextHandle = 0x10001;
    std::vector<BTDEVHDL> inquired;
    BTSDK_INQUIRY_COMPLETE_CB inquiryComplete = nullptr;
    std::string pin;
    // The running inquiry's timer thread and the event that ends it early.
    win::HANDLE discovery = nullptr;
    win::HANDLE stopEvent = nullptr;
    ~State();
};

State& S() {
    static State s;
    return s;
}

// Ends the inquiry timer thread, if any, and waits for it, so no thread of this module outlives it.
// Called without S().mu held: the thread takes it.
void StopDiscoveryThread() {
    standin::StopThread(S().mu, S().discovery, S().stopEvent);
}

State::~State() {
    StopDiscoveryThread();
}

air::Address FromReversed(const uint8_t* bytes) {
    air::Address a{};
    for (size_t i = 0; i < BD_ADDR_SIZE; ++i)
        a[i] = bytes[BD_ADDR_SIZE - 1 - i];
    return a;
}

void ToReversed(const air::Address& a, uint8_t* bytes) {
    for (size_t i = 0; i < BD_ADDR_SIZE; ++i)
        bytes[i] = a[BD_ADDR_SIZE - 1 - i];
}

std::string Hex(const uint8_t* bytes) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                  bytes[5]);
    return buf;
}

// Under S().mu.
Device* FindByHandle(BTDEVHDL h) {
    for (auto& d : S().devices)
        if (d.handle == h)
            return &d;
    return nullptr;
}
Device* FindByAddress(const air::Address& a) {
    for (auto& d : S().devices)
        if (d.address == a)
            return &d;
    return nullptr;
}

// The address a device handle stands for; none for an unknown handle.
std::optional<air::Address> AddressOf(BTDEVHDL h) {
    std::lock_guard lock(S().mu);
    const Device* d = FindByHandle(h);
    return d ? std::optional<air::Address>(d->address) : std::nullopt;
}

// A name into the caller's buffer of *size bytes, cut to fit, terminated when there is room.
BTSDKRESULT CopyName(const std::string& text, uint8_t* name, uint16_t* size) {
    if (!name || !size)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    const size_t n = std::min<size_t>(text.size(), *size);
    std::memcpy(name, text.data(), n);
    if (n < *size)
        name[n] = 0;
    *size = static_cast<uint16_t>(n);
    return BTSDK_OK;
}
BTDEVHDL AddDevice(const air::Address& a) {
    if (auto* d = FindByAddress(a))
        return d->handle;
    S().devices.push_back({S().nextHandle++, a});
    return S().devices.back().handle;
}

bool RadioReady() {
    return air::Air::Instance().RadioPresent(kBlueSoleil);
}

// A call the test made fail answers the given code, else the configured result, else `fallback`.
BTSDKRESULT Result(const char* name, BTSDKRESULT fallback) {
    if (win::test::ShouldFail(name))
        return static_cast<BTSDKRESULT>(win::test::Value(std::string(name) + ":error", BTSDK_ER_NOT_AVAILABLE + 1));
    return static_cast<BTSDKRESULT>(win::test::Value(name, fallback));
}

} // namespace

extern "C" {

BTSDKRESULT Btsdk_Init() {
    win::test::Record("Btsdk_Init");
    const BTSDKRESULT r = Result("Btsdk_Init", BTSDK_OK);
    if (r == BTSDK_OK) {
        std::lock_guard lock(S().mu);
        // The module stays loaded between runs of the stack: a fresh start forgets the last run's devices.
        if (!S().initialized) {
            S().devices.clear();
            S().inquired.clear();
            S().nextHandle = 0x10001;
        }
        S().initialized = true;
    }
    return r;
}

BTSDKRESULT Btsdk_Done() {
    win::test::Record("Btsdk_Done");
    {
        std::lock_guard lock(S().mu);
        S().initialized = false;
        S().inquiryComplete = nullptr;
    }
    StopDiscoveryThread();
    return BTSDK_OK;
}

BTSDKRESULT Btsdk_RegisterCallback4ThirdParty(const BtSdkCallbackStru* callback) {
    win::test::Record("Btsdk_RegisterCallback4ThirdParty", callback ? std::to_string(callback->type) : "null");
    if (!callback || callback->type != BTSDK_CB_INQUIRY_COMPLETE)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    std::lock_guard lock(S().mu);
    S().inquiryComplete = callback->func;
    return BTSDK_OK;
}

BTSDKRESULT Btsdk_SetFixedPinCode(const char* pin, uint16_t size) {
    win::test::Record("Btsdk_SetFixedPinCode", pin ? std::string(pin, size) : "null");
    std::lock_guard lock(S().mu);
    S().pin = pin ? std::string(pin, size) : std::string();
    return BTSDK_OK;
}

BTSDKRESULT Btsdk_StartDeviceDiscovery(uint32_t classFilter, uint16_t maxDevices, uint16_t duration) {
    win::test::Record("Btsdk_StartDeviceDiscovery",
                      std::to_string(classFilter) + " " + std::to_string(maxDevices) + " " + std::to_string(duration));
    const BTSDKRESULT r = Result("Btsdk_StartDeviceDiscovery", BTSDK_OK);
    if (r != BTSDK_OK)
        return r;
    const auto result =
        air::Air::Instance().Inquire(kBlueSoleil, static_cast<int>(duration * kInquiryUnitSeconds * 1000));
    if (!result.radioPresent)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    {
        std::lock_guard lock(S().mu);
        S().inquired.clear();
        for (const auto& p : result.found) {
            if (maxDevices && S().inquired.size() >= maxDevices)
                break;
            if (classFilter && (p.classOfDevice & classFilter) == 0)
                continue;
            S().inquired.push_back(AddDevice(p.address));
        }
    }
    // The stack reports the end of the inquiry on a thread of its own, early when it is stopped.
    StopDiscoveryThread();
    win::HANDLE stop = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
    if (!stop)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    const auto waitMs = static_cast<win::DWORD>(result.durationMs);
    win::HANDLE thread = win::CreateThread([waitMs, stop]() -> win::DWORD {
        win::WaitForSingleObject(stop, waitMs);
        BTSDK_INQUIRY_COMPLETE_CB cb;
        {
            std::lock_guard lock(S().mu);
            cb = S().inquiryComplete;
        }
        if (cb)
            cb();
        return 0;
    });
    if (!thread) {
        win::CloseHandle(stop);
        return BTSDK_ER_NOT_AVAILABLE + 1;
    }
    std::lock_guard lock(S().mu);
    S().discovery = thread;
    S().stopEvent = stop;
    return BTSDK_OK;
}

BTSDKRESULT Btsdk_StopDeviceDiscovery() {
    win::test::Record("Btsdk_StopDeviceDiscovery");
    StopDiscoveryThread();
    return BTSDK_OK;
}

BTSDKRESULT Btsdk_UpdateRemoteDeviceName(BTDEVHDL device, uint8_t* name, uint16_t* size) {
    win::test::Record("Btsdk_UpdateRemoteDeviceName", std::to_string(device));
    const auto found = AddressOf(device);
    if (!found)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    const air::Address a = *found;
    std::string text;
    if (air::Air::Instance().ReadName(a, text) != air::NameResult::Ok)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    return CopyName(text, name, size);
}

BTSDKRESULT Btsdk_GetRemoteDeviceName(BTDEVHDL device, uint8_t* name, uint16_t* size) {
    win::test::Record("Btsdk_GetRemoteDeviceName", std::to_string(device));
    const auto found = AddressOf(device);
    if (!found)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    const air::Address a = *found;
    const auto phone = air::Air::Instance().FindPhone(a);
    if (!phone)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    return CopyName(phone->name, name, size);
}

BTSDKRESULT Btsdk_PairDevice(BTDEVHDL device) {
    win::test::Record("Btsdk_PairDevice", std::to_string(device));
    air::Address a;
    std::string pin;
    {
        std::lock_guard lock(S().mu);
        auto* d = FindByHandle(device);
        if (!d)
            return BTSDK_ER_NOT_AVAILABLE + 1;
        a = d->address;
        pin = S().pin;
    }
    switch (air::Air::Instance().Pair(kBlueSoleil, a, pin)) {
    case air::PairResult::Paired:
        return BTSDK_OK;
    case air::PairResult::WrongPin:
        return BTSDK_ER_PAIR_AUTH_FAILED;
    case air::PairResult::Refused:
        return BTSDK_ER_PAIR_DENIED;
    case air::PairResult::Timeout:
        return BTSDK_ER_PAIR_CANCELLED;
    case air::PairResult::NotFound:
        break;
    }
    return BTSDK_ER_NOT_AVAILABLE + 1;
}

BTSDKRESULT Btsdk_UnPairDevice(BTDEVHDL device) {
    win::test::Record("Btsdk_UnPairDevice", std::to_string(device));
    const auto found = AddressOf(device);
    if (!found)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    const air::Address a = *found;
    air::Air::Instance().Unpair(a);
    return BTSDK_OK;
}

BTDEVHDL Btsdk_GetRemoteDeviceHandle(const uint8_t* bdAddr) {
    if (!bdAddr)
        return 0;
    win::test::Record("Btsdk_GetRemoteDeviceHandle", Hex(bdAddr));
    std::lock_guard lock(S().mu);
    auto* d = FindByAddress(FromReversed(bdAddr));
    return d ? d->handle : 0;
}

BTDEVHDL Btsdk_AddRemoteDevice(const uint8_t* bdAddr) {
    if (!bdAddr)
        return 0;
    win::test::Record("Btsdk_AddRemoteDevice", Hex(bdAddr));
    if (win::test::ShouldFail("Btsdk_AddRemoteDevice") || !RadioReady())
        return 0;
    std::lock_guard lock(S().mu);
    return AddDevice(FromReversed(bdAddr));
}

uint32_t Btsdk_GetInquiredDevices(BTDEVHDL* handles, uint32_t maxCount) {
    win::test::Record("Btsdk_GetInquiredDevices", std::to_string(maxCount));
    std::lock_guard lock(S().mu);
    if (!handles || maxCount == 0)
        return static_cast<uint32_t>(S().inquired.size());
    const uint32_t n = std::min<uint32_t>(maxCount, static_cast<uint32_t>(S().inquired.size()));
    std::copy_n(S().inquired.begin(), n, handles);
    return n;
}

BTSDKRESULT Btsdk_GetRemoteDeviceAddress(BTDEVHDL device, uint8_t* bdAddr) {
    win::test::Record("Btsdk_GetRemoteDeviceAddress", std::to_string(device));
    std::lock_guard lock(S().mu);
    auto* d = FindByHandle(device);
    if (!d || !bdAddr)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    ToReversed(d->address, bdAddr);
    return BTSDK_OK;
}

BTSDKRESULT Btsdk_GetRemoteDeviceClass(BTDEVHDL device, uint32_t* classOfDevice) {
    win::test::Record("Btsdk_GetRemoteDeviceClass", std::to_string(device));
    const auto found = AddressOf(device);
    if (!found || !classOfDevice)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    const air::Address a = *found;
    if (air::Air::Instance().ReadClassOfDevice(a, *classOfDevice) != air::NameResult::Ok)
        return BTSDK_ER_NOT_AVAILABLE + 1;
    return BTSDK_OK;
}

// Resolved by the loader, never called by the library: present so the export list looks like the
// stack's, answering "not available".
BTSDKRESULT Btsdk_IsSDKInitialized() {
    std::lock_guard lock(S().mu);
    return S().initialized ? 1 : 0;
}
BTSDKRESULT Btsdk_IsBluetoothReady() {
    return RadioReady() ? 1 : 0;
}

} // extern "C"
} // namespace stackabi::bs
