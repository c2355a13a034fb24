// Microsoft Bluetooth stack: "bthprops.cpl", with "irprops.cpl" as the fallback name. Both stand-ins
// export the same entry points.
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::ms {

// The names the loader resolves, in resolve order (29).
#define ABI_MS_NAMES(X)                                                                                                \
    X(BluetoothFindFirstRadio)                                                                                         \
    X(BluetoothFindNextRadio)                                                                                          \
    X(BluetoothFindRadioClose)                                                                                         \
    X(BluetoothGetRadioInfo)                                                                                           \
    X(BluetoothFindFirstDevice)                                                                                        \
    X(BluetoothFindNextDevice)                                                                                         \
    X(BluetoothFindDeviceClose)                                                                                        \
    X(BluetoothGetDeviceInfo)                                                                                          \
    X(BluetoothUpdateDeviceRecord)                                                                                     \
    X(BluetoothRemoveDevice)                                                                                           \
    X(BluetoothSelectDevices)                                                                                          \
    X(BluetoothSelectDevicesFree)                                                                                      \
    X(BluetoothDisplayDeviceProperties)                                                                                \
    X(BluetoothAuthenticateDevice)                                                                                     \
    X(BluetoothAuthenticateMultipleDevices)                                                                            \
    X(BluetoothSetServiceState)                                                                                        \
    X(BluetoothEnumerateInstalledServices)                                                                             \
    X(BluetoothEnableDiscovery)                                                                                        \
    X(BluetoothIsDiscoverable)                                                                                         \
    X(BluetoothEnableIncomingConnections)                                                                              \
    X(BluetoothIsConnectable)                                                                                          \
    X(BluetoothRegisterForAuthentication)                                                                              \
    X(BluetoothUnregisterAuthentication)                                                                               \
    X(BluetoothSendAuthenticationResponse)                                                                             \
    X(BluetoothSdpGetElementData)                                                                                      \
    X(BluetoothSdpGetContainerElementData)                                                                             \
    X(BluetoothSdpGetAttributeValue)                                                                                   \
    X(BluetoothSdpGetString)                                                                                           \
    X(BluetoothSdpEnumAttributes)

inline constexpr const char* kEntryPointNames[] = {ABI_MS_NAMES(ABI_ENTRY_NAME)};
inline constexpr size_t kEntryPointCount = sizeof(kEntryPointNames) / sizeof(kEntryPointNames[0]);
static_assert(kEntryPointCount == 29);

// The radio class the loader watches with a device-interface notification.
inline constexpr AbiGuid GUID_BTHPORT_DEVICE_INTERFACE = AbiGuid::FromText("0850302A-B344-4FDA-9BE9-90576B8D46F0");

using HBLUETOOTH_RADIO_FIND = void*; // search handle; null = no radio
using BTH_ADDR = uint64_t;           // the address in the low 48 bits, least significant byte first in memory

// Natural Windows alignment (8): these records hold a 64-bit address union and no pointers, so the byte
// layout is the same on 32-bit Windows and on x86-64.
#pragma pack(push, 8)

union BLUETOOTH_ADDRESS {
    BTH_ADDR ullLong;
    uint8_t rgBytes[6]; // least significant byte first: the address text read backwards
};
static_assert(sizeof(BLUETOOTH_ADDRESS) == 8);

struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

inline constexpr size_t BLUETOOTH_MAX_NAME_SIZE = 248; // wide characters, including any terminator

struct BLUETOOTH_FIND_RADIO_PARAMS {
    uint32_t dwSize; // 4
};
static_assert(sizeof(BLUETOOTH_FIND_RADIO_PARAMS) == 4);

struct BLUETOOTH_RADIO_INFO {
    uint32_t dwSize; // 520
    BLUETOOTH_ADDRESS address;
    WChar szName[BLUETOOTH_MAX_NAME_SIZE];
    uint32_t ulClassofDevice;
    uint16_t lmpSubversion;
    uint16_t manufacturer;
};
static_assert(sizeof(BLUETOOTH_RADIO_INFO) == 520);
static_assert(offsetof(BLUETOOTH_RADIO_INFO, address) == 8);
static_assert(offsetof(BLUETOOTH_RADIO_INFO, szName) == 16);
static_assert(offsetof(BLUETOOTH_RADIO_INFO, ulClassofDevice) == 512);
static_assert(offsetof(BLUETOOTH_RADIO_INFO, lmpSubversion) == 516);
static_assert(offsetof(BLUETOOTH_RADIO_INFO, manufacturer) == 518);

struct BLUETOOTH_DEVICE_INFO {
    uint32_t dwSize;           // 560
    BLUETOOTH_ADDRESS Address; // bytes 8..13, the address text reversed
    uint32_t ulClassofDevice;
    Bool32 fConnected;
    Bool32 fRemembered;
    Bool32 fAuthenticated; // the connector skips pairing when set
    SYSTEMTIME stLastSeen;
    SYSTEMTIME stLastUsed;
    WChar szName[BLUETOOTH_MAX_NAME_SIZE]; // not always terminated when the name fills it
};
static_assert(sizeof(BLUETOOTH_DEVICE_INFO) == 560);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, Address) == 8);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, ulClassofDevice) == 16);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, fConnected) == 20);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, fRemembered) == 24);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, fAuthenticated) == 28);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, stLastSeen) == 32);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, stLastUsed) == 48);
static_assert(offsetof(BLUETOOTH_DEVICE_INFO, szName) == 64);

