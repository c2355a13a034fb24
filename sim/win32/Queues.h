// Between the stand-in's sockets and its message queues: a socket selected to a window (WSAAsyncSelect)
// is watched by the window's queue.
#pragma once

#include "win32/WinTypes.h"

namespace win {

// Watches the descriptor for the window: while readable, the window's thread finds one `msg` (wParam =
// the socket, lParam = FD_READ, or FD_CLOSE when only that was asked) in its queue, and the next one
// only after RearmSocketWatch. Replaces an earlier watch of the descriptor; a null window with no events
// only ends it. 0, or the socket error.
int WatchSocket(int fd, HWND hwnd, UINT msg, LONG events);
// After a recv: the next readable state raises a notice again.
void RearmSocketWatch(int fd);

} // namespace win
