// A stand-in's background thread (an inquiry, a timer) with the event that ends it early.
#pragma once

#include "win32/WinBase.h"

#include <mutex>

namespace standin {

// Takes the thread and its stop event out of their slots under `mu`, ends the thread early and waits
// for it without holding `mu` (the thread may take it), then closes both handles.
inline void StopThread(std::mutex& mu, win::HANDLE& threadSlot, win::HANDLE& stopSlot) {
    win::HANDLE thread;
    win::HANDLE stop;
    {
        std::lock_guard lock(mu);
        thread = threadSlot;
        stop = stopSlot;
        threadSlot = nullptr;
        stopSlot = nullptr;
    }
    if (stop)
        win::SetEvent(stop);
    if (thread) {
        win::WaitForSingleObject(thread, win::INFINITE);
        win::CloseHandle(thread);
    }
    if (stop)
        win::CloseHandle(stop);
}

} // namespace standin
