// Device-node properties of the SetupAPI subset, device control requests, and the computer name.
//
// Every device node of the simulated hardware has a hardware id (a multi-string) and an instance id:
//   IrDA adapter            USB\VID_066F&PID_4200            USB\VID_066F&PID_4200\IRDA0001
//   Bluetooth bus enumerator BTH\MS_BTHBRB                   BTH\MS_BTHBRB\7&1C8F2A&0&1
//   Microsoft-driven radio   USB\VID_0A12&PID_0001, USB\Class_E0&SubClass_01&Prot_01
//                                                            USB\VID_0A12&PID_0001\5&2A3B4C5D&0&2
// The enumerator and the radio belong to the Bluetooth class, enumerator first, and exist while the
// air has a Microsoft radio. The radio's "Device Parameters" key under HKEY_LOCAL_MACHINE
// ("SYSTEM\CurrentControlSet\Enum\<instance id>\Device Parameters") exists once the radio has been
// seen by SetupDiGetClassDevsW, as a driver installation leaves it.
//
// Each call records itself in the journal and fails when its switch says so (win::test::ShouldFail).
#pragma once

#include "win32/Kernel.h"
#include "win32/SetupApi.h"

#include <string>

namespace win {

inline constexpr DWORD SPDRP_HARDWAREID = stackabi::sp::SPDRP_HARDWAREID;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = stackabi::sp::ERROR_INSUFFICIENT_BUFFER;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020B;
inline constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;

// Only SPDRP_HARDWAREID is known (ERROR_INVALID_DATA for others). Sizes are in bytes; a short or null
// buffer gives ERROR_INSUFFICIENT_BUFFER with the size needed in *requiredSize.
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, DWORD* regType,
                                       BYTE* buffer, DWORD bufferSize, DWORD* requiredSize);
// Sizes in characters, the terminator included; the same rule for a short buffer.
BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO set, SP_DEVINFO_DATA* device, LPWSTR buffer, DWORD bufferChars,
                                 DWORD* requiredChars);

// A device handle that answers control requests. Stand-ins derive their device handles from it.
class DeviceObject : public KernelObject {
public:
    ~DeviceObject() override;
    // ERROR_SUCCESS or the error DeviceIoControl reports.
    virtual DWORD IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) = 0;
};

// Journalled as "code=0x%08X in=<hex bytes>". ERROR_INVALID_HANDLE for a handle that is no device.
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, DWORD* returned,
                     void* overlapped);

// The host's name up to its first dot, upper-cased and cut to 15 characters (or the name a test set).
// *size is in characters: the buffer's on entry, the name's (without terminator) on success, and the
// room needed with ERROR_BUFFER_OVERFLOW when the buffer is short.
BOOL GetComputerNameW(LPWSTR buffer, DWORD* size);

// The instance id of the Microsoft-driven radio's node, for the stand-in driver that serves it.
std::u16string MicrosoftRadioInstanceId();

namespace detail {
// Device-node numbers, shared with the device information sets.
inline constexpr DWORD kIrdaDevInst = 0x100;
inline constexpr DWORD kBluetoothRadioDevInst = 0x200;
inline constexpr DWORD kBluetoothEnumeratorDevInst = 0x201;
// Makes the radio's "Device Parameters" key if it is missing.
void InstallBluetoothRadioKey();
// True when `devInst` is a member of the open set (SetupApi.cpp).
bool DeviceInSet(HDEVINFO set, DWORD devInst, bool* setExists);
void ResetComputerNameForTests();
} // namespace detail
} // namespace win

namespace win::test {
// The name GetComputerNameW gives from now on; empty returns to the host's name.
void SetComputerName(const std::u16string& name);
} // namespace win::test
