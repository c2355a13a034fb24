// The shared handle table, for stand-ins that hand out handles of their own (radio handles and the like).
// Handles from it are closed with win::CloseHandle and are never reused.
#pragma once

#include "win32/WinTypes.h"

#include <memory>

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

} // namespace win
