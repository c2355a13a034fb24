// BlueSoleil, older interface: "btfunc.dll". Always loaded when the stack is present; it serves the radio,
// the service search and the SPP connections, and the newer interface (sim/stacks/bssdk/abi.h) only adds
// device calls and its own discovery.
//
// Results are 1 for success (BT_SUCCESS) unless said otherwise; 0 is also what the loader's wrappers
// return for a missing entry point. Addresses are 6 bytes least significant first (the address text read
// backwards), inside the device records at offsets 4..9.
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::bsold {

// The names the loader resolves, in resolve order (28). In the loader's table they follow the 95
// newer-interface names.
#define ABI_BTFUNC_NAMES(X)                                                                                            \
    X(BT_InitializeLibrary)                                                                                            \
    X(BT_UninitializeLibrary)                                                                                          \
    X(BT_IsBlueSoleilStarted)                                                                                          \
    X(BT_IsBluetoothReady)                                                                                             \
    X(BT_StartBluetooth)                                                                                               \
    X(BT_StopBluetooth)                                                                                                \
    X(BT_GetLocalDeviceInfo)                                                                                           \
    X(BT_SetLocalDeviceInfo)                                                                                           \
    X(BT_GetRemoteDeviceInfo)                                                                                          \
    X(BT_SetRemoteDeviceInfo)                                                                                          \
    X(BT_PairDevice)                                                                                                   \
    X(BT_UnpairDevice)                                                                                                 \
    X(BT_ConnectService)                                                                                               \
    X(BT_DisconnectService)                                                                                            \
    X(BT_InquireDevices)                                                                                               \
    X(BT_CancelInquiry)                                                                                                \
    X(BT_BrowseServices)                                                                                               \
    X(BT_GetConnectInfo)                                                                                               \
    X(BT_StartSPPExService)                                                                                            \
    X(BT_StopSPPExService)                                                                                             \
    X(BT_SearchSPPExServices)                                                                                          \
    X(BT_ConnectSPPExService)                                                                                          \
    X(BT_DisconnectSPPExService)                                                                                       \
    X(BT_RegisterCallback)                                                                                             \
    X(BT_UnregisterCallback)                                                                                           \
    X(BT_GetVersion)                                                                                                   \
    X(BT_GetBtSpecVersion)                                                                                             \
    X(BT_EnumConnections)

inline constexpr const char* kEntryPointNames[] = {ABI_BTFUNC_NAMES(ABI_ENTRY_NAME)};
inline constexpr size_t kEntryPointCount = sizeof(kEntryPointNames) / sizeof(kEntryPointNames[0]);
static_assert(kEntryPointCount == 28);

inline constexpr const char* kLibrary = "btfunc.dll";

inline constexpr uint32_t BT_SUCCESS = 1;
inline constexpr uint32_t BT_ERROR_ALREADY_PAIRED = 4;   // BT_PairDevice
inline constexpr uint32_t BT_ERROR_PAIR_AUTH_FAILED = 5; // BT_PairDevice: wrong PIN

// Information masks of BT_GetLocalDeviceInfo, BT_SetLocalDeviceInfo and BT_GetRemoteDeviceInfo.
inline constexpr uint32_t BT_INFO_NAME = 1;
inline constexpr uint32_t BT_INFO_CLASS = 2;
inline constexpr uint32_t BT_INFO_ADDRESS = 4;

inline constexpr uint8_t BT_INQUIRY_MODE = 3; // the inquiry mode the library passes to BT_InquireDevices

// Callback registration kinds the library registers for, and the events it acts on.
inline constexpr uint8_t BT_CALLBACK_KIND_CONNECTION = 3;
inline constexpr uint8_t BT_CALLBACK_KIND_SPPEX = 7;
// A notice for windows of registry kind 1; value is handed on as the message's lParam.
inline constexpr uint8_t BT_EVENT_NOTIFY = 1;
// A link of registry kind 1 went down; value is its connection handle.
inline constexpr uint8_t BT_EVENT_KIND1_LINK_LOST = 3;
// An SPP client link (registry kind 0) went down; value is its connection handle.
inline constexpr uint8_t BT_EVENT_SPP_CLIENT_LINK_LOST = 4;

// The stack's callback, called on a stack thread: registeredKind is the kind it was registered for
// (BT_CALLBACK_KIND_...), value depends on the event, event is a BT_EVENT_ code.
using BT_CALLBACK = void (*)(uint32_t registeredKind, uint32_t value, uint8_t event);

inline constexpr size_t kDeviceNameSize = 64;   // UTF-8, NUL-terminated when shorter
inline constexpr size_t kServiceNameSize = 128; // UTF-8, NUL-terminated when shorter

// ---- Records: no pointers, little-endian, explicit padding so the byte layout is exact ----
#pragma pack(push, 1)

// The device record (84 bytes): BT_SetLocalDeviceInfo, BT_PairDevice, BT_InquireDevices (an array),
// BT_BrowseServices, BT_SearchSPPExServices, BT_ConnectSPPExService.
struct BLUETOOTH_DEVICE_INFO {
    uint32_t dwSize;               // 84; in an inquiry array only the first record's size is set by the caller
    uint8_t address[BD_ADDR_SIZE]; // reversed
    uint8_t classOfDevice[3];      // least significant first: class = [2] << 16 | [1] << 8 | [0]
    char szName[kDeviceNameSize];  // UTF-8
    uint8_t pad0[3];               // also takes the NUL after a name of 64 bytes
    Bool32 bPaired;
};
static_assert(sizeof(BLUETOOTH_DEVICE_INFO) == 84);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, address) == 4);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, classOfDevice) == 10);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, szName) == 13);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, bPaired) == 80);

