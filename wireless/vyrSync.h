// The library's lock: one recursive critical section. The thread holding it may enter again.
#pragma once

#include "vcl/Classes.h"
#include "win32/WinTypes.h"

namespace vyr {

class TvyrSync : public vcl::TObject {
public:
    TvyrSync();
    ~TvyrSync() override;
    TvyrSync(const TvyrSync&) = delete;
    TvyrSync& operator=(const TvyrSync&) = delete;

    void Enter();
    void Leave();

private:
    win::CRITICAL_SECTION cs_;
};

// Enters on construction, leaves on destruction, so no path (an exception included) keeps the lock.
class TvyrSyncGuard {
public:
    explicit TvyrSyncGuard(TvyrSync& sync) : sync_(sync) { sync_.Enter(); }
    ~TvyrSyncGuard() { sync_.Leave(); }
    TvyrSyncGuard(const TvyrSyncGuard&) = delete;
    TvyrSyncGuard& operator=(const TvyrSyncGuard&) = delete;

private:
    TvyrSync& sync_;
};

} // namespace vyr
