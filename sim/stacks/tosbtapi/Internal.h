// Shared state of the Toshiba stand-in ("TosBtAPI.dll"). Each source file of this folder serves one group
// of entry points (Api.cpp: opening, event notification, local radio; Memory.cpp: the allocator behind
// BtMemFree). A new entry point goes into the file of its group as an extern "C" definition inside
// namespace stackabi::tos, so the compiler checks it against abi.h; every call fills the status.
#pragma once

#include "sim/air/Air.h"
#include "stacks/tosbtapi.h"
#include "sim/win32/Testing.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace tosbtapi {

inline constexpr int kStackKind = static_cast<int>(air::StackKind::Toshiba);

// Status values this stand-in writes (the library does not read them).
inline constexpr stackabi::tos::BTSTATUS kStatusOk = 0;
inline constexpr stackabi::tos::BTSTATUS kStatusNotOpen = -1;
inline constexpr stackabi::tos::BTSTATUS kStatusFailed = -2;
inline constexpr stackabi::tos::BTSTATUS kStatusNoRadio = -3;

struct EventRegistration {
    uint32_t mask = 0;
    stackabi::Hwnd window = nullptr;
    uint32_t message = 0;
};

struct StackState {
    std::mutex mu;
    bool open = false;
    int airToken = 0;
    std::vector<EventRegistration> events;
};

// The module stays mapped after its last free, so this state outlives loads: BtOpenAPI resets it.
StackState& State();

inline bool IsOpen() {
    std::lock_guard lk(State().mu);
    return State().open;
}

inline void SetStatus(stackabi::tos::BTSTATUS* status, stackabi::tos::BTSTATUS value) {
    if (status)
        *status = value;
}

// Posts the stack's on/off notice (lParam as given) to every window registered for it; returns how many.
int PostStackNotice(stackabi::LParam lParam);

// The PIN the stack answers for this phone by itself (BtSetAutoReplyPinCode), or empty.
std::string AutoReplyPin(const air::Address& phone);

// Blocks the stack hands to the library, freed with BtMemFree.
void* Allocate(std::size_t size);
std::size_t LiveBlocks();

inline void Record(const char* entry, std::string args = {}) {
    win::test::Record(entry, std::move(args));
}
inline bool ShouldFail(const char* entry) {
    return win::test::ShouldFail(entry);
}

} // namespace tosbtapi
