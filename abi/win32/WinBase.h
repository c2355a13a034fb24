// Threads, synchronisation, the clock, library loading and system information of the platform stand-in.
#pragma once

#include "win32/WinTypes.h"

#include <functional>

namespace win {

DWORD GetLastError();
void SetLastError(DWORD error);

// ---- Clock. One process clock; tests may speed it up (see win::test::SetTimeScale). ----
DWORD GetTickCount();
ULONGLONG GetTickCount64();
DWORD timeGetTime();
void Sleep(DWORD milliseconds); // in clock milliseconds

// ---- Threads. Thread handles are waitable and signalled when the routine returns. ----
HANDLE CreateThread(SECURITY_ATTRIBUTES* attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, DWORD* threadId);
// Convenience for our own code: the routine's result is the thread's exit code.
HANDLE CreateThread(std::function<DWORD()> routine, DWORD* threadId = nullptr);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// ---- Events and waits. ----
// A thread that owns windows serves sends from other threads while it waits, so a worker that sends to
// it while it waits for that worker cannot deadlock. Timeouts are in clock milliseconds.
HANDLE CreateEventW(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL CloseHandle(HANDLE handle);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

// ---- Critical sections (recursive). ----
void InitializeCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);

// ---- Interlocked. ----
inline LONG InterlockedIncrement(volatile LONG* p) {
    return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(volatile LONG* p) {
    return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(volatile LONG* p, LONG v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(volatile LONG* p, LONG v) {
    return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(volatile LONG* p, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}
inline void* InterlockedExchangePointer(void* volatile* p, void* v) {
    return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline void* InterlockedCompareExchangePointer(void* volatile* p, void* exchange, void* comparand) {
    __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// ---- Library loading. ----
// A Windows library name maps to a stand-in module: the file name without folder and extension,
// lower-cased, as lib<stem>.so in the stack folder ($TAVLIN_STACK_DIR, else the build's stack folder).
// "TosBtAPI.dll" -> libtosbtapi.so, "bthprops.cpl" -> libbthprops.so. No file: null (ERROR_MOD_NOT_FOUND),
// as on a machine without that stack. Loads are reference counted per module; every handle of one load
// is a new value, so a stale handle never reaches a later load.
HMODULE LoadLibraryW(LPCWSTR name);
HMODULE LoadLibraryA(LPCSTR name);
BOOL FreeLibrary(HMODULE module);
// Null for a name the module does not export, or that a test has hidden.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// ---- System. ----
// NT 6.1 unless a test sets another version; fails (FALSE) when the size field is not 148.
BOOL GetVersionExA(OSVERSIONINFOA* info);

// COM initialisation is counted per thread; nothing else of COM exists yet.
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();

} // namespace win
