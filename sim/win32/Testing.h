// Test controls of the platform stand-in, shared by every stand-in stack.
//
// Failure switches. Every stand-in entry point that can fail asks ShouldFail("<EntryPoint>") first and
// fails the way the real call does when it returns true. Names are entry-point names ("CreateWindowExW",
// "SetTimer", "WSAStartup", "RegisterDeviceNotificationW", "GetVersionExA", "BtOpenAPI" ...). Library
// loading also asks "LoadLibraryW:<stem>" (for example "LoadLibraryW:tosbtapi"), so one library can be
// made absent while the others load.
//   FailNext(name, n)  the next n calls fail;
//   SetFail(name, on)  every call fails while on.
// Values. Stand-ins read results a test wants them to give with Value(name, default), tests set them
// with SetValue(name, v) ("the init call returns 5").
// Journal. Stand-ins call Record(name, args) for every call worth checking; tests read Journal() (entries
// in call order), Calls(name) (the argument texts of one entry point) and ClearJournal(). The platform
// records CreateWindowExW, DestroyWindow, SetTimer, KillTimer, LoadLibraryW, FreeLibrary,
// RegisterDeviceNotificationW, UnregisterDeviceNotification, WSAStartup, WSACleanup, GetVersionExA,
// CoInitialize and CoUninitialize.
// Reset() clears switches, values, the journal, hidden exports, the OS version and the time scale.
#pragma once

#include "win32/WinTypes.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace win::test {

// ---- Failure switches and values ----
void FailNext(std::string_view name, int count = 1);
void SetFail(std::string_view name, bool fail);
bool ShouldFail(std::string_view name); // consumes one FailNext count
void SetValue(std::string_view name, long long value);
void ClearValue(std::string_view name);
long long Value(std::string_view name, long long defaultValue);

// ---- Journal ----
struct JournalEntry {
    std::string name;
    std::string args;
};
void Record(std::string_view name, std::string args = {});
std::vector<JournalEntry> Journal();
std::vector<std::string> Calls(std::string_view name);
int CallCount(std::string_view name);
void ClearJournal();
// "0x1f" style text of a handle, for journal arguments.
std::string HandleText(const void* handle);

void Reset();

// ---- Clock ----
// Clock milliseconds pass `scale` times faster than real ones (waits, Sleep, timers and GetTickCount
// all follow). AdvanceClock jumps the clock forward at once; due timers fire.
void SetTimeScale(double scale);
double TimeScale();
void AdvanceClock(DWORD milliseconds);

// ---- Pumping the calling thread's queue (code without Qt) ----
// Dispatches what is waiting now; returns how many messages were handled (incoming sends included).
int PumpMessages();
// Pumps until pred() holds; false when `realTimeoutMs` real milliseconds pass first.
bool PumpUntil(const std::function<bool()>& pred, DWORD realTimeoutMs = 5000);
// Pumps until the queue stays empty for `quietRealMs` real milliseconds (at most `realTimeoutMs`).
int PumpUntilIdle(DWORD quietRealMs = 20, DWORD realTimeoutMs = 5000);

// ---- System ----
void SetOsVersion(DWORD major, DWORD minor, DWORD platformId = VER_PLATFORM_WIN32_NT, DWORD build = 7601);
int WsaStartupCount();
int CoInitializeCount(); // of the calling thread

// ---- Loading ----
void HideExport(std::string_view stem, std::string_view symbol, bool hidden = true);
std::string StackDir();
std::string ModuleStem(std::u16string_view windowsName); // "TosBtAPI.dll" -> "tosbtapi"
int ModuleLoadCount(std::string_view stem);              // current reference count, 0 when not loaded

// ---- Windows ----
int LiveWindowCount();
int DeviceNotificationCount(HWND hwnd);
int TimerCount(HWND hwnd);

} // namespace win::test
