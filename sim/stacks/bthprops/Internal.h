// Shared pieces of the Microsoft stand-in ("bthprops.cpl", also built as "irprops.cpl"). Each source file
// of this folder serves one group of entry points; a new entry point goes into the file of its group (or
// a new file here) as an extern "C" definition inside namespace stackabi::ms, so the compiler checks it
// against the declaration in abi.h.
#pragma once

#include "sim/air/Air.h"
#include "stacks/bthprops.h"
#include "win32/DeviceRegistry.h"
#include "win32/Kernel.h"
#include "sim/win32/Testing.h"

#include <string>

namespace bthprops {

inline constexpr int kStackKind = static_cast<int>(air::StackKind::Microsoft);

// Handles this stand-in hands out; they live in the shared handle table and close with CloseHandle.
struct RadioObject : win::DeviceObject {
    // The name reload request after a rename (RadioName.cpp).
    win::DWORD IoControl(win::DWORD code, const void* in, win::DWORD inSize, void* out, win::DWORD outSize,
                         win::DWORD* returned) override;
};
struct RadioFindObject : win::KernelObject {};

// "BTH_ADDR" byte order: the address text read backwards.
inline air::Address FromBthAddress(const stackabi::ms::BLUETOOTH_ADDRESS& a) {
    air::Address out{};
    for (int i = 0; i < 6; ++i)
        out[static_cast<size_t>(i)] = a.rgBytes[5 - i];
    return out;
}
inline void ToBthAddress(const air::Address& a, stackabi::ms::BLUETOOTH_ADDRESS& out) {
    out.ullLong = 0;
    for (int i = 0; i < 6; ++i)
        out.rgBytes[i] = a[static_cast<size_t>(5 - i)];
}

// A UTF-8 name into a fixed UTF-16 field, cut to leave room for the terminator.
void CopyName(const std::string& utf8, char16_t* field, size_t fieldChars);

// Journal and failure switches under the entry point's own name.
inline void Record(const char* entry, std::string args = {}) {
    win::test::Record(entry, std::move(args));
}
inline bool ShouldFail(const char* entry) {
    return win::test::ShouldFail(entry);
}

} // namespace bthprops
