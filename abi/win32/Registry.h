// The registry calls of the Win32 subset, over the file-backed store of vcl/Registry.h (one profile
// file per hive, one section per key path), so a value written here is seen by vcl::TRegistry and the
// other way round.
//
// Binary values are kept as "hex:" followed by comma-separated byte pairs ("hex:41,42,00"); the
// store's strings are quoted and its integers are plain decimals, so the three never read as one
// another. Only the two hives of the store exist. Key handles are never reused; every call records
// itself in the journal and can be made to fail by its switch (win::test::ShouldFail).
#pragma once

#include "win32/WinTypes.h"

#include <cstdint>

namespace win {

struct HKEY__;
using HKEY = HKEY__*;
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002u});

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD ERROR_MORE_DATA = 234;

// Opens `subKey` below `key` (a hive or an open key; empty or null opens `key` itself again).
// ERROR_FILE_NOT_FOUND when the key does not exist: opening never creates.
LONG RegOpenKeyW(HKEY key, LPCWSTR subKey, HKEY* result);
// Only REG_BINARY is stored (ERROR_INVALID_PARAMETER for other types). A store that cannot be written
// gives ERROR_ACCESS_DENIED.
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
// A binary value as REG_BINARY; any other stored text as REG_SZ (UTF-16 with its terminator).
// Null data asks the size; a short buffer gives ERROR_MORE_DATA with the size needed in *dataSize.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
// ERROR_FILE_NOT_FOUND when the value does not exist.
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
LONG RegCloseKey(HKEY key);

} // namespace win

namespace win::test {
// Keys opened with RegOpenKeyW and not yet closed.
int OpenRegistryKeyCount();
} // namespace win::test
