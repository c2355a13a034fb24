// Pieces the radio, device and service operations share across their files (not for callers).
#pragma once

#include "win32/WinTypes.h"

#include <cstddef>
#include <functional>
#include <string>

namespace vyr {

// UTF-8 text of a stack buffer, up to the first NUL but never past `capacity` bytes.
std::u16string DecodeStackText(const void* data, std::size_t capacity);
// The UTF-8 form of text, cut to at most `limit` bytes (a cut may split a character, as the stacks do).
std::string CutUtf8(const std::u16string& text, std::size_t limit);

// Waits on the calling thread until done() holds, at most limitMs clock milliseconds. With a window only
// that window's message `msg` is dispatched; with none, every message of the thread is. A WM_QUIT ends
// the wait (and is put back for the thread's own loop). True when done() held.
bool WaitForStackNotice(win::HWND hwnd, win::UINT msg, win::DWORD limitMs, const std::function<bool()>& done,
                        bool* quit = nullptr);

int MicrosoftSetRadioName(const std::u16string& name);
// The registry road of a new Microsoft radio name (device node, "Local Name", reload request).
int MicrosoftWriteRadioName(const std::u16string& name);
int ToshibaPair(const std::u16string& address, const std::string& pin);
bool ToshibaDeleteLinkKey(const std::u16string& address);

} // namespace vyr
