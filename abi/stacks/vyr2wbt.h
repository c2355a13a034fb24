// The WidComm bridge "vyr2wbt.dll": our own plain-function bridge to the WidComm stack. The loader only
// loads it when the stack's marker "wbtapi.dll" loads.
//
// Addresses are 6 bytes in text order (the first pair of "(00:1A:7D:DA:71:13)" at byte 0), always passed
// by pointer. Names are UTF-8 in 248-byte blocks that carry no terminator when the name fills them.
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::wd {

// The names the loader resolves, in resolve order (28).
#define ABI_WD_NAMES(X)                                                                                                \
    X(WD_Init)                                                                                                         \
    X(WD_Uninit)                                                                                                       \
    X(WD_IsDeviceReady)                                                                                                \
    X(WD_GetLocalDeviceVersionInfo)                                                                                    \
    X(WD_GetLocalDeviceName)                                                                                           \
    X(WD_BondQuery)                                                                                                    \
    X(WD_Bond)                                                                                                         \
    X(WD_UnBond)                                                                                                       \
    X(WD_Discovery)                                                                                                    \
    X(WD_Terminate)                                                                                                    \
    X(WD_GetRemoteDeviceName)                                                                                          \
    X(WD_GetRemoteDeviceCOD)                                                                                           \
    X(WD_EnumServices)                                                                                                 \
    X(WD_CreateCOMPortAssociation)                                                                                     \
    X(WD_RemoveCOMPortAssociation)                                                                                     \
    X(WD_SetAuthHandler)                                                                                               \
    X(WD_RemoveAuthHandler)                                                                                            \
    X(WD_SetLocalDeviceName)                                                                                           \
    X(WD_CreateRfCommClient)                                                                                           \
    X(WD_DestroyRfCommClient)                                                                                          \
    X(WD_OpenRfCommClient)                                                                                             \
    X(WD_CloseRfCommClient)                                                                                            \
    X(WD_WriteRfCommClient)                                                                                            \
    X(WD_CreateRfCommServer)                                                                                           \
    X(WD_DestroyRfCommServer)                                                                                          \
    X(WD_OpenRfCommServer)                                                                                             \
    X(WD_CloseRfCommServer)                                                                                            \
    X(WD_WriteRfCommServer)

inline constexpr const char* kEntryPointNames[] = {ABI_WD_NAMES(ABI_ENTRY_NAME)};
inline constexpr size_t kEntryPointCount = sizeof(kEntryPointNames) / sizeof(kEntryPointNames[0]);
static_assert(kEntryPointCount == 28);

inline constexpr const char* kStackMarkerLibrary = "wbtapi.dll";
inline constexpr const char* kBridgeLibrary = "vyr2wbt.dll";

inline constexpr size_t kNameSize = 248; // UTF-8 name block, zero-filled, unterminated when full
inline constexpr size_t kClassOfDeviceSize = 3;
inline constexpr size_t kMaxServices = 100;

// An RFCOMM client of the bridge; null means none could be made.
using WD_CLIENT = void*;

#pragma pack(push, 1)

// Local radio information. Only the address is read.
struct WD_DEV_VERSION_INFO {
    uint8_t BdAddr[BD_ADDR_SIZE]; // text order
    uint8_t HciVersion;
    uint16_t HciRevision;
    uint8_t LmpVersion;
    uint16_t Manufacturer;
    uint16_t LmpSubversion;
};
static_assert(sizeof(WD_DEV_VERSION_INFO) == 14);
static_assert(offsetof(WD_DEV_VERSION_INFO, BdAddr) == 0);

// One service of WD_EnumServices. Packed: the GUID sits at offset 1.
struct WD_SERVICE_RECORD {
    uint8_t Channel; // RFCOMM channel, 0 = none
    AbiGuid Uuid;    // service class, GUID memory layout
    char Name[101];  // UTF-8, NUL-terminated within the field when it fits (read bounded)
    uint32_t Handle; // SDP record handle
};
static_assert(sizeof(WD_SERVICE_RECORD) == 122);
static_assert(offsetof(WD_SERVICE_RECORD, Channel) == 0);
static_assert(offsetof(WD_SERVICE_RECORD, Uuid) == 1);
static_assert(offsetof(WD_SERVICE_RECORD, Name) == 17);
static_assert(offsetof(WD_SERVICE_RECORD, Handle) == 118);

// The caller's zeroed buffer for WD_EnumServices. Count may be anything the bridge writes: readers clamp
// it to kMaxServices.
struct WD_SERVICES {
    uint32_t Count;
    WD_SERVICE_RECORD Records[kMaxServices];
};
static_assert(sizeof(WD_SERVICES) == 12204);
static_assert(offsetof(WD_SERVICES, Records) == 4);

#pragma pack(pop)

// Library error codes that cross this interface (the bridge returns them from WD_Bond, WD_Discovery and
// WD_OpenRfCommClient, and posts them with WM_CONNECT_RESULT).
inline constexpr int32_t kCodeOk = 0;
inline constexpr int32_t kCodeApiNotAvailable = 14; // also the loader's default for a missing entry point

// Messages the bridge posts (WM_USER-based numbers of the library).
// To the window given to WD_Init. wParam kApiChangedWidComm; lParam 1 the radio became usable, 0 it went away.
inline constexpr uint32_t WM_BLUETOOTH_API_CHANGED = 1026;
inline constexpr WParam kApiChangedWidComm = 4;
// To a client window: the link was lost, the connection closes at once. wParam, lParam 0.
inline constexpr uint32_t WM_LINK_LOST = 1027;
// Optional, to the window given to WD_Discovery when the inquiry starts. wParam, lParam 0.
inline constexpr uint32_t WM_DISCOVERY_STARTED = 1030;
// To the window given to WD_Discovery: wParam points to lParam addresses of 6 bytes each (text order), or
// is 0 when the inquiry failed. The array stays the bridge's and stays valid until the next WD_Discovery
// or WD_Uninit. Not posted after WD_Terminate.
inline constexpr uint32_t WM_WIDCOMM_DISCOVERY_RESULT = 1035;
// To the window given to WD_CreateRfCommClient, once per accepted WD_OpenRfCommClient: wParam 0 when the
// link is up, else a library error code; lParam 0. Without it the connect attempt times out.
inline constexpr uint32_t WM_CONNECT_RESULT = 1036;
// To the client window: wParam points to received bytes, lParam is their count. The bytes stay the
// bridge's and must stay valid until the message is handled: the bridge sends it, or keeps every posted
// buffer until WD_DestroyRfCommClient.
inline constexpr uint32_t WM_WIDCOMM_DATA = 1039;
// To the client window: the link went down; the connection closes 1000 ms later. wParam, lParam unused.
inline constexpr uint32_t WM_WIDCOMM_DELAYED_CLOSE = 1040;

// Booleans of WD_OpenRfCommClient.
inline constexpr Bool32 kTrue = -1;
inline constexpr Bool32 kFalse = 0;

// The entry points the library calls.
extern "C" {
// apiWindow receives WM_BLUETOOTH_API_CHANGED; version is the library version text ("6.7.5.0").
// Non-zero: the bridge is ready to serve.
Bool32 WD_Init(Hwnd apiWindow, const char16_t* version);
Bool32 WD_Uninit();
// Non-zero: a WidComm radio is usable.
Bool32 WD_IsDeviceReady();
Bool32 WD_GetLocalDeviceVersionInfo(WD_DEV_VERSION_INFO* info);
// name: kNameSize bytes of UTF-8, zero-filled, unterminated when full.
Bool32 WD_SetLocalDeviceName(const uint8_t* name);
// Returns a library error code: 0 paired.
int32_t WD_Bond(const uint8_t* bdAddr, const char* pin);
Bool32 WD_UnBond(const uint8_t* bdAddr);
// Starts an inquiry that ends with WM_WIDCOMM_DISCOVERY_RESULT to window. Returns a library error code:
// 0 started.
int32_t WD_Discovery(Hwnd window);
void WD_Terminate();
// name: a zeroed kNameSize-byte buffer, filled with UTF-8.
Bool32 WD_GetRemoteDeviceName(const uint8_t* bdAddr, uint8_t* name);
// cod: 3 bytes, most significant first (class = b0 << 16 | b1 << 8 | b2).
Bool32 WD_GetRemoteDeviceCOD(const uint8_t* bdAddr, uint8_t* cod);
// serviceClass null asks for every service.
Bool32 WD_EnumServices(const uint8_t* bdAddr, const AbiGuid* serviceClass, WD_SERVICES* services);
// Called on connection worker threads. window receives the client's messages.
WD_CLIENT WD_CreateRfCommClient(Hwnd window);
// Returns a library error code: 0 the open was accepted and WM_CONNECT_RESULT follows. The GUID is passed
// by value; authenticate and encrypt are kTrue or kFalse.
int32_t WD_OpenRfCommClient(WD_CLIENT client, const uint8_t* bdAddr, uint8_t channel, AbiGuid serviceClass,
                            const char* serviceName, Bool32 authenticate, Bool32 encrypt);
// Non-zero: the bridge took every byte.
Bool32 WD_WriteRfCommClient(WD_CLIENT client, const void* data, uint32_t size);
void WD_CloseRfCommClient(WD_CLIENT client);
void WD_DestroyRfCommClient(WD_CLIENT client);
}

using PFN_WD_Init = decltype(&WD_Init);
using PFN_WD_Uninit = decltype(&WD_Uninit);
using PFN_WD_IsDeviceReady = decltype(&WD_IsDeviceReady);
using PFN_WD_GetLocalDeviceVersionInfo = decltype(&WD_GetLocalDeviceVersionInfo);
using PFN_WD_SetLocalDeviceName = decltype(&WD_SetLocalDeviceName);
using PFN_WD_Bond = decltype(&WD_Bond);
using PFN_WD_UnBond = decltype(&WD_UnBond);
using PFN_WD_Discovery = decltype(&WD_Discovery);
using PFN_WD_Terminate = decltype(&WD_Terminate);
using PFN_WD_GetRemoteDeviceName = decltype(&WD_GetRemoteDeviceName);
using PFN_WD_GetRemoteDeviceCOD = decltype(&WD_GetRemoteDeviceCOD);
using PFN_WD_EnumServices = decltype(&WD_EnumServices);
using PFN_WD_CreateRfCommClient = decltype(&WD_CreateRfCommClient);
using PFN_WD_OpenRfCommClient = decltype(&WD_OpenRfCommClient);
using PFN_WD_WriteRfCommClient = decltype(&WD_WriteRfCommClient);
using PFN_WD_CloseRfCommClient = decltype(&WD_CloseRfCommClient);
using PFN_WD_DestroyRfCommClient = decltype(&WD_DestroyRfCommClient);

} // namespace stackabi::wd