// The extended device record (132 bytes): BT_GetLocalDeviceInfo, BT_GetRemoteDeviceInfo; BT_UnpairDevice
// takes a pointer to its address field.
struct BLUETOOTH_DEVICE_INFO_EX {
    uint32_t dwSize;               // 132
    uint8_t address[BD_ADDR_SIZE]; // reversed
    uint8_t classOfDevice[3];      // least significant first
    char szName[kDeviceNameSize];  // UTF-8
    uint8_t pad0[3];
    Bool32 bPaired;
    uint8_t reserved[48]; // link details of the stack's own; nothing reads them
};
static_assert(sizeof(BLUETOOTH_DEVICE_INFO_EX) == 132);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO_EX, address) == 4);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO_EX, classOfDevice) == 10);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO_EX, szName) == 13);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO_EX, bPaired) == 80);

// One service of BT_BrowseServices (140 bytes).
struct GENERAL_SERVICE_INFO {
    uint32_t dwSize; // 140; in the browse buffer only the first entry's size is set by the caller
    uint32_t dwServiceHandle;
    uint16_t wServiceClassUuid16;
    char szServiceName[kServiceNameSize]; // UTF-8
    uint8_t pad0[2];
};
static_assert(sizeof(GENERAL_SERVICE_INFO) == 140);
static_assert(offsetof(GENERAL_SERVICE_INFO, dwServiceHandle) == 4);
static_assert(offsetof(GENERAL_SERVICE_INFO, wServiceClassUuid16) == 8);
static_assert(offsetof(GENERAL_SERVICE_INFO, szServiceName) == 10);

// The SPP extension service record (156 bytes): BT_SearchSPPExServices, BT_ConnectSPPExService.
struct SPPEX_SERVICE_INFO {
    uint32_t dwSize;          // 156
    uint32_t dwServiceHandle; // SDP record handle: 0 from the caller, filled by a search
    AbiGuid serviceClassUuid128;
    char szServiceName[kServiceNameSize]; // UTF-8: zero from the caller, filled by a search
    uint8_t ucServiceChannel;             // RFCOMM channel
    uint8_t ucComIndex;                   // virtual COM port number, filled by the stack on connect
    uint8_t pad0[2];
};
static_assert(sizeof(SPPEX_SERVICE_INFO) == 156);
static_assert(offsetof(SPPEX_SERVICE_INFO, dwServiceHandle) == 4);
static_assert(offsetof(SPPEX_SERVICE_INFO, serviceClassUuid128) == 8);
static_assert(offsetof(SPPEX_SERVICE_INFO, szServiceName) == 24);
static_assert(offsetof(SPPEX_SERVICE_INFO, ucServiceChannel) == 152);
static_assert(offsetof(SPPEX_SERVICE_INFO, ucComIndex) == 153);

// Connection details of BT_GetConnectInfo (8 bytes).
struct SPPEX_CONNECT_INFO {
    uint32_t dwSize;   // 8
    uint8_t ucComPort; // virtual COM port number, 0 = none
    uint8_t pad0[3];
};
static_assert(sizeof(SPPEX_CONNECT_INFO) == 8);
static_assert(offsetof(SPPEX_CONNECT_INFO, ucComPort) == 4);

#pragma pack(pop)

