#include "ibx/IBCallBound.h"

#include <ibase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>
#include <utility>

namespace ibx {

namespace {

using Clock = std::chrono::steady_clock;

// The silence an ending program still waits for.
constexpr std::chrono::milliseconds EndingSilence{500};

std::atomic<bool> processEnding{false};

// One thread for the whole process, waiting for the earliest moment a call under way has to
// be looked at: when its silence has lasted half its bound (the side probe is asked), or all
// of it (the connection is cut).
class Watchdog {
public:
    static Watchdog& Instance() {
        static Watchdog w;
        return w;
    }

    // `ending`: the connection's program is ending. Under the lock, so that a process's end
    // signalled meanwhile counts too.
    std::uint64_t Arm(TIBDatabase* db, Clock::duration silence, bool ending, std::shared_ptr<TIBSideProbe> probe) {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable())
            thread_ = std::thread([this] { Run(); });
        const std::uint64_t token = ++last_;
        if (ending || processEnding) {
            silence = std::min<Clock::duration>(silence, EndingSilence);
            probe.reset();
        }
        const Clock::time_point now = Clock::now();
        calls_.emplace(token, Call{db, *db->Handle(), silence, now, std::move(probe), now});
        // Calls come by the thousand (a fetch each row); the thread is woken only when it would
        // otherwise sleep past this one's first look.
        if (now + silence / 2 < sleepsUntil_)
            wake_.notify_one();
        return token;
    }

    // An answer only moves the call's moments later: the thread, waking at the old ones, looks
    // again then.
    void Answered(std::uint64_t token) {
        std::lock_guard lock(mutex_);
        if (auto it = calls_.find(token); it != calls_.end())
            it->second.lastAnswer = Clock::now();
    }

    void Disarm(std::uint64_t token) {
        // Under the lock: a call that has returned is never cut afterwards.
        std::lock_guard lock(mutex_);
        calls_.erase(token);
    }

    void Ending() {
        std::lock_guard lock(mutex_);
        for (auto& [token, call] : calls_) {
            call.silence = std::min<Clock::duration>(call.silence, EndingSilence);
            call.probe.reset();
        }
        wake_.notify_one();
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
        Clock::duration silence;
        Clock::time_point lastAnswer;
        std::shared_ptr<TIBSideProbe> probe;
        // When the side probe was last asked.
        Clock::time_point asked;
    };

    void Run() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            const Clock::time_point now = Clock::now();
            Clock::time_point next = Clock::time_point::max();
            for (auto it = calls_.begin(); it != calls_.end();) {
                Call& call = it->second;
                if (now >= call.lastAnswer + call.silence) {
                    Call cut = std::move(call);
                    it = calls_.erase(it);
                    if (cut.probe)
                        cut.probe->Drop();
                    TIBDatabase::Cut(cut.handle);
                    cut.db->NoteCallCut();
                    continue;
                }
                // Half the bound in silence: the server is asked on the side whether it is
                // busy with the call or gone; asked again each half bound while it lasts.
                const Clock::duration half = call.silence / 2;
                const Clock::time_point look = std::max(call.lastAnswer, call.asked) + half;
                if (call.probe && now >= look) {
                    call.asked = now;
                    const std::uint64_t token = it->first;
                    call.probe->Ask([this, token] { Answered(token); });
                    next = std::min(next, now + half);
                } else if (call.probe) {
                    next = std::min(next, look);
                }
                next = std::min(next, call.lastAnswer + call.silence);
                ++it;
            }
            sleepsUntil_ = next;
            if (next == Clock::time_point::max())
                wake_.wait(lock);
            else
                wake_.wait_until(lock, next);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::uint64_t, Call> calls_;
    std::uint64_t last_ = 0;
    // When the thread wakes next; a new thread has not begun to wait yet.
    Clock::time_point sleepsUntil_ = Clock::time_point::min();
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace

TIBCallBound::TIBCallBound(TIBDatabase* db) {
    if (!db || !db->Connected() || !db->Remote() || db->CallTimeout().count() <= 0)
        return;
    db_ = db;
    if (db->boundToken_) {
        // An outer bound already covers the calls of an inner one.
        inner_ = true;
        token_ = db->boundToken_;
        return;
    }
    token_ = Watchdog::Instance().Arm(db, db->CallTimeout(), db->ending_, db->ending_ ? nullptr : db->SideProbe());
    db->boundToken_ = token_;
}

TIBCallBound::~TIBCallBound() {
    if (!db_)
        return;
    if (inner_) {
        Watchdog::Instance().Answered(token_);
        return;
    }
    Watchdog::Instance().Disarm(token_);
    db_->boundToken_ = 0;
}

void TIBCallBound::Answered(TIBDatabase* db) {
    if (db && db->boundToken_)
        Watchdog::Instance().Answered(db->boundToken_);
}

void TIBCallBound::ProcessEnding() {
    processEnding = true;
    Watchdog::Instance().Ending();
}

// ---------------------------------------------------------------- TIBSideProbe

TIBSideProbe::TIBSideProbe(TIBDatabase::TAttachRequest request) : request_(std::move(request)) {}

TIBSideProbe::~TIBSideProbe() {
    // The last thread using it has ended: nothing is under way on the attachment.
    if (handle_)
        TIBDatabase::Detach(handle_);
}

void TIBSideProbe::Ask(std::function<void()> answered) {
    {
        std::lock_guard lock(mutex_);
        if (asking_ || dropped_)
            return;
        asking_ = true;
    }
    std::thread([self = shared_from_this(), answered = std::move(answered)] {
        unsigned int handle = 0;
        {
            std::lock_guard lock(self->mutex_);
            handle = self->handle_;
        }
        if (!handle) {
            try {
                handle = TIBDatabase::Attach(self->request_);
            } catch (const std::exception&) {
                handle = 0;
            }
            std::lock_guard lock(self->mutex_);
            // Dropped meanwhile: the attachment goes with the probe.
            self->handle_ = handle;
            if (self->dropped_)
                handle = 0;
        }
        bool alive = false;
        if (handle) {
            ISC_STATUS_ARRAY status{};
            isc_db_handle h = handle;
            fb_ping(status, &h);
            alive = !(status[0] == 1 && status[1]);
            if (!alive) {
                // A connection that failed once is not asked again; the next ask attaches anew.
                std::lock_guard lock(self->mutex_);
                if (self->handle_ == handle) {
                    self->handle_ = 0;
                    TIBDatabase::Cut(handle);
                    TIBDatabase::Detach(handle);
                }
            }
        }
        if (alive && answered)
            answered();
        std::lock_guard lock(self->mutex_);
        self->asking_ = false;
    }).detach();
}

void TIBSideProbe::Drop() {
    std::lock_guard lock(mutex_);
    dropped_ = true;
    // A ping waiting on a silent server returns at once, and the detach that follows says
    // nothing to the server.
    if (handle_)
        TIBDatabase::Cut(handle_);
}

} // namespace ibx
