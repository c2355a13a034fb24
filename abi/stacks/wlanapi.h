// Wi-Fi client: "wlanapi.dll". Only its presence is used: a client handle is opened and closed at once.
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::wlan {

// The names the loader resolves, in resolve order (37).
#define ABI_WLAN_NAMES(X)                                                                                              \
    X(WlanOpenHandle)                                                                                                  \
    X(WlanCloseHandle)                                                                                                 \
    X(WlanEnumInterfaces)                                                                                              \
    X(WlanSetAutoConfigParameter)                                                                                      \
    X(WlanQueryAutoConfigParameter)                                                                                    \
    X(WlanGetInterfaceCapability)                                                                                      \
    X(WlanSetInterface)                                                                                                \
    X(WlanQueryInterface)                                                                                              \
    X(WlanIhvControl)                                                                                                  \
    X(WlanScan)                                                                                                        \
    X(WlanGetAvailableNetworkList)                                                                                     \
    X(WlanGetNetworkBssList)                                                                                           \
    X(WlanConnect)                                                                                                     \
    X(WlanDisconnect)                                                                                                  \
    X(WlanRegisterNotification)                                                                                        \
    X(WlanGetProfile)                                                                                                  \
    X(WlanSetProfileEapUserData)                                                                                       \
    X(WlanSetProfileEapXmlUserData)                                                                                    \
    X(WlanSetProfile)                                                                                                  \
    X(WlanDeleteProfile)                                                                                               \
    X(WlanRenameProfile)                                                                                               \
    X(WlanGetProfileList)                                                                                              \
    X(WlanSetProfileList)                                                                                              \
    X(WlanSetProfilePosition)                                                                                          \
    X(WlanSetProfileCustomUserData)                                                                                    \
    X(WlanGetProfileCustomUserData)                                                                                    \
    X(WlanSetFilterList)                                                                                               \
    X(WlanGetFilterList)                                                                                               \
    X(WlanSetPsdIEDataList)                                                                                            \
    X(WlanSaveTemporaryProfile)                                                                                        \
    X(WlanExtractPsdIEDataList)                                                                                        \
    X(WlanReasonCodeToString)                                                                                          \
    X(WlanAllocateMemory)                                                                                              \
    X(WlanFreeMemory)                                                                                                  \
    X(WlanSetSecuritySettings)                                                                                         \
    X(WlanGetSecuritySettings)                                                                                         \
    X(WlanUIEditProfile)

inline constexpr const char* kEntryPointNames[] = {ABI_WLAN_NAMES(ABI_ENTRY_NAME)};
inline constexpr size_t kEntryPointCount = sizeof(kEntryPointNames) / sizeof(kEntryPointNames[0]);
static_assert(kEntryPointCount == 37);

inline constexpr const char* kLibrary = "wlanapi.dll";

inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t kMissingEntryPointResult = 1; // the loader's wrapper default
// Client versions: 1 before Windows Vista, 2 from Vista on.
inline constexpr uint32_t WLAN_CLIENT_VERSION_XP = 1;
inline constexpr uint32_t WLAN_CLIENT_VERSION_VISTA = 2;

extern "C" {
// reserved is null. 0 on success, with the negotiated version and a client handle.
uint32_t WlanOpenHandle(uint32_t clientVersion, void* reserved, uint32_t* negotiatedVersion, Handle* clientHandle);
uint32_t WlanCloseHandle(Handle clientHandle, void* reserved);
}

using PFN_WlanOpenHandle = decltype(&WlanOpenHandle);
using PFN_WlanCloseHandle = decltype(&WlanCloseHandle);

} // namespace stackabi::wlan
