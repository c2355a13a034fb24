// SetupAPI records and constants the library uses to find the IrDA adapter and the Bluetooth radio's
// device node. Shared by the platform's SetupAPI subset and the library.
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::sp {

inline constexpr uint32_t DIGCF_PRESENT = 0x02;
inline constexpr uint32_t DIGCF_PROFILE = 0x08;
inline constexpr uint32_t SPDRP_HARDWAREID = 1;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;

// Setup classes.
inline constexpr AbiGuid GUID_DEVCLASS_INFRARED = AbiGuid::FromText("6BDD1FC5-810F-11D0-BEC7-08002BE2092F");
inline constexpr AbiGuid GUID_DEVCLASS_BLUETOOTH = AbiGuid::FromText("E0CBF06C-CD8B-4647-BB8A-263B43F0F974");

// One device of a device information set. The last member is pointer-sized on Windows (32 bytes on
// x86-64); it is an opaque value only the SetupAPI layer reads, so here it is 32 bits and the record keeps
// the 28 bytes the library writes into cbSize.
struct SP_DEVINFO_DATA {
    uint32_t cbSize; // 28
    AbiGuid ClassGuid;
    uint32_t DevInst;
    uint32_t Reserved;
};
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
static_assert(offsetof(SP_DEVINFO_DATA, ClassGuid) == 4);
static_assert(offsetof(SP_DEVINFO_DATA, DevInst) == 20);

} // namespace stackabi::sp
