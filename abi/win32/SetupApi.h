// The SetupAPI subset: device information sets over the device nodes of the simulated hardware, and the
// USB device broadcasts raised when the hardware comes or goes.
//
// Device nodes: an IrDA adapter of the air is one node of the infrared setup class; a Microsoft-driven
// Bluetooth radio is one node of the Bluetooth class. Both hang off USB, so their arrival and removal
// also raise a USB device-interface broadcast (DBT_DEVICEARRIVAL / DBT_DEVICEREMOVECOMPLETE), once the
// device manager is watching: it starts with the first SetupDiGetClassDevsW.
#pragma once

#include "win32/abi_setupapi.h"
#include "win32/WinTypes.h"

namespace win {

using HDEVINFO = void*;
using SP_DEVINFO_DATA = stackabi::sp::SP_DEVINFO_DATA;
inline constexpr DWORD DIGCF_PRESENT = stackabi::sp::DIGCF_PRESENT;
inline constexpr DWORD DIGCF_ALLCLASSES = 0x04;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = stackabi::sp::ERROR_NO_MORE_ITEMS;

// The devices of one setup class (all classes with DIGCF_ALLCLASSES) as they are now. INVALID_HANDLE_VALUE
// on failure (switch "SetupDiGetClassDevsW", or a null class without DIGCF_ALLCLASSES).
HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator, HWND parent, DWORD flags);
// Member `index` of the set; FALSE with ERROR_NO_MORE_ITEMS past the end, ERROR_INVALID_PARAMETER when
// cbSize is not 28, ERROR_INVALID_HANDLE for a set that does not exist.
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

} // namespace win

namespace win::test {
// Sets created and not yet destroyed.
int OpenDeviceInfoSetCount();
// A USB device that is none of the simulated hardware (a memory stick, say) comes or goes.
void RaiseForeignUsbDevice(bool arrival);
} // namespace win::test
