// Windows, message queues, timers and device notifications of the platform stand-in.
//
// Only message-only windows exist: CreateWindowExW with parent HWND_MESSAGE (class "Message") makes a
// window owned by the calling thread. Every thread has its own queue, created on first use.
// PostMessageW works from any thread; SendMessageW calls the procedure directly on the owner thread and,
// from another thread, waits until the owner thread pumps (GetMessageW, PeekMessageW,
// MsgWaitForMultipleObjects) or waits (WaitForSingleObject / WaitForMultipleObjects serve incoming
// sends too, so a worker that sends while the owner joins it cannot deadlock).
#pragma once

#include "win32/WinTypes.h"

#include <cstddef>

namespace win {

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
// Safe from inside the window's own procedure. Only the owner thread may destroy a window.
// Queued posts, timers and pending sends to the window are dropped (pending sends return 0).
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND hwnd, int index);
LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The thread that owns the window (0 for an unknown or dead window).
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);

// A null hwnd posts to the calling thread's queue. False (ERROR_INVALID_WINDOW_HANDLE) for a dead
// or unknown window.
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
// Returns the procedure's result, or 0 when the window is dead or dies before it handled the message.
LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Returns 0 for WM_QUIT, 1 otherwise. filter / min / max select messages as usual (0 = all).
BOOL GetMessageW(MSG* msg, HWND filter, UINT minMsg, UINT maxMsg);
BOOL PeekMessageW(MSG* msg, HWND filter, UINT minMsg, UINT maxMsg, UINT removeFlags);
LRESULT DispatchMessageW(const MSG* msg);
BOOL TranslateMessage(const MSG* msg); // nothing to translate here
DWORD GetQueueStatus(UINT flags);
// Returns WAIT_OBJECT_0 + count when a message is waiting in the calling thread's queue.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask);
// Waits for any one handle. Without MWMO_INPUTAVAILABLE in flags only input that arrived since the thread
// last looked at its queue (GetMessageW, PeekMessageW) ends the wait, as on Windows: messages seen and left
// in the queue do not. With it, any waiting message does (as MsgWaitForMultipleObjects here).
DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask, DWORD flags);

// Per (window, id), periodic until killed. WM_TIMER (wParam = id) is posted to the owner's queue and
// never piles up: at most one tick per timer waits in the queue. KillTimer drops a waiting tick.
// A null window or a TIMERPROC is not supported (returns 0).
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// The filter must be a DEV_BROADCAST_DEVICEINTERFACE_W (type 5) unless flags carry
// DEVICE_NOTIFY_ALL_INTERFACE_CLASSES.
HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, LPVOID filter, DWORD flags);
BOOL UnregisterDeviceNotification(HDEVNOTIFY handle);

// Raised by the simulated air and the stand-in stacks: sends WM_DEVICECHANGE (event, record) to every
// window registered for the record's interface class (a device-interface record of at least 28 bytes;
// any other record goes to all registered windows). Each window handles it on its own thread and the
// record stays valid while the handler runs, because the call waits until all windows have handled it.
// Call it holding none of your own locks. Returns how many windows received it.
int BroadcastDeviceChange(WPARAM event, const void* record, std::size_t size);

} // namespace win
