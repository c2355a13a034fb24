// Device-change broadcasts: the filter given to RegisterDeviceNotificationW and the record WM_DEVICECHANGE
// points to. Shared by the platform (which raises them for the simulated hardware) and the library's
// loaders (which watch them).
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::dbt {

inline constexpr uint32_t WM_DEVICECHANGE = 0x0219;
inline constexpr uintptr_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;
inline constexpr uint32_t DEVICE_NOTIFY_WINDOW_HANDLE = 0;

// Device interface classes watched (the Bluetooth radio's class is in sim/stacks/bthprops/abi.h).
inline constexpr AbiGuid GUID_DEVINTERFACE_USB_DEVICE = AbiGuid::FromText("A5DCBF10-6530-11D2-901F-00C04FB951ED");

// Every broadcast starts with this header.
struct DEV_BROADCAST_HDR {
    uint32_t dbch_size;
    uint32_t dbch_devicetype;
    uint32_t dbch_reserved;
};
static_assert(sizeof(DEV_BROADCAST_HDR) == 12);

// A device-interface broadcast; also the notification filter (size 32, type 5, reserved 0, the class).
// The name runs on past the record in a broadcast; in a filter it is empty.
struct DEV_BROADCAST_DEVICEINTERFACE_W {
    uint32_t dbcc_size;
    uint32_t dbcc_devicetype; // DBT_DEVTYP_DEVICEINTERFACE
    uint32_t dbcc_reserved;
    AbiGuid dbcc_classguid;
    char16_t dbcc_name[1];
};
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid) == 12);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == 28);
// The least a broadcast must hold before its class GUID may be read.
inline constexpr uint32_t kMinDeviceInterfaceBroadcastSize = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);

} // namespace stackabi::dbt
