// Stand-in for the older BlueSoleil interface: library start-up, the radio's readiness as the air has
// it (the BlueSoleil radio plugged in or not), and the stack callbacks, which it calls on a thread of
// its own. TavlinBtfunc_RaiseEvent lets a test play the stack's connection events.
#include "stacks/btfunc.h"

#include "sim/air/Air.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <array>
#include <mutex>
#include <string>

namespace stackabi::bsold {
namespace {

constexpr int kBlueSoleil = static_cast<int>(air::StackKind::BlueSoleil);

struct State {
    std::mutex mu;
    int initCount = 0;
    bool started = false;
    std::array<BT_CALLBACK, 256> callbacks{};
};

State& S() {
    static State s;
    return s;
}

} // namespace

extern "C" {

Bool32 BT_InitializeLibrary() {
    win::test::Record("BT_InitializeLibrary");
    if (win::test::ShouldFail("BT_InitializeLibrary"))
        return 0;
    std::lock_guard lock(S().mu);
    ++S().initCount;
    return 1;
}

void BT_UninitializeLibrary() {
    win::test::Record("BT_UninitializeLibrary");
    std::lock_guard lock(S().mu);
    if (S().initCount > 0 && --S().initCount == 0) {
        S().callbacks.fill(nullptr);
        S().started = false;
    }
}

Bool32 BT_IsBluetoothReady(uint32_t reserved) {
    win::test::Record("BT_IsBluetoothReady", std::to_string(reserved));
    {
        std::lock_guard lock(S().mu);
        if (S().initCount == 0)
            return 0;
    }
    return air::Air::Instance().RadioPresent(kBlueSoleil) ? 1 : 0;
}

uint32_t BT_StartBluetooth() {
    win::test::Record("BT_StartBluetooth");
    if (win::test::ShouldFail("BT_StartBluetooth"))
        return 0;
    std::lock_guard lock(S().mu);
    S().started = true;
    return BT_SUCCESS;
}

uint32_t BT_GetLocalDeviceInfo(uint32_t mask, BLUETOOTH_DEVICE_INFO_EX* info) {
    win::test::Record("BT_GetLocalDeviceInfo", std::to_string(mask));
    if (!info || info->dwSize != sizeof(BLUETOOTH_DEVICE_INFO_EX))
        return 0;
    const air::Radio radio = air::Air::Instance().GetRadio(kBlueSoleil);
    if (!radio.present)
        return 0;
    if (mask & BT_INFO_ADDRESS)
        for (size_t i = 0; i < BD_ADDR_SIZE; ++i)
            info->address[i] = radio.address[BD_ADDR_SIZE - 1 - i];
    if (mask & BT_INFO_CLASS) {
        info->classOfDevice[0] = static_cast<uint8_t>(radio.classOfDevice);
        info->classOfDevice[1] = static_cast<uint8_t>(radio.classOfDevice >> 8);
        info->classOfDevice[2] = static_cast<uint8_t>(radio.classOfDevice >> 16);
    }
    if (mask & BT_INFO_NAME) {
        const size_t n = radio.name.size() < kDeviceNameSize ? radio.name.size() : kDeviceNameSize;
        std::fill(std::begin(info->szName), std::end(info->szName), '\0');
        std::copy_n(radio.name.data(), n, info->szName);
    }
    return BT_SUCCESS;
}

uint32_t BT_RegisterCallback(uint8_t kind, BT_CALLBACK callback) {
    win::test::Record("BT_RegisterCallback", std::to_string(kind));
    if (win::test::ShouldFail("BT_RegisterCallback") || !callback)
        return 0;
    std::lock_guard lock(S().mu);
    if (S().initCount == 0)
        return 0;
    S().callbacks[kind] = callback;
    return BT_SUCCESS;
}

uint32_t BT_UnregisterCallback(uint8_t kind) {
    win::test::Record("BT_UnregisterCallback", std::to_string(kind));
    std::lock_guard lock(S().mu);
    const bool had = S().callbacks[kind] != nullptr;
    S().callbacks[kind] = nullptr;
    return had ? BT_SUCCESS : 0;
}

// Test hook: the stack raises `event` with `value` to the callback registered for `kind`, on a stack
// thread, and returns once the callback has returned (the caller's incoming sends are served while it
// waits). Returns 1 when a callback was called, 0 when none is registered for the kind.
int TavlinBtfunc_RaiseEvent(uint8_t kind, uint32_t value, uint8_t event) {
    BT_CALLBACK cb;
    {
        std::lock_guard lock(S().mu);
        cb = S().callbacks[kind];
    }
    if (!cb)
        return 0;
    win::HANDLE thread = win::CreateThread([cb, kind, value, event]() -> win::DWORD {
        cb(kind, value, event);
        return 0;
    });
    if (!thread)
        return 0;
    win::WaitForSingleObject(thread, win::INFINITE);
    win::CloseHandle(thread);
    return 1;
}

} // extern "C"
} // namespace stackabi::bsold
