// Toshiba stack: "TosBtAPI.dll".
//
// Nearly every call takes a pointer to a 32-bit status that the stack fills; results are BOOL (non-zero
// success). Asynchronous calls take a window and a message number and the stack posts that message to
// the window with a notice code in wParam (the BTNOTIFY_ values below). Addresses are the 6 bytes in
// text order. The stack allocates the lists it returns; the caller frees them with BtMemFree.
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::tos {

// The names the loader resolves, in resolve order (128).
#define ABI_TOS_NAMES(X)                                                                                               \
    X(BtOpenAPI)                                                                                                       \
    X(BtCloseAPI)                                                                                                      \
    X(BtExecBtMng)                                                                                                     \
    X(BtNotifyEvent)                                                                                                   \
    X(BtGetLocalInfo)                                                                                                  \
    X(BtGetLocalInfo2)                                                                                                 \
    X(BtSetLocalDeviceName)                                                                                            \
    X(BtGetLocalDeviceName)                                                                                            \
    X(BtSetClassOfDevice)                                                                                              \
    X(BtGetClassOfDevice)                                                                                              \
    X(BtGetDiscoverabilityMode)                                                                                        \
    X(BtGetConnectabilityMode)                                                                                         \
    X(BtGetPairingMode)                                                                                                \
    X(BtGetSecurityMode)                                                                                               \
    X(BtGetEncryptionMode)                                                                                             \
    X(BtGetDevicePropertyParam)                                                                                        \
    X(BtGetActiveStackInfo)                                                                                            \
    X(BtDiscoverRemoteDevice)                                                                                          \
    X(BtDiscoverRemoteDevice2)                                                                                         \
    X(BtCancelDiscoverRemoteDevice)                                                                                    \
    X(BtDiscoverRemoteName)                                                                                            \
    X(BtGetRemoteDeviceList)                                                                                           \
    X(BtGetRemoteDeviceList2)                                                                                          \
    X(BtGetRemoteClassOfDevice)                                                                                        \
    X(BtGetRemoteName)                                                                                                 \
    X(BtRemoveRemoteDevice)                                                                                            \
    X(BtAddRemoteDevice)                                                                                               \
    X(BtConnectSDP)                                                                                                    \
    X(BtDisconnectSDP)                                                                                                 \
    X(BtServiceSearch)                                                                                                 \
    X(BtServiceSearch2)                                                                                                \
    X(BtServiceAttribute)                                                                                              \
    X(BtServiceAttribute2)                                                                                             \
    X(BtServiceSearchAttribute)                                                                                        \
    X(BtServiceSearchAttribute2)                                                                                       \
    X(BtRefreshSDDB)                                                                                                   \
    X(BtRefreshSDDB2)                                                                                                  \
    X(BtCancelRefreshSDDB)                                                                                             \
    X(BtAddUUIDs4RefreshSDDB)                                                                                          \
    X(BtRemoveUUIDs4RefreshSDDB)                                                                                       \
    X(BtGetUUIDs4RefreshSDDB)                                                                                          \
    X(BtGetUUIDs4RefreshSDDB2)                                                                                         \
    X(BtServiceSearchSDDB)                                                                                             \
    X(BtServiceSearchSDDB2)                                                                                            \
    X(BtServiceAttributeSDDB)                                                                                          \
    X(BtServiceAttributeSDDB2)                                                                                         \
    X(BtServiceSearchAttributeSDDB)                                                                                    \
    X(BtServiceSearchAttributeSDDB2)                                                                                   \
    X(BtAddServiceRecord)                                                                                              \
    X(BtRemoveServiceRecord)                                                                                           \
    X(BtAddServiceAttribute)                                                                                           \
    X(BtModifyServiceAttribute)                                                                                        \
    X(BtRemoveServiceAttribute)                                                                                        \
    X(BtAssignSCN)                                                                                                     \
    X(BtFreeSCN)                                                                                                       \
    X(BtAssignPSM)                                                                                                     \
    X(BtFreePSM)                                                                                                       \
    X(BtGetServiceRecordHandleList)                                                                                    \
    X(BtGetServiceRecordHandleList2)                                                                                   \
    X(BtMakeServiceSearchPattern)                                                                                      \
    X(BtMakeAttributeIDList)                                                                                           \
    X(BtAnalyzeServiceAttributeLists)                                                                                  \
    X(BtAnalyzeProtocolParameter)                                                                                      \
    X(BtMakeServiceSearchPattern2)                                                                                     \
    X(BtMakeAttributeIDList2)                                                                                          \
    X(BtAnalyzeServiceAttributeLists2)                                                                                 \
    X(BtFreePBTANALYZEDATTRLIST2)                                                                                      \
    X(BtAnalyzeProtocolParameter2)                                                                                     \
    X(BtMakeBTUUIDINFO)                                                                                                \
    X(BtCheckBTUUIDINFO)                                                                                               \
    X(BtGetBTUUIDINFO16)                                                                                               \
    X(BtGetBTUUIDINFO32)                                                                                               \
    X(BtCreateCOMM)                                                                                                    \
    X(BtDestroyCOMM)                                                                                                   \
    X(BtConnectCOMM)                                                                                                   \
    X(BtConnectCOMM2)                                                                                                  \
    X(BtDisconnectCOMM)                                                                                                \
    X(BtNotifyCOMM)                                                                                                    \
    X(BtGetCOMMInfoList)                                                                                               \
    X(BtGetCOMMInfoList2)                                                                                              \
    X(BtGetCOMMCreatorName)                                                                                            \
    X(BtGetCOMMCreatorName2)                                                                                           \
    X(BtSetAutoConnectCOMMInfo)                                                                                        \
    X(BtSetAutoConnectCOMMState)                                                                                       \
    X(BtRoleDiscovery)                                                                                                 \
    X(BtSwitchRole)                                                                                                    \
    X(BtSetRoleState)                                                                                                  \
    X(BtGetRoleState)                                                                                                  \
    X(BtGetConnectionHandle)                                                                                           \
    X(BtGetConnectedDeviceList)                                                                                        \
    X(BtGetConnectedDeviceList2)                                                                                       \
    X(BtGetCIDList)                                                                                                    \
    X(BtGetCIDList2)                                                                                                   \
    X(BtSetLinkSupervisionTimeout)                                                                                     \
    X(BtGetLinkSupervisionTimeout)                                                                                     \
    X(BtGetLinkQuality)                                                                                                \
    X(BtGetRSSI)                                                                                                       \
    X(BtConnect)                                                                                                       \
    X(BtDisconnect)                                                                                                    \
    X(BtListen)                                                                                                        \
    X(BtCancelListen)                                                                                                  \
    X(BtAccept)                                                                                                        \
    X(BtReject)                                                                                                        \
    X(BtNotify)                                                                                                        \
    X(BtCancelNotify)                                                                                                  \
    X(BtConfigRequest)                                                                                                 \
    X(BtConfigResponse)                                                                                                \
    X(BtSendData)                                                                                                      \
    X(BtRecvData)                                                                                                      \
    X(BtSetAutoReplyPinCode)                                                                                           \
    X(BtClearAutoReplyPinCode)                                                                                         \
    X(BtDeleteLinkKey)                                                                                                 \
    X(BtSetLocalEIRData)                                                                                               \
    X(BtGetLocalEIRData)                                                                                               \
    X(BtGetRemoteEIRDataList)                                                                                          \
    X(BtSetSimplePairingMode)                                                                                          \
    X(BtGetSimplePairingMode)                                                                                          \
    X(BtGetRemoteSimplePairingMode)                                                                                    \
    X(BtSetIOCapabilityResponse)                                                                                       \
    X(BtClearIOCapabilityResponse)                                                                                     \
    X(BtGetIOCapabilityResponse)                                                                                       \
    X(BtGetLocalOOBData)                                                                                               \
    X(BtSetOOBDataRequestReply)                                                                                        \
    X(BtClearOOBDataRequestReply)                                                                                      \
    X(BtMemAlloc)                                                                                                      \
    X(BtMemReAlloc)                                                                                                    \
    X(BtMemSize)                                                                                                       \
    X(BtMemFree)

inline constexpr const char* kEntryPointNames[] = {ABI_TOS_NAMES(ABI_ENTRY_NAME)};
inline constexpr size_t kEntryPointCount = sizeof(kEntryPointNames) / sizeof(kEntryPointNames[0]);
static_assert(kEntryPointCount == 128);

inline constexpr const char* kApplicationName = "VYR_TOSHIBA_APP"; // given to BtOpenAPI

using BTSTATUS = int32_t; // filled by the stack; the library does not read it

// ---- Event notification (BtNotifyEvent) ----
// The stack switched on or off: the registered message arrives with wParam BTEVENT_STACK_STATE and
// lParam non-zero (on) or 0 (off).
inline constexpr uint32_t BTEVENT_STACK_STATE = 0x40000000;
// A virtual COM port made by BtCreateCOMM is ready: the registered message arrives (parameters unused).
inline constexpr uint32_t BTEVENT_COMM_PORT_READY = 0x00800000;
// Mask 0 with window null and message 0 unregisters.
inline constexpr uint32_t BTEVENT_NONE = 0;

// ---- Notice codes (wParam of the message registered with an asynchronous call) ----
// BtDiscoverRemoteDevice2: failure marks the attempt failed, the end notice always follows (also after
// BtCancelDiscoverRemoteDevice).
inline constexpr WParam BTNOTIFY_DISCOVERY_FAILED = 0x600000;
inline constexpr WParam BTNOTIFY_DISCOVERY_END = 0x6000FF;
// BtConnectSDP.
inline constexpr WParam BTNOTIFY_SDP_CONNECT_FAILED = 0x700000;
inline constexpr WParam BTNOTIFY_SDP_CONNECT_END = 0x7000FF;
// BtServiceSearchAttribute2.
inline constexpr WParam BTNOTIFY_SDP_SEARCH_FAILED = 0x700400;
inline constexpr WParam BTNOTIFY_SDP_SEARCH_END = 0x7004FF;
// BtConnectCOMM2.
inline constexpr WParam BTNOTIFY_COMM_CONNECT_FAILED = 0x800200;
inline constexpr WParam BTNOTIFY_COMM_CONNECT_END = 0x8002FF;
// BtNotifyCOMM (mode BTNOTIFYCOMM_STATUS): the serial link was lost.
inline constexpr WParam BTNOTIFY_COMM_LINK_LOST = 0x800440;
// BtConnect made for pairing: failed, the failure cleared again, done (always the last one).
inline constexpr WParam BTNOTIFY_PAIR_FAILED = 0x901000;
inline constexpr WParam BTNOTIFY_PAIR_FAILURE_CLEARED = 0x901001;
inline constexpr WParam BTNOTIFY_PAIR_END = 0x9010FF;

// ---- Fixed argument values ----
inline constexpr uint32_t BTNOTIFYCOMM_OFF = 0;    // BtNotifyCOMM: unregister (window null, message 0)
inline constexpr uint32_t BTNOTIFYCOMM_STATUS = 2; // BtNotifyCOMM: report link status
inline constexpr uint32_t BTCOMM_CONNECT_KIND = 3; // BtConnectCOMM2's connection kind
inline constexpr uint32_t BTSEC_AUTHENTICATE = 1;  // security bits of BtConnectCOMM2
inline constexpr uint32_t BTSEC_ENCRYPT = 2;
inline constexpr uint32_t BTCONNECT_KIND_PAIRING = 3; // BtConnect's connection kind for pairing
// BtSetIOCapabilityResponse values for pairing: no input/output, no out-of-band data, bonding without
// man-in-the-middle protection.
inline constexpr uint8_t BTIOCAP_DISPLAY_ONLY = 0;
inline constexpr uint8_t BTOOB_NOT_PRESENT = 0;
inline constexpr uint8_t BTAUTHREQ_GENERAL_BONDING = 4;
// Attribute mask of BtMakeAttributeIDList2 and BtAnalyzeServiceAttributeLists2: bits 0..13 select the
// attributes 0x0000..0x000D, bit 14 the texts at the language base (name 0x0100, description 0x0101).
inline constexpr uint32_t BTATTRMASK_SERVICE_SEARCH = 0x6013;
inline constexpr uint32_t BTATTRMASK_LANGUAGE_TEXTS = 1u << 14;
inline constexpr uint32_t BtAttrMaskBit(uint16_t attributeId) {
    return 1u << attributeId;
} // ids 0..13
static_assert(BTATTRMASK_SERVICE_SEARCH == (BtAttrMaskBit(0x0000) | BtAttrMaskBit(0x0001) | BtAttrMaskBit(0x0004) |
                                            BtAttrMaskBit(0x000D) | BTATTRMASK_LANGUAGE_TEXTS));
// Flags of BTPROTOCOLPARAM2.
inline constexpr uint32_t BTPROTO_HAS_PSM = 1u << 0;
inline constexpr uint32_t BTPROTO_HAS_CHANNEL = 1u << 3;

inline constexpr size_t kNameBufferSize = 250; // BtSetLocalDeviceName, BtGetRemoteName: UTF-8, NUL-terminated

// ---- Records: stack wire formats without pointers, packed, little-endian ----
#pragma pack(push, 1)

// BtGetLocalInfo2. Only the address is read; the rest is the stack's own.
struct BTLOCALINFO2 {
    uint8_t BdAddr[BD_ADDR_SIZE]; // text order
    uint8_t Reserved[24];
};
static_assert(sizeof(BTLOCALINFO2) == 30);

// An address as the PIN calls take it: 6 bytes in text order and 2 bytes of padding.
struct BTADDR8 {
    uint8_t BdAddr[BD_ADDR_SIZE];
    uint8_t Pad[2];
};
static_assert(sizeof(BTADDR8) == 8);

// BtDeleteLinkKey: a count and that many addresses; the library always deletes one.
struct BTLINKKEYDELETE {
    uint32_t Count; // 1
    uint8_t BdAddr[BD_ADDR_SIZE];
};
static_assert(sizeof(BTLINKKEYDELETE) == 10);
static_assert(offsetof(BTLINKKEYDELETE, BdAddr) == 4);

// One device of BtDiscoverRemoteDevice2 and BtGetRemoteDeviceList2. An all-zero address marks an unused
// entry.
struct BTDEVINFO {
    uint32_t Reserved0;
    uint8_t BdAddr[BD_ADDR_SIZE]; // text order
    uint8_t ClassOfDevice[3];     // most significant first
    uint8_t Reserved1;
    uint8_t Name[248]; // UTF-8, unterminated when full
    uint8_t Reserved2[2];
};
static_assert(sizeof(BTDEVINFO) == 264);
static_assert(offsetof(BTDEVINFO, BdAddr) == 4);
static_assert(offsetof(BTDEVINFO, ClassOfDevice) == 10);
static_assert(offsetof(BTDEVINFO, Name) == 14);

// A device list: a 32-bit count, then Count BTDEVINFO entries directly after it. Allocated by the stack.
struct BTDEVINFOLIST {
    uint32_t Count;
};
static_assert(sizeof(BTDEVINFOLIST) == 4);
inline constexpr size_t kDevInfoListHeaderSize = sizeof(BTDEVINFOLIST);
inline const BTDEVINFO* BtDevInfoListEntry(const BTDEVINFOLIST* list, uint32_t index) {
    return reinterpret_cast<const BTDEVINFO*>(reinterpret_cast<const uint8_t*>(list) + kDevInfoListHeaderSize +
                                              size_t(index) * sizeof(BTDEVINFO));
}
inline BTDEVINFO* BtDevInfoListEntry(BTDEVINFOLIST* list, uint32_t index) {
    return reinterpret_cast<BTDEVINFO*>(reinterpret_cast<uint8_t*>(list) + kDevInfoListHeaderSize +
                                        size_t(index) * sizeof(BTDEVINFO));
}

// BtConnect's connection parameters; the library passes it zeroed (stack defaults).
struct BTCONNPARAM {
    uint8_t Reserved[30];
};
static_assert(sizeof(BTCONNPARAM) == 30);

// A UUID as the SDP calls take and return it: always the full 128-bit form in big-endian byte order (a
// 16- or 32-bit UUID expanded over the Base UUID, so its value is in bytes 0..3), and the size of the
// form it came in.
struct BTUUIDINFO {
    uint32_t SizeBits; // 16, 32 or 128
    uint8_t Uuid[16];  // big-endian
};
static_assert(sizeof(BTUUIDINFO) == 20);
static_assert(offsetof(BTUUIDINFO, Uuid) == 4);

// BtAnalyzeProtocolParameter2's result. Size is set to 19 by the caller.
struct BTPROTOCOLPARAM2 {
    uint32_t Size;  // 19
    uint32_t Flags; // BTPROTO_HAS_...
    uint16_t ProtocolUuid16;
    uint16_t Psm;
    uint8_t Channel; // RFCOMM server channel, valid with BTPROTO_HAS_CHANNEL
    uint8_t Reserved[6];
};
static_assert(sizeof(BTPROTOCOLPARAM2) == 19);
static_assert(offsetof(BTPROTOCOLPARAM2, Flags) == 4);
static_assert(offsetof(BTPROTOCOLPARAM2, Channel) == 12);

#pragma pack(pop)

// ---- SDP buffers the stack allocates and only the stack reads: opaque to the library, defined by the
// stand-in. The library hands them back and frees them with BtMemFree. ----
struct BTSEARCHPATTERN; // BtMakeServiceSearchPattern2
struct BTATTRIDLIST;    // BtMakeAttributeIDList2
struct BTATTRLISTS;     // BtServiceSearchAttribute2: the attribute lists as received

// ---- Analysed service records (BtAnalyzeServiceAttributeLists2). These carry pointers, so they have the
// natural x86-64 layout (sizes below); all of it belongs to the stack and is freed with
// BtFreePBTANALYZEDATTRLIST2. ----
#pragma pack(push, 8)

// One protocol descriptor of a record: its SDP data element (a sequence, header included).
struct BTPROTOCOLDESC {
    const uint8_t* Data;
    uint32_t Size;
};
static_assert(sizeof(BTPROTOCOLDESC) == 16);

// One analysed service record. A field is carried when its count is non-zero (classes, protocol
// descriptors), its pointer is non-null (name, description) or HasHandle is set.
struct BTANALYZEDATTR2 {
    Bool32 HasHandle;
    uint32_t ServiceRecordHandle;
    uint32_t ServiceClassCount;
    uint32_t ServiceNameLength;        // bytes, no terminator
    uint32_t ServiceDescriptionLength; // bytes, no terminator
    uint32_t ProtocolDescriptorCount;
    const BTUUIDINFO* ServiceClasses;          // ServiceClassIDList, in order
    const uint8_t* ServiceName;                // UTF-8
    const uint8_t* ServiceDescription;         // UTF-8
    const BTPROTOCOLDESC* ProtocolDescriptors; // ProtocolDescriptorList, in order
};
static_assert(sizeof(BTANALYZEDATTR2) == 56);
static_assert(offsetof(BTANALYZEDATTR2, ServiceClasses) == 24);
static_assert(offsetof(BTANALYZEDATTR2, ProtocolDescriptors) == 48);

struct BTANALYZEDATTRLIST2 {
    uint32_t Count;
    BTANALYZEDATTR2* Records;
};
static_assert(sizeof(BTANALYZEDATTRLIST2) == 16);

#pragma pack(pop)

// The entry points the library calls, in the order of the names list. Out-pointers given to an
// asynchronous call are written before the end notice is posted, and must stay valid until then.
extern "C" {
Bool32 BtOpenAPI(Hwnd window, const char* applicationName, BTSTATUS* status);
Bool32 BtCloseAPI(BTSTATUS* status);
Bool32 BtNotifyEvent(uint32_t eventMask, BTSTATUS* status, Hwnd window, uint32_t message);
Bool32 BtGetLocalInfo2(BTLOCALINFO2* info, BTSTATUS* status);
// name: kNameBufferSize bytes, UTF-8 cut to 248 bytes and NUL-terminated.
Bool32 BtSetLocalDeviceName(const uint8_t* name, BTSTATUS* status);
// The library passes inquiry mode and length 0. *list is set before BTNOTIFY_DISCOVERY_END, null when
// nothing was found.
Bool32 BtDiscoverRemoteDevice2(BTDEVINFOLIST** list, uint32_t inquiryMode, uint32_t inquiryLength, BTSTATUS* status,
                               Hwnd window, uint32_t message);
Bool32 BtCancelDiscoverRemoteDevice(BTSTATUS* status);
// The devices the stack knows. Synchronous: window null and message 0; the library passes filter 0 (all)
// and reserved 0.
Bool32 BtGetRemoteDeviceList2(BTDEVINFOLIST** list, uint32_t filter, uint32_t reserved, BTSTATUS* status, Hwnd window,
                              uint32_t message);
Bool32 BtGetRemoteClassOfDevice(const uint8_t* bdAddr, uint32_t* classOfDevice, BTSTATUS* status);
// name: a zeroed kNameBufferSize-byte buffer, filled with NUL-terminated UTF-8.
Bool32 BtGetRemoteName(const uint8_t* bdAddr, uint8_t* name, BTSTATUS* status);
// *connection is set when the call returns non-zero; the outcome follows as BTNOTIFY_SDP_CONNECT_*.
Bool32 BtConnectSDP(const uint8_t* bdAddr, uint16_t* connection, BTSTATUS* status, Hwnd window, uint32_t message,
                    uint32_t reserved);
Bool32 BtDisconnectSDP(uint16_t connection, BTSTATUS* status);
// maxAttributeBytes 0 is no limit; flags and reserved are 0. *attributeLists is set before
// BTNOTIFY_SDP_SEARCH_END.
Bool32 BtServiceSearchAttribute2(uint16_t connection, const BTSEARCHPATTERN* pattern, const BTATTRIDLIST* attributeIds,
                                 uint32_t maxAttributeBytes, uint32_t flags, BTATTRLISTS** attributeLists,
                                 BTSTATUS* status, Hwnd window, uint32_t message, uint32_t reserved);
Bool32 BtMakeServiceSearchPattern2(uint32_t count, const BTUUIDINFO* uuids, BTSEARCHPATTERN** pattern,
                                   BTSTATUS* status);
// reserved is 0.
Bool32 BtMakeAttributeIDList2(uint32_t attributeMask, uint32_t reserved, BTATTRIDLIST** attributeIds, BTSTATUS* status);
Bool32 BtAnalyzeServiceAttributeLists2(const BTATTRLISTS* attributeLists, uint32_t attributeMask,
                                       BTANALYZEDATTRLIST2** analysed, BTSTATUS* status);
Bool32 BtFreePBTANALYZEDATTRLIST2(BTANALYZEDATTRLIST2* analysed, BTSTATUS* status);
Bool32 BtAnalyzeProtocolParameter2(const BTPROTOCOLDESC* descriptor, BTPROTOCOLPARAM2* param, BTSTATUS* status);
// portName "COM<n>"; reserved1 and reserved2 are 0. Non-zero: the virtual port exists under that name.
Bool32 BtCreateCOMM(const char* portName, uint32_t reserved1, uint32_t reserved2, BTSTATUS* status);
Bool32 BtDestroyCOMM(const char* portName, BTSTATUS* status);
// connectKind BTCOMM_CONNECT_KIND, security BTSEC_ bits, reserved 0. The outcome follows as
// BTNOTIFY_COMM_CONNECT_*.
Bool32 BtConnectCOMM2(const char* portName, const uint8_t* bdAddr, uint8_t channel, uint32_t connectKind,
                      uint16_t* connection, uint32_t security, BTSTATUS* status, Hwnd window, uint32_t message,
                      uint32_t reserved);
Bool32 BtDisconnectCOMM(const char* portName, BTSTATUS* status);
// mode BTNOTIFYCOMM_STATUS registers, BTNOTIFYCOMM_OFF (window null, message 0) unregisters; reserved 0.
Bool32 BtNotifyCOMM(const char* portName, uint32_t mode, const uint8_t* bdAddr, uint16_t connection, BTSTATUS* status,
                    Hwnd window, uint32_t message, uint32_t reserved);
// Pairing link: kind BTCONNECT_KIND_PAIRING, psm, mtu and flushTimeout 0 (stack defaults), params zeroed
// with paramsSize sizeof(BTCONNPARAM), security 0, reserved 0. The outcome follows as BTNOTIFY_PAIR_*.
Bool32 BtConnect(const uint8_t* bdAddr, uint32_t kind, uint16_t psm, uint16_t mtu, uint32_t flushTimeout,
                 const BTCONNPARAM* params, uint32_t paramsSize, uint16_t* connection, uint32_t security,
                 BTSTATUS* status, Hwnd window, uint32_t message, uint32_t reserved);
Bool32 BtDisconnect(uint16_t connection, BTSTATUS* status);
// pin: 8-bit text of pinLength bytes. The stack answers the peer's PIN request with it.
Bool32 BtSetAutoReplyPinCode(const BTADDR8* address, const char* pin, uint32_t pinLength, BTSTATUS* status);
Bool32 BtClearAutoReplyPinCode(const BTADDR8* address, BTSTATUS* status);
Bool32 BtSetIOCapabilityResponse(const uint8_t* bdAddr, uint8_t ioCapability, uint8_t oobDataPresent,
                                 uint8_t authenticationRequirements, BTSTATUS* status);
Bool32 BtClearIOCapabilityResponse(const uint8_t* bdAddr, BTSTATUS* status);
Bool32 BtDeleteLinkKey(const BTLINKKEYDELETE* devices, BTSTATUS* status);
void BtMemFree(void* memory);
}

using PFN_BtOpenAPI = decltype(&BtOpenAPI);
using PFN_BtCloseAPI = decltype(&BtCloseAPI);
using PFN_BtNotifyEvent = decltype(&BtNotifyEvent);
using PFN_BtGetLocalInfo2 = decltype(&BtGetLocalInfo2);
using PFN_BtSetLocalDeviceName = decltype(&BtSetLocalDeviceName);
using PFN_BtDiscoverRemoteDevice2 = decltype(&BtDiscoverRemoteDevice2);
using PFN_BtCancelDiscoverRemoteDevice = decltype(&BtCancelDiscoverRemoteDevice);
using PFN_BtGetRemoteDeviceList2 = decltype(&BtGetRemoteDeviceList2);
using PFN_BtGetRemoteClassOfDevice = decltype(&BtGetRemoteClassOfDevice);
using PFN_BtGetRemoteName = decltype(&BtGetRemoteName);
using PFN_BtConnectSDP = decltype(&BtConnectSDP);
using PFN_BtDisconnectSDP = decltype(&BtDisconnectSDP);
using PFN_BtServiceSearchAttribute2 = decltype(&BtServiceSearchAttribute2);
using PFN_BtMakeServiceSearchPattern2 = decltype(&BtMakeServiceSearchPattern2);
using PFN_BtMakeAttributeIDList2 = decltype(&BtMakeAttributeIDList2);
using PFN_BtAnalyzeServiceAttributeLists2 = decltype(&BtAnalyzeServiceAttributeLists2);
using PFN_BtFreePBTANALYZEDATTRLIST2 = decltype(&BtFreePBTANALYZEDATTRLIST2);
using PFN_BtAnalyzeProtocolParameter2 = decltype(&BtAnalyzeProtocolParameter2);
using PFN_BtCreateCOMM = decltype(&BtCreateCOMM);
using PFN_BtDestroyCOMM = decltype(&BtDestroyCOMM);
using PFN_BtConnectCOMM2 = decltype(&BtConnectCOMM2);
using PFN_BtDisconnectCOMM = decltype(&BtDisconnectCOMM);
using PFN_BtNotifyCOMM = decltype(&BtNotifyCOMM);
using PFN_BtConnect = decltype(&BtConnect);
using PFN_BtDisconnect = decltype(&BtDisconnect);
using PFN_BtSetAutoReplyPinCode = decltype(&BtSetAutoReplyPinCode);
using PFN_BtClearAutoReplyPinCode = decltype(&BtClearAutoReplyPinCode);
using PFN_BtSetIOCapabilityResponse = decltype(&BtSetIOCapabilityResponse);
using PFN_BtClearIOCapabilityResponse = decltype(&BtClearIOCapabilityResponse);
using PFN_BtDeleteLinkKey = decltype(&BtDeleteLinkKey);
using PFN_BtMemFree = decltype(&BtMemFree);

} // namespace stackabi::tos