// Resolved but never called by the library; declared for completeness of the stand-in. It carries a
// handle, so on x86-64 it is 40 bytes (32 on 32-bit Windows); dwSize carries sizeof().
struct BLUETOOTH_DEVICE_SEARCH_PARAMS {
    uint32_t dwSize;
    Bool32 fReturnAuthenticated;
    Bool32 fReturnRemembered;
    Bool32 fReturnUnknown;
    Bool32 fReturnConnected;
    Bool32 fIssueInquiry;
    uint8_t cTimeoutMultiplier;
    Handle hRadio;
};
static_assert(sizeof(BLUETOOTH_DEVICE_SEARCH_PARAMS) == 40);
static_assert(offsetof(BLUETOOTH_DEVICE_SEARCH_PARAMS, cTimeoutMultiplier) == 24);
static_assert(offsetof(BLUETOOTH_DEVICE_SEARCH_PARAMS, hRadio) == 32);

#pragma pack(pop)

// Windows error codes the entry points return (0 is success).
inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;        // pairing refused
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;      // already paired
inline constexpr uint32_t ERROR_CANCELLED = 1223;         // pairing cancelled
inline constexpr uint32_t ERROR_NOT_AUTHENTICATED = 1244; // wrong PIN
// What a loader's wrapper returns for an entry point the library does not export.
inline constexpr uint32_t kMissingEntryPointResult = 1;

// Renaming the radio: the name goes into the registry and the radio is told to reload it.
// "SYSTEM\CurrentControlSet\Enum\" + device instance id + "\Device Parameters", under HKEY_LOCAL_MACHINE.
inline constexpr const char16_t* kEnumKeyPrefix = u"SYSTEM\\CurrentControlSet\\Enum\\";
inline constexpr const char16_t* kDeviceParametersSuffix = u"\\Device Parameters";
inline constexpr const char16_t* kLocalNameValue = u"Local Name"; // REG_BINARY: UTF-8 name and one NUL
// The bus enumerator's own node, which is not the radio (hardware id or instance id contains it).
inline constexpr const char16_t* kEnumeratorMarker = u"MS_BTHBRB";
// DeviceIoControl on the radio handle after a name change: input one uint32_t of value 4, no output.
inline constexpr uint32_t IOCTL_RELOAD_LOCAL_NAME_BEFORE_VISTA = 0x00220FD4;
inline constexpr uint32_t IOCTL_RELOAD_LOCAL_NAME = 0x00411008;
inline constexpr uint32_t kReloadLocalNameInput = 4;

// The entry points the library calls. Radio handles are platform handles (closed with CloseHandle).
extern "C" {
// Non-null search handle when a radio exists; *phRadio then holds the first radio's handle.
HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* pbtfrp, Handle* phRadio);
Bool32 BluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND hFind);
// 0 on success.
uint32_t BluetoothGetRadioInfo(Handle hRadio, BLUETOOTH_RADIO_INFO* pRadioInfo);
// hRadio may be null (any radio); dwSize and Address are set by the caller. 0 on success.
uint32_t BluetoothGetDeviceInfo(Handle hRadio, BLUETOOTH_DEVICE_INFO* pbtdi);
uint32_t BluetoothRemoveDevice(const BLUETOOTH_ADDRESS* pAddress);
// hwndParent and hRadio may be null; an empty passkey (length 0) is allowed. Returns an ERROR_ code above.
uint32_t BluetoothAuthenticateDevice(Hwnd hwndParent, Handle hRadio, BLUETOOTH_DEVICE_INFO* pbtbi,
                                     const char16_t* pszPasskey, uint32_t ulPasskeyLength);
}

using PFN_BluetoothFindFirstRadio = decltype(&BluetoothFindFirstRadio);
using PFN_BluetoothFindRadioClose = decltype(&BluetoothFindRadioClose);
using PFN_BluetoothGetRadioInfo = decltype(&BluetoothGetRadioInfo);
using PFN_BluetoothGetDeviceInfo = decltype(&BluetoothGetDeviceInfo);
using PFN_BluetoothRemoveDevice = decltype(&BluetoothRemoveDevice);
using PFN_BluetoothAuthenticateDevice = decltype(&BluetoothAuthenticateDevice);

} // namespace stackabi::ms
