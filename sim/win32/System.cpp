// Last-error values, the OS version, Winsock start-up and COM initialisation counters.
#include "sim/win32/Testing.h"
#include "win32/Windows.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace win {
namespace {

thread_local DWORD tl_lastError = 0;
thread_local int tl_wsaError = 0;
thread_local int tl_comInit = 0;

struct SystemState {
    std::mutex mu;
    DWORD major = 6, minor = 1, platformId = VER_PLATFORM_WIN32_NT, build = 7601;
    int wsaCount = 0;
};

SystemState& Sys() {
    static SystemState* s = new SystemState;
    return *s;
}

} // namespace

namespace detail {
void ResetSystemForTests() {
    std::lock_guard lk(Sys().mu);
    Sys().major = 6;
    Sys().minor = 1;
    Sys().platformId = VER_PLATFORM_WIN32_NT;
    Sys().build = 7601;
}
} // namespace detail

DWORD GetLastError() {
    return tl_lastError;
}
void SetLastError(DWORD error) {
    tl_lastError = error;
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    test::Record("GetVersionExA", info ? std::to_string(info->dwOSVersionInfoSize) : "null");
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) || test::ShouldFail("GetVersionExA")) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lk(Sys().mu);
    info->dwMajorVersion = Sys().major;
    info->dwMinorVersion = Sys().minor;
    info->dwBuildNumber = Sys().build;
    info->dwPlatformId = Sys().platformId;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

int WSAStartup(WORD versionRequested, WSADATA* data) {
    char args[16];
    std::snprintf(args, sizeof args, "0x%04X", versionRequested);
    test::Record("WSAStartup", args);
    if (test::ShouldFail("WSAStartup"))
        return WSASYSNOTREADY;
    if (!data)
        return 10014; // WSAEFAULT
    if (LOBYTE(versionRequested) < 1)
        return WSAVERNOTSUPPORTED;
    std::memset(data, 0, sizeof *data);
    data->wVersion = MAKEWORD(2, 2) < versionRequested ? MAKEWORD(2, 2) : versionRequested;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(data->szDescription, "Tavlin sockets");
    std::strcpy(data->szSystemStatus, "Running");
    std::lock_guard lk(Sys().mu);
    ++Sys().wsaCount;
    return 0;
}

int WSACleanup() {
    test::Record("WSACleanup");
    std::lock_guard lk(Sys().mu);
    if (Sys().wsaCount <= 0) {
        tl_wsaError = WSANOTINITIALISED;
        return SOCKET_ERROR;
    }
    --Sys().wsaCount;
    return 0;
}

int WSAGetLastError() {
    return tl_wsaError;
}
void WSASetLastError(int error) {
    tl_wsaError = error;
}

HRESULT CoInitialize(LPVOID) {
    test::Record("CoInitialize");
    if (test::ShouldFail("CoInitialize"))
        return E_FAIL;
    return tl_comInit++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    test::Record("CoUninitialize");
    if (tl_comInit > 0)
        --tl_comInit;
}

namespace test {
void SetOsVersion(DWORD major, DWORD minor, DWORD platformId, DWORD build) {
    std::lock_guard lk(Sys().mu);
    Sys().major = major;
    Sys().minor = minor;
    Sys().platformId = platformId;
    Sys().build = build;
}

int WsaStartupCount() {
    std::lock_guard lk(Sys().mu);
    return Sys().wsaCount;
}

int CoInitializeCount() {
    return tl_comInit;
}
} // namespace test

} // namespace win

// ---- critical sections ----
namespace win {

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
    if (cs)
        cs->impl = new std::recursive_mutex;
}

void DeleteCriticalSection(CRITICAL_SECTION* cs) {
    if (cs) {
        delete static_cast<std::recursive_mutex*>(cs->impl);
        cs->impl = nullptr;
    }
}

void EnterCriticalSection(CRITICAL_SECTION* cs) {
    static_cast<std::recursive_mutex*>(cs->impl)->lock();
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) {
    return static_cast<std::recursive_mutex*>(cs->impl)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* cs) {
    static_cast<std::recursive_mutex*>(cs->impl)->unlock();
}

} // namespace win
