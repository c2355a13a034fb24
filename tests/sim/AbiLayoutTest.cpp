// The stack interface headers: every header compiles here (so their static_asserts on record layouts run
// in every build), and what static_assert cannot see is checked below.
#include "win32/abi_devbroadcast.h"
#include "win32/abi_setupapi.h"
#include "win32/abi_version.h"
#include "win32/abi_winsock.h"
#include "stacks/bssdk.h"
#include "stacks/bthprops.h"
#include "stacks/btfunc.h"
#include "stacks/rapi.h"
#include "stacks/tosbtapi.h"
#include "stacks/vyr2wbt.h"
#include "stacks/wlanapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <type_traits>

namespace {

template <typename F> struct Arity;
template <typename R, typename... A> struct Arity<R (*)(A...)> { static constexpr size_t value = sizeof...(A); };

template <size_t N> bool Listed(const char* const (&names)[N], const char* name) {
    for (const char* n : names)
        if (n != nullptr && std::strcmp(n, name) == 0)
            return true;
    return false;
}

template <size_t N> std::string FirstDuplicate(const char* const (&names)[N]) {
    std::set<std::string> seen;
    for (const char* n : names)
        if (n != nullptr && !seen.insert(n).second)
            return n;
    return {};
}

// A called entry point: its typedef matches its prototype, it takes the argument count the loader's
// wrapper passes on, and the loader resolves it under exactly this name.
#define EXPECT_CALLED(ns, name, args)                                                                                  \
    static_assert(std::is_same_v<ns::PFN_##name, decltype(&ns::name)>);                                                \
    static_assert(Arity<ns::PFN_##name>::value == (args), #name " takes " #args " arguments");                         \
    EXPECT_TRUE(Listed(ns::kEntryPointNames, #name)) << #name;

TEST(AbiLayout, EveryCalledEntryPointIsResolvedUnderItsOwnName) {
    EXPECT_CALLED(stackabi::ms, BluetoothFindFirstRadio, 2);
    EXPECT_CALLED(stackabi::ms, BluetoothFindRadioClose, 1);
    EXPECT_CALLED(stackabi::ms, BluetoothGetRadioInfo, 2);
    EXPECT_CALLED(stackabi::ms, BluetoothGetDeviceInfo, 2);
    EXPECT_CALLED(stackabi::ms, BluetoothRemoveDevice, 1);
    EXPECT_CALLED(stackabi::ms, BluetoothAuthenticateDevice, 5);

    EXPECT_CALLED(stackabi::wd, WD_Init, 2);
    EXPECT_CALLED(stackabi::wd, WD_Uninit, 0);
    EXPECT_CALLED(stackabi::wd, WD_IsDeviceReady, 0);
    EXPECT_CALLED(stackabi::wd, WD_GetLocalDeviceVersionInfo, 1);
    EXPECT_CALLED(stackabi::wd, WD_SetLocalDeviceName, 1);
    EXPECT_CALLED(stackabi::wd, WD_Bond, 2);
    EXPECT_CALLED(stackabi::wd, WD_UnBond, 1);
    EXPECT_CALLED(stackabi::wd, WD_Discovery, 1);
    EXPECT_CALLED(stackabi::wd, WD_Terminate, 0);
    EXPECT_CALLED(stackabi::wd, WD_GetRemoteDeviceName, 2);
    EXPECT_CALLED(stackabi::wd, WD_GetRemoteDeviceCOD, 2);
    EXPECT_CALLED(stackabi::wd, WD_EnumServices, 3);
    EXPECT_CALLED(stackabi::wd, WD_CreateRfCommClient, 1);
    EXPECT_CALLED(stackabi::wd, WD_OpenRfCommClient, 7);
    EXPECT_CALLED(stackabi::wd, WD_WriteRfCommClient, 3);
    EXPECT_CALLED(stackabi::wd, WD_CloseRfCommClient, 1);
    EXPECT_CALLED(stackabi::wd, WD_DestroyRfCommClient, 1);

    EXPECT_CALLED(stackabi::tos, BtOpenAPI, 3);
    EXPECT_CALLED(stackabi::tos, BtCloseAPI, 1);
    EXPECT_CALLED(stackabi::tos, BtNotifyEvent, 4);
    EXPECT_CALLED(stackabi::tos, BtGetLocalInfo2, 2);
    EXPECT_CALLED(stackabi::tos, BtSetLocalDeviceName, 2);
    EXPECT_CALLED(stackabi::tos, BtDiscoverRemoteDevice2, 6);
    EXPECT_CALLED(stackabi::tos, BtCancelDiscoverRemoteDevice, 1);
    EXPECT_CALLED(stackabi::tos, BtGetRemoteDeviceList2, 6);
    EXPECT_CALLED(stackabi::tos, BtGetRemoteClassOfDevice, 3);
    EXPECT_CALLED(stackabi::tos, BtGetRemoteName, 3);
    EXPECT_CALLED(stackabi::tos, BtConnectSDP, 6);
    EXPECT_CALLED(stackabi::tos, BtDisconnectSDP, 2);
    EXPECT_CALLED(stackabi::tos, BtServiceSearchAttribute2, 10);
    EXPECT_CALLED(stackabi::tos, BtMakeServiceSearchPattern2, 4);
    EXPECT_CALLED(stackabi::tos, BtMakeAttributeIDList2, 4);
    EXPECT_CALLED(stackabi::tos, BtAnalyzeServiceAttributeLists2, 4);
    EXPECT_CALLED(stackabi::tos, BtFreePBTANALYZEDATTRLIST2, 2);
    EXPECT_CALLED(stackabi::tos, BtAnalyzeProtocolParameter2, 3);
    EXPECT_CALLED(stackabi::tos, BtCreateCOMM, 4);
    EXPECT_CALLED(stackabi::tos, BtDestroyCOMM, 2);
    EXPECT_CALLED(stackabi::tos, BtConnectCOMM2, 10);
    EXPECT_CALLED(stackabi::tos, BtDisconnectCOMM, 2);
    EXPECT_CALLED(stackabi::tos, BtNotifyCOMM, 8);
    EXPECT_CALLED(stackabi::tos, BtConnect, 13);
    EXPECT_CALLED(stackabi::tos, BtDisconnect, 2);
    EXPECT_CALLED(stackabi::tos, BtSetAutoReplyPinCode, 4);
    EXPECT_CALLED(stackabi::tos, BtClearAutoReplyPinCode, 2);
    EXPECT_CALLED(stackabi::tos, BtSetIOCapabilityResponse, 5);
    EXPECT_CALLED(stackabi::tos, BtClearIOCapabilityResponse, 2);
    EXPECT_CALLED(stackabi::tos, BtDeleteLinkKey, 2);
    EXPECT_CALLED(stackabi::tos, BtMemFree, 1);

    EXPECT_CALLED(stackabi::bs, Btsdk_Init, 0);
    EXPECT_CALLED(stackabi::bs, Btsdk_Done, 0);
    EXPECT_CALLED(stackabi::bs, Btsdk_RegisterCallback4ThirdParty, 1);
    EXPECT_CALLED(stackabi::bs, Btsdk_SetFixedPinCode, 2);
    EXPECT_CALLED(stackabi::bs, Btsdk_StartDeviceDiscovery, 3);
    EXPECT_CALLED(stackabi::bs, Btsdk_StopDeviceDiscovery, 0);
    EXPECT_CALLED(stackabi::bs, Btsdk_UpdateRemoteDeviceName, 3);
    EXPECT_CALLED(stackabi::bs, Btsdk_PairDevice, 1);
    EXPECT_CALLED(stackabi::bs, Btsdk_UnPairDevice, 1);
    EXPECT_CALLED(stackabi::bs, Btsdk_GetRemoteDeviceHandle, 1);
    EXPECT_CALLED(stackabi::bs, Btsdk_AddRemoteDevice, 1);
    EXPECT_CALLED(stackabi::bs, Btsdk_GetInquiredDevices, 2);
    EXPECT_CALLED(stackabi::bs, Btsdk_GetRemoteDeviceAddress, 2);
    EXPECT_CALLED(stackabi::bs, Btsdk_GetRemoteDeviceName, 3);
    EXPECT_CALLED(stackabi::bs, Btsdk_GetRemoteDeviceClass, 2);

    EXPECT_CALLED(stackabi::bsold, BT_InitializeLibrary, 0);
    EXPECT_CALLED(stackabi::bsold, BT_UninitializeLibrary, 0);
    EXPECT_CALLED(stackabi::bsold, BT_IsBluetoothReady, 1);
    EXPECT_CALLED(stackabi::bsold, BT_StartBluetooth, 0);
    EXPECT_CALLED(stackabi::bsold, BT_GetLocalDeviceInfo, 2);
    EXPECT_CALLED(stackabi::bsold, BT_SetLocalDeviceInfo, 2);
    EXPECT_CALLED(stackabi::bsold, BT_GetRemoteDeviceInfo, 2);
    EXPECT_CALLED(stackabi::bsold, BT_PairDevice, 5);
    EXPECT_CALLED(stackabi::bsold, BT_UnpairDevice, 1);
    EXPECT_CALLED(stackabi::bsold, BT_InquireDevices, 4);
    EXPECT_CALLED(stackabi::bsold, BT_CancelInquiry, 0);
    EXPECT_CALLED(stackabi::bsold, BT_BrowseServices, 4);
    EXPECT_CALLED(stackabi::bsold, BT_SearchSPPExServices, 3);
    EXPECT_CALLED(stackabi::bsold, BT_GetConnectInfo, 6);
    EXPECT_CALLED(stackabi::bsold, BT_ConnectSPPExService, 3);
    EXPECT_CALLED(stackabi::bsold, BT_DisconnectSPPExService, 1);
    EXPECT_CALLED(stackabi::bsold, BT_RegisterCallback, 2);
    EXPECT_CALLED(stackabi::bsold, BT_UnregisterCallback, 1);

    EXPECT_CALLED(stackabi::wlan, WlanOpenHandle, 4);
    EXPECT_CALLED(stackabi::wlan, WlanCloseHandle, 2);
    EXPECT_CALLED(stackabi::rapi, CeRapiInit, 0);
    EXPECT_CALLED(stackabi::rapi, CeRapiUninit, 0);
}

TEST(AbiLayout, NamesListsHoldNoDuplicates) {
    EXPECT_EQ(FirstDuplicate(stackabi::ms::kEntryPointNames), "");
    EXPECT_EQ(FirstDuplicate(stackabi::wd::kEntryPointNames), "");
    EXPECT_EQ(FirstDuplicate(stackabi::tos::kEntryPointNames), "");
    EXPECT_EQ(FirstDuplicate(stackabi::bs::kEntryPointNames), "");
    EXPECT_EQ(FirstDuplicate(stackabi::bsold::kEntryPointNames), "");
    EXPECT_EQ(FirstDuplicate(stackabi::wlan::kEntryPointNames), "");
    EXPECT_EQ(FirstDuplicate(stackabi::rapi::kEntryPointNames), "");
    // The BlueSoleil table is one run of 95 + 28 slots; exactly three have no known name.
    size_t unnamed = 0;
    for (const char* n : stackabi::bs::kEntryPointNames)
        unnamed += n == nullptr;
    EXPECT_EQ(unnamed, 3u);
    EXPECT_EQ(stackabi::bs::kEntryPointCount + stackabi::bsold::kEntryPointCount, 123u);
}

TEST(AbiLayout, GuidTextGivesTheMemoryLayout) {
    constexpr stackabi::AbiGuid bthport = stackabi::ms::GUID_BTHPORT_DEVICE_INTERFACE;
    static_assert(bthport ==
                  stackabi::AbiGuid(0x0850302A, 0xB344, 0x4FDA, 0x9B, 0xE9, 0x90, 0x57, 0x6B, 0x8D, 0x46, 0xF0));
    static_assert(stackabi::AbiGuid::FromText("{0850302a-b344-4fda-9be9-90576b8d46f0}") == bthport);
    static_assert(!(stackabi::dbt::GUID_DEVINTERFACE_USB_DEVICE == bthport));
    // Object Push over the Base UUID.
    static_assert(stackabi::BluetoothUuid16(0x1105) ==
                  stackabi::AbiGuid::FromText("00001105-0000-1000-8000-00805F9B34FB"));

    // As bytes in memory: Data1..Data3 little-endian, then Data4 in order (what the WidComm record and
    // the socket address carry).
    const uint8_t expected[16] = {0x2A, 0x30, 0x50, 0x08, 0x44, 0xB3, 0xDA, 0x4F,
                                  0x9B, 0xE9, 0x90, 0x57, 0x6B, 0x8D, 0x46, 0xF0};
    stackabi::wd::WD_SERVICE_RECORD record{};
    record.Uuid = bthport;
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(&record) + 1, expected, 16), 0);
    stackabi::AbiGuid back = record.Uuid;
    EXPECT_EQ(back, bthport);
}

TEST(AbiLayout, ToshibaDeviceListEntriesFollowTheCount) {
    alignas(4) uint8_t buffer[stackabi::tos::kDevInfoListHeaderSize + 3 * sizeof(stackabi::tos::BTDEVINFO)] = {};
    auto* list = reinterpret_cast<stackabi::tos::BTDEVINFOLIST*>(buffer);
    list->Count = 3;
    buffer[4 + 2 * 264 + 4] = 0xAB; // third entry, first address byte
    const stackabi::tos::BTDEVINFO* third = stackabi::tos::BtDevInfoListEntry(list, 2);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(third) - buffer, 4 + 2 * 264);
    EXPECT_EQ(third->BdAddr[0], 0xAB);
}

} // namespace
