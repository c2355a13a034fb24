// BlueSoleil, newer interface: "BsSdk.dll". Used only when the installed stack version calls for it, and
// always together with the older interface ("btfunc.dll", sim/stacks/btfunc/abi.h), which keeps serving
// the radio, the services and the connections.
//
// Results are BTSDK_ codes (0 success) unless said otherwise. Devices are named by 32-bit handles the
// stack hands out. Addresses are 6 bytes least significant first (the address text read backwards).
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::bs {

// The names the loader resolves, in resolve order (95). Three positions hold entry points of the stack
// whose names are not known to us; the library never calls them, so the loader leaves those slots null
// (U(n) expands to the n-th unnamed slot).
#define ABI_BSSDK_NAMES(X, U)                                                                                          \
    X(Btsdk_Init)                                                                                                      \
    X(Btsdk_Done)                                                                                                      \
    X(Btsdk_IsSDKInitialized)                                                                                          \
    X(Btsdk_IsServerConnected)                                                                                         \
    X(Btsdk_RegisterGetStatusInfoCB4ThirdParty)                                                                        \
    X(Btsdk_RegisterCallback4ThirdParty)                                                                               \
    X(Btsdk_RegisterCallbackEx)                                                                                        \
    X(Btsdk_SetStatusInfoFlag)                                                                                         \
    X(Btsdk_MallocMemory)                                                                                              \
    X(Btsdk_FreeMemory)                                                                                                \
    X(Btsdk_StartBluetooth)                                                                                            \
    X(Btsdk_StopBluetooth)                                                                                             \
    X(Btsdk_IsBluetoothReady)                                                                                          \
    X(Btsdk_IsBluetoothHardwareExisted)                                                                                \
    X(Btsdk_SetDiscoveryMode)                                                                                          \
    X(Btsdk_GetDiscoveryMode)                                                                                          \
    X(Btsdk_GetLocalDeviceAddress)                                                                                     \
    X(Btsdk_SetLocalName)                                                                                              \
    X(Btsdk_GetLocalName)                                                                                              \
    X(Btsdk_SetLocalDeviceClass)                                                                                       \
    X(Btsdk_GetLocalDeviceClass)                                                                                       \
    X(Btsdk_GetLocalLMPInfo)                                                                                           \
    X(Btsdk_SetFixedPinCode)                                                                                           \
    X(Btsdk_GetFixedPinCode)                                                                                           \
    X(Btsdk_VendorCommand)                                                                                             \
    X(Btsdk_EnumAVDriver)                                                                                              \
    X(Btsdk_DeEnumAVDriver)                                                                                            \
    U(1)                                                                                                               \
    X(Btsdk_StartDeviceDiscovery)                                                                                      \
    X(Btsdk_StopDeviceDiscovery)                                                                                       \
    X(Btsdk_UpdateRemoteDeviceName)                                                                                    \
    X(Btsdk_CancelUpdateRemoteDeviceName)                                                                              \
    X(Btsdk_IsDevicePaired)                                                                                            \
    X(Btsdk_PairDevice)                                                                                                \
    X(Btsdk_UnPairDevice)                                                                                              \
    X(Btsdk_PinCodeReply)                                                                                              \
    X(Btsdk_AuthorizationResponse)                                                                                     \
    X(Btsdk_IsDeviceConnected)                                                                                         \
    X(Btsdk_GetRemoteDeviceRole)                                                                                       \
    X(Btsdk_GetRemoteLMPInfo)                                                                                          \
    X(Btsdk_GetRemoteRSSI)                                                                                             \
    X(Btsdk_GetRemoteLinkQuality)                                                                                      \
    X(Btsdk_GetSupervisionTimeout)                                                                                     \
    X(Btsdk_SetSupervisionTimeout)                                                                                     \
    X(Btsdk_ChangeConnectionPacketType)                                                                                \
    X(Btsdk_GetRemoteDeviceHandle)                                                                                     \
    X(Btsdk_AddRemoteDevice)                                                                                           \
    X(Btsdk_DeleteRemoteDeviceByHandle)                                                                                \
    X(Btsdk_DeleteUnpairedDevicesByClass)                                                                              \
    X(Btsdk_GetStoredDevicesByClass)                                                                                   \
    X(Btsdk_GetInquiredDevices)                                                                                        \
    X(Btsdk_GetPairedDevices)                                                                                          \
    X(Btsdk_StartEnumRemoteDevice)                                                                                     \
    X(Btsdk_EnumRemoteDevice)                                                                                          \
    X(Btsdk_EndEnumRemoteDevice)                                                                                       \
    X(Btsdk_GetRemoteDeviceAddress)                                                                                    \
    X(Btsdk_GetRemoteDeviceName)                                                                                       \
    X(Btsdk_GetRemoteDeviceClass)                                                                                      \
    X(Btsdk_GetRemoteDeviceProperty)                                                                                   \
    X(Btsdk_RemoteDeviceFlowStatistic)                                                                                 \
    X(Btsdk_BrowseRemoteServicesEx)                                                                                    \
    X(Btsdk_BrowseRemoteServices)                                                                                      \
    X(Btsdk_RefreshRemoteServiceAttributes)                                                                            \
    X(Btsdk_GetRemoteServicesEx)                                                                                       \
    X(Btsdk_GetRemoteServices)                                                                                         \
    X(Btsdk_GetRemoteServiceAttributes)                                                                                \
    X(Btsdk_StartEnumRemoteService)                                                                                    \
    X(Btsdk_EnumRemoteService)                                                                                         \
    X(Btsdk_EndEnumRemoteService)                                                                                      \
    X(Btsdk_SetRemoteServiceParam)                                                                                     \
    X(Btsdk_GetRemoteServiceParam)                                                                                     \
    X(Btsdk_Connect)                                                                                                   \
    X(Btsdk_ConnectEx)                                                                                                 \
    X(Btsdk_GetConnectionProperty)                                                                                     \
    X(Btsdk_StartEnumConnection)                                                                                       \
    X(Btsdk_EnumConnection)                                                                                            \
    X(Btsdk_EndEnumConnection)                                                                                         \
    X(Btsdk_Disconnect)                                                                                                \
    X(Btsdk_VDIInstallDev)                                                                                             \
    X(Btsdk_VDIDelModem)                                                                                               \
    U(2)                                                                                                               \
    U(3)                                                                                                               \
    X(Btsdk_InitCommObj)                                                                                               \
    X(Btsdk_DeinitCommObj)                                                                                             \
    X(Btsdk_GetClientPort)                                                                                             \
    X(Btsdk_GetAvailableExtSPPCOMPort)                                                                                 \
    X(Btsdk_SearchAppExtSPPService)                                                                                    \
    X(Btsdk_ConnectAppExtSPPService)                                                                                   \
    X(Btsdk_CommNumToSerialNum)                                                                                        \
    X(Btsdk_PlugOutVComm)                                                                                              \
    X(Btsdk_PlugInVComm)                                                                                               \
    X(Btsdk_GetASerialNum)                                                                                             \
    X(Btsdk_RegisterHFPService)                                                                                        \
    X(Btsdk_UnregisterHFPService)                                                                                      \
    X(Btsdk_HFP_ExtendCmd)

inline constexpr const char* kEntryPointNames[] = {ABI_BSSDK_NAMES(ABI_ENTRY_NAME, ABI_UNNAMED_ENTRY)};
inline constexpr size_t kEntryPointCount = sizeof(kEntryPointNames) / sizeof(kEntryPointNames[0]);
static_assert(kEntryPointCount == 95);

inline constexpr const char* kLibrary = "BsSdk.dll";

using BTDEVHDL = uint32_t; // device handle; 0 = none
using BTSDKRESULT = uint32_t;

inline constexpr BTSDKRESULT BTSDK_OK = 0;
// What the loader's wrappers return for a missing entry point.
inline constexpr BTSDKRESULT BTSDK_ER_NOT_AVAILABLE = 771;
// Btsdk_PairDevice failures the library tells apart.
inline constexpr BTSDKRESULT BTSDK_ER_PAIR_AUTH_FAILED = 1029; // wrong PIN
inline constexpr BTSDKRESULT BTSDK_ER_PAIR_CANCELLED = 1030;
inline constexpr BTSDKRESULT BTSDK_ER_PAIR_DENIED = 1048;

inline constexpr size_t kRemoteNameSize = 64; // Btsdk_GetRemoteDeviceName buffer: UTF-8, unterminated when full

// The inquiry-complete callback: called once on a stack thread when a discovery started with
// Btsdk_StartDeviceDiscovery ends (or is stopped). It then reads the results with Btsdk_GetInquiredDevices.
using BTSDK_INQUIRY_COMPLETE_CB = void (*)();

inline constexpr uint16_t BTSDK_CB_INQUIRY_COMPLETE = 5;

// Btsdk_RegisterCallback4ThirdParty's argument. It carries a function pointer, so it has the natural
// x86-64 layout: 16 bytes (8 on 32-bit Windows). A null func unregisters the callback of that type.
#pragma pack(push, 8)
struct BtSdkCallbackStru {
    uint16_t type; // BTSDK_CB_INQUIRY_COMPLETE
    BTSDK_INQUIRY_COMPLETE_CB func;
};
#pragma pack(pop)
static_assert(sizeof(BtSdkCallbackStru) == 16);
static_assert(offsetof(BtSdkCallbackStru, func) == 8);

// Discovery length is given in units of 1.28 s.
inline constexpr double kInquiryUnitSeconds = 1.28;

// The entry points the library calls.
extern "C" {
BTSDKRESULT Btsdk_Init();
BTSDKRESULT Btsdk_Done();
BTSDKRESULT Btsdk_RegisterCallback4ThirdParty(const BtSdkCallbackStru* callback);
// pin: 8-bit text of size bytes, used for every following pairing.
BTSDKRESULT Btsdk_SetFixedPinCode(const char* pin, uint16_t size);
// classFilter 0 and maxDevices 0: every device; duration in units of kInquiryUnitSeconds.
BTSDKRESULT Btsdk_StartDeviceDiscovery(uint32_t classFilter, uint16_t maxDevices, uint16_t duration);
BTSDKRESULT Btsdk_StopDeviceDiscovery();
// Asks the device again. name: *size bytes (kRemoteNameSize); on success *size is the name's length.
BTSDKRESULT Btsdk_UpdateRemoteDeviceName(BTDEVHDL device, uint8_t* name, uint16_t* size);
BTSDKRESULT Btsdk_PairDevice(BTDEVHDL device);
BTSDKRESULT Btsdk_UnPairDevice(BTDEVHDL device);
// Both return a handle, 0 when there is none (Get) or it could not be added (Add).
BTDEVHDL Btsdk_GetRemoteDeviceHandle(const uint8_t* bdAddr);
BTDEVHDL Btsdk_AddRemoteDevice(const uint8_t* bdAddr);
// With handles null and maxCount 0: the number of devices the last discovery found. Otherwise fills up to
// maxCount handles and returns how many it filled.
uint32_t Btsdk_GetInquiredDevices(BTDEVHDL* handles, uint32_t maxCount);
BTSDKRESULT Btsdk_GetRemoteDeviceAddress(BTDEVHDL device, uint8_t* bdAddr);
// The stored name. name: *size bytes (kRemoteNameSize); on success *size is the name's length.
BTSDKRESULT Btsdk_GetRemoteDeviceName(BTDEVHDL device, uint8_t* name, uint16_t* size);
BTSDKRESULT Btsdk_GetRemoteDeviceClass(BTDEVHDL device, uint32_t* classOfDevice);
}

using PFN_Btsdk_Init = decltype(&Btsdk_Init);
using PFN_Btsdk_Done = decltype(&Btsdk_Done);
using PFN_Btsdk_RegisterCallback4ThirdParty = decltype(&Btsdk_RegisterCallback4ThirdParty);
using PFN_Btsdk_SetFixedPinCode = decltype(&Btsdk_SetFixedPinCode);
using PFN_Btsdk_StartDeviceDiscovery = decltype(&Btsdk_StartDeviceDiscovery);
using PFN_Btsdk_StopDeviceDiscovery = decltype(&Btsdk_StopDeviceDiscovery);
using PFN_Btsdk_UpdateRemoteDeviceName = decltype(&Btsdk_UpdateRemoteDeviceName);
using PFN_Btsdk_PairDevice = decltype(&Btsdk_PairDevice);
using PFN_Btsdk_UnPairDevice = decltype(&Btsdk_UnPairDevice);
using PFN_Btsdk_GetRemoteDeviceHandle = decltype(&Btsdk_GetRemoteDeviceHandle);
using PFN_Btsdk_AddRemoteDevice = decltype(&Btsdk_AddRemoteDevice);
using PFN_Btsdk_GetInquiredDevices = decltype(&Btsdk_GetInquiredDevices);
using PFN_Btsdk_GetRemoteDeviceAddress = decltype(&Btsdk_GetRemoteDeviceAddress);
using PFN_Btsdk_GetRemoteDeviceName = decltype(&Btsdk_GetRemoteDeviceName);
using PFN_Btsdk_GetRemoteDeviceClass = decltype(&Btsdk_GetRemoteDeviceClass);

} // namespace stackabi::bs
