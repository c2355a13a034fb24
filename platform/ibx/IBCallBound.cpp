#include "ibx/IBCallBound.h"

#include "ibx/IBDatabase.h"

#include <ibase.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace ibx {

namespace {

using Clock = std::chrono::steady_clock;

// One thread for the whole process, waiting for the earliest deadline of the calls under way.
class Watchdog {
public:
    static Watchdog& Instance() {
        static Watchdog w;
        return w;
    }

    std::uint64_t Arm(TIBDatabase* db, Clock::time_point deadline) {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable())
            thread_ = std::thread([this] { Run(); });
        const std::uint64_t token = ++last_;
        calls_.emplace(token, Call{db, *db->Handle(), deadline});
        // Calls come by the thousand (a fetch each row); the thread is woken only when it would
        // otherwise sleep past this one's deadline.
        if (deadline < sleepsUntil_)
            wake_.notify_one();
        return token;
    }

    void Disarm(std::uint64_t token) {
        // Under the lock: a call that has returned is never cut afterwards.
        std::lock_guard lock(mutex_);
        calls_.erase(token);
    }

    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }

private:
    struct Call {
        TIBDatabase* db;
        unsigned int handle;
        Clock::time_point deadline;
    };

    void Run() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            auto earliest = calls_.end();
            for (auto it = calls_.begin(); it != calls_.end(); ++it)
                if (earliest == calls_.end() || it->second.deadline < earliest->second.deadline)
                    earliest = it;
            if (earliest == calls_.end()) {
                sleepsUntil_ = Clock::time_point::max();
                wake_.wait(lock);
                continue;
            }
            // A copy: the call may return, and its entry go, while this waits.
            const Clock::time_point deadline = earliest->second.deadline;
            if (Clock::now() < deadline) {
                sleepsUntil_ = deadline;
                wake_.wait_until(lock, deadline);
                continue;
            }
            // Closing the client's side returns at once; the waiting call then fails as a lost
            // connection and every later one on it too, until the connection is opened again.
            Call call = earliest->second;
            calls_.erase(earliest);
            ISC_STATUS_ARRAY status{};
            isc_db_handle handle = call.handle;
            fb_cancel_operation(status, &handle, fb_cancel_abort);
            call.db->NoteCallCut();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::uint64_t, Call> calls_;
    std::uint64_t last_ = 0;
    // What the thread waits for; a new thread has not begun to wait yet.
    Clock::time_point sleepsUntil_ = Clock::time_point::min();
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace

TIBCallBound::TIBCallBound(TIBDatabase* db) {
    // An outer bound already covers the calls of an inner one.
    if (!db || !db->Connected() || !db->Remote() || db->CallTimeout().count() <= 0 || db->bounded_)
        return;
    db->bounded_ = true;
    db_ = db;
    token_ = Watchdog::Instance().Arm(db, Clock::now() + db->CallTimeout());
}

TIBCallBound::~TIBCallBound() {
    if (!db_)
        return;
    Watchdog::Instance().Disarm(token_);
    db_->bounded_ = false;
}

} // namespace ibx
