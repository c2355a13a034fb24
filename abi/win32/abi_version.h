// The operating-system version record of GetVersionExA, as the library reads it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stackabi::sys {

inline constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOA {
    uint32_t dwOSVersionInfoSize; // 148
    uint32_t dwMajorVersion;      // 6 and above: Windows Vista or later
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId; // VER_PLATFORM_WIN32_NT
    char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(offsetof(OSVERSIONINFOA, dwMajorVersion) == 4);
static_assert(offsetof(OSVERSIONINFOA, dwPlatformId) == 16);
static_assert(offsetof(OSVERSIONINFOA, szCSDVersion) == 20);

} // namespace stackabi::sys
