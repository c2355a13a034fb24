// Shared state of the WidComm bridge stand-in ("vyr2wbt.dll"). Each source file of this folder serves one
// group of entry points (Bridge.cpp: start-up and presence; Clients.cpp: RFCOMM clients). A new entry
// point goes into the file of its group as an extern "C" definition inside namespace stackabi::wd, so the
// compiler checks it against abi.h; it reads the air and, when it answers later, posts to the window it
// was given.
#pragma once

#include "sim/air/Air.h"
#include "stacks/vyr2wbt.h"
#include "sim/win32/Testing.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vyr2wbt {

inline constexpr int kStackKind = static_cast<int>(air::StackKind::WidComm);

struct Client {
    stackabi::Hwnd window = nullptr;
};

struct BridgeState {
    std::mutex mu;
    bool initialised = false;
    stackabi::Hwnd apiWindow = nullptr; // receives WM_BLUETOOTH_API_CHANGED
    int airToken = 0;
    std::map<std::uintptr_t, Client> clients;
    std::uintptr_t nextClient = 0x100;
};

// The module stays mapped after its last free, so this state outlives loads: WD_Init resets it.
BridgeState& State();

inline bool Initialised() {
    std::lock_guard lk(State().mu);
    return State().initialised;
}

inline void Record(const char* entry, std::string args = {}) {
    win::test::Record(entry, std::move(args));
}
inline bool ShouldFail(const char* entry) {
    return win::test::ShouldFail(entry);
}

} // namespace vyr2wbt

namespace vyr2wbt {
// Ends the RFCOMM link of a client, if it has one, and frees the buffers it handed out (rfcomm.cpp).
void EndClientLink(std::uintptr_t client, bool freeBuffers);
} // namespace vyr2wbt
