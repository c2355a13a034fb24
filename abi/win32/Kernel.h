// The shared handle table, for stand-ins that hand out handles of their own (radio handles and the like).
// Handles from it are closed with win::CloseHandle and are never reused.
#pragma once

#include "win32/WinTypes.h"

#include <memory>
#include <utility>
#include <vector>

namespace win {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <typename T> std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Makes every message that arrives for the calling thread's queue (post, send or timer tick) also add
// to this eventfd, so a foreign event loop can wake up and drain the queue. -1 detaches.
void SetQueueWakeFd(int fd);
// True when the calling thread's queue holds a posted message or an incoming send.
bool QueueHasWork();
// The sockets selected to the calling thread's windows (WSAAsyncSelect), each with whether it waits for
// a readable notice (false from its notice until the next recv), for a foreign event loop to watch.
std::vector<std::pair<int, bool>> QueueSelectedSockets();
// From that loop: the socket is readable, so its notice goes into the calling thread's queue. False when
// the socket is not watched by this thread or already has its notice.
bool QueueSocketReadable(int fd);

} // namespace win
