// Device inquiry of the older interface. BT_InquireDevices blocks the calling thread for the inquiry
// (timeout in seconds, as the air times it) unless BT_CancelInquiry ends it early; a cancelled inquiry
// still returns what it found.
//
// Test switches: failure switch "BT_InquireDevices" makes the call return value "BT_InquireDevices"
// (default 0); value "BT_InquireDevices:length" is the length a lying stack reports.
#include "stacks/btfunc.h"

#include "sim/air/Air.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

namespace stackabi::bsold {
namespace {

constexpr int kBlueSoleil = static_cast<int>(air::StackKind::BlueSoleil);

struct Inquiry {
    std::mutex mu;
    win::HANDLE cancel = nullptr; // set while an inquiry blocks
};

Inquiry& I() {
    static Inquiry inquiry;
    return inquiry;
}

} // namespace

extern "C" {

uint32_t BT_InquireDevices(uint8_t inquiryMode, uint8_t timeout, uint32_t* length, BLUETOOTH_DEVICE_INFO* devices) {
    win::test::Record("BT_InquireDevices", std::to_string(inquiryMode) + " " + std::to_string(timeout) + " " +
                                               std::to_string(length ? *length : 0));
    if (win::test::ShouldFail("BT_InquireDevices"))
        return static_cast<uint32_t>(win::test::Value("BT_InquireDevices", 0));
    if (!length || !devices)
        return 0;
    const auto result = air::Air::Instance().Inquire(kBlueSoleil, timeout * 1000);
    if (!result.radioPresent)
        return 0;
    win::HANDLE cancel = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
    if (!cancel)
        return 0;
    {
        std::lock_guard lk(I().mu);
        if (I().cancel)
            win::SetEvent(I().cancel); // one inquiry at a time: a new one ends the old
        I().cancel = cancel;
    }
    win::WaitForSingleObject(cancel, static_cast<win::DWORD>(result.durationMs));
    {
        std::lock_guard lk(I().mu);
        if (I().cancel == cancel)
            I().cancel = nullptr;
    }
    win::CloseHandle(cancel);
    const size_t room = *length / sizeof(BLUETOOTH_DEVICE_INFO);
    const size_t n = std::min(room, result.found.size());
    for (size_t i = 0; i < n; ++i) {
        BLUETOOTH_DEVICE_INFO& d = devices[i];
        std::memset(&d, 0, sizeof d);
        d.dwSize = sizeof d;
        const auto& p = result.found[i];
        for (size_t b = 0; b < BD_ADDR_SIZE; ++b)
            d.address[b] = p.address[BD_ADDR_SIZE - 1 - b];
        d.classOfDevice[0] = static_cast<uint8_t>(p.classOfDevice);
        d.classOfDevice[1] = static_cast<uint8_t>(p.classOfDevice >> 8);
        d.classOfDevice[2] = static_cast<uint8_t>(p.classOfDevice >> 16);
    }
    *length = static_cast<uint32_t>(n * sizeof(BLUETOOTH_DEVICE_INFO));
    if (const long long lie = win::test::Value("BT_InquireDevices:length", -1); lie >= 0)
        *length = static_cast<uint32_t>(lie);
    return BT_SUCCESS;
}

uint32_t BT_CancelInquiry() {
    win::test::Record("BT_CancelInquiry");
    std::lock_guard lk(I().mu);
    if (!I().cancel)
        return 0;
    win::SetEvent(I().cancel);
    return BT_SUCCESS;
}

} // extern "C"
} // namespace stackabi::bsold