// The entry points the library calls.
extern "C" {
Bool32 BT_InitializeLibrary();
void BT_UninitializeLibrary();
// reserved: the library passes 0. Non-zero: Bluetooth is ready.
Bool32 BT_IsBluetoothReady(uint32_t reserved);
uint32_t BT_StartBluetooth();
// mask BT_INFO_ADDRESS; the record's dwSize is 132.
uint32_t BT_GetLocalDeviceInfo(uint32_t mask, BLUETOOTH_DEVICE_INFO_EX* info);
// mask BT_INFO_NAME; the record's dwSize is 84.
uint32_t BT_SetLocalDeviceInfo(uint32_t mask, const BLUETOOTH_DEVICE_INFO* info);
// mask BT_INFO_NAME or BT_INFO_CLASS; the record carries dwSize 132 and the address.
uint32_t BT_GetRemoteDeviceInfo(uint32_t mask, BLUETOOTH_DEVICE_INFO_EX* info);
// pin: 8-bit text of pinLength bytes; reserved1 and reserved2 are 0. BT_SUCCESS or a BT_ERROR_ code.
uint32_t BT_PairDevice(const BLUETOOTH_DEVICE_INFO* device, uint16_t pinLength, const char* pin, uint32_t reserved1,
                       uint32_t reserved2);
// address: the 6 reversed bytes (the address field of a BLUETOOTH_DEVICE_INFO_EX).
uint32_t BT_UnpairDevice(const uint8_t* address);
// Blocks for the inquiry (timeout in seconds) unless BT_CancelInquiry ends it. *length: the buffer's size
// in bytes on entry, the bytes filled on return (a multiple of 84).
uint32_t BT_InquireDevices(uint8_t inquiryMode, uint8_t timeout, uint32_t* length, BLUETOOTH_DEVICE_INFO* devices);
uint32_t BT_CancelInquiry();
// *length: the buffer's size in bytes on entry, the bytes filled on return (a multiple of 140).
uint32_t BT_BrowseServices(const BLUETOOTH_DEVICE_INFO* device, Bool32 browseAll, uint32_t* length,
                           GENERAL_SERVICE_INFO* services);
// Looks up the SPP service whose class the record names. *length: 156 on entry and on return.
uint32_t BT_SearchSPPExServices(const BLUETOOTH_DEVICE_INFO* device, uint32_t* length, SPPEX_SERVICE_INFO* service);
// BT_SUCCESS: connected, *connection set and the record's ucComIndex filled.
uint32_t BT_ConnectSPPExService(const BLUETOOTH_DEVICE_INFO* device, SPPEX_SERVICE_INFO* service, uint32_t* connection);
// serviceClass: the connected service's 16-bit class; role: 0 client; remoteAddress: 6 reversed bytes;
// *infoSize: 8 on entry and return.
uint32_t BT_GetConnectInfo(uint32_t connection, uint32_t* serviceClass, uint16_t* role, uint8_t* remoteAddress,
                           uint32_t* infoSize, SPPEX_CONNECT_INFO* info);
uint32_t BT_DisconnectSPPExService(uint32_t connection);
uint32_t BT_RegisterCallback(uint8_t kind, BT_CALLBACK callback);
uint32_t BT_UnregisterCallback(uint8_t kind);
}

using PFN_BT_InitializeLibrary = decltype(&BT_InitializeLibrary);
using PFN_BT_UninitializeLibrary = decltype(&BT_UninitializeLibrary);
using PFN_BT_IsBluetoothReady = decltype(&BT_IsBluetoothReady);
using PFN_BT_StartBluetooth = decltype(&BT_StartBluetooth);
using PFN_BT_GetLocalDeviceInfo = decltype(&BT_GetLocalDeviceInfo);
using PFN_BT_SetLocalDeviceInfo = decltype(&BT_SetLocalDeviceInfo);
using PFN_BT_GetRemoteDeviceInfo = decltype(&BT_GetRemoteDeviceInfo);
using PFN_BT_PairDevice = decltype(&BT_PairDevice);
using PFN_BT_UnpairDevice = decltype(&BT_UnpairDevice);
using PFN_BT_InquireDevices = decltype(&BT_InquireDevices);
using PFN_BT_CancelInquiry = decltype(&BT_CancelInquiry);
using PFN_BT_BrowseServices = decltype(&BT_BrowseServices);
using PFN_BT_SearchSPPExServices = decltype(&BT_SearchSPPExServices);
using PFN_BT_ConnectSPPExService = decltype(&BT_ConnectSPPExService);
using PFN_BT_GetConnectInfo = decltype(&BT_GetConnectInfo);
using PFN_BT_DisconnectSPPExService = decltype(&BT_DisconnectSPPExService);
using PFN_BT_RegisterCallback = decltype(&BT_RegisterCallback);
using PFN_BT_UnregisterCallback = decltype(&BT_UnregisterCallback);

} // namespace stackabi::bsold
