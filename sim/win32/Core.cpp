// Handles, windows, queues, timers, waits, events, threads and the clock.
//
// One process-wide mutex guards all of it. Wake-ups are targeted, so that hundreds of busy threads do not
// wake each other for nothing: each queue has a condition variable its owner thread waits on (woken by a
// post, a send, a timer tick or the end of a send it made), and a wait on kernel objects registers its
// condition variable with each object for as long as it waits (woken when one is signalled). Waits with a
// deadline also register with the clock, which wakes them when a test moves or speeds it. Waits re-check
// their conditions on each wake-up. Window procedures always run without the mutex held.
//
// A socket selected to a window (WSAAsyncSelect) is watched by the wait of the window's thread itself:
// while its queue has such sockets, the owner's waits poll them together with an eventfd of the queue
// (written by wake-ups only while the owner polls), and a readable socket becomes a notice in the queue
// on the owner's own thread. A reply to the owner then wakes that thread alone. A thread served by a
// foreign event loop (SetQueueWakeFd) is told which sockets to watch instead (QueueSelectedSockets).
#include "sim/win32/Queues.h"
#include "win32/Kernel.h"
#include "sim/win32/Testing.h"
#include "win32/Sockets.h"
#include "win32/Windows.h"
#include "vcl/SysUtils.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace win {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Queue;

struct SocketWatch {
    int fd = -1;
    unsigned long long id = 0; // tells a new watch of a reused descriptor from the old one
    uintptr_t hwnd = 0;
    UINT msg = 0;
    LONG events = 0;
    bool armed = true; // false from its notice until the next recv
};

// What a wait blocks on: a condition variable, or for a queue with selected sockets a poll of them and of
// the queue's eventfd. Its state is guarded by the process mutex, but notify_one may also be called after
// that mutex was let go by a thread that changed what the waiter looks at while holding it.
class Waker {
public:
    explicit Waker(Queue* queue = nullptr) : queue_(queue) {}
    ~Waker() {
        if (eventFd_ >= 0)
            ::close(eventFd_);
    }
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    void notify_one() {
        cv_.notify_one();
        if (polling_.load()) {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(eventFd_, &one, sizeof one);
        }
    }
    void wait(std::unique_lock<std::mutex>& lk) { Block(lk, std::nullopt); }
    void wait_until(std::unique_lock<std::mutex>& lk, SteadyClock::time_point until) { Block(lk, until); }
    template <typename Pred>
    void wait_until(std::unique_lock<std::mutex>& lk, SteadyClock::time_point until, Pred done) {
        while (!done() && SteadyClock::now() < until)
            Block(lk, until);
    }

private:
    void Block(std::unique_lock<std::mutex>& lk, std::optional<SteadyClock::time_point> until);
    bool PollLocked(std::unique_lock<std::mutex>& lk, std::optional<SteadyClock::time_point> until);

    Queue* queue_;
    std::condition_variable cv_;
    int eventFd_ = -1;
    // The poll's set, kept between waits so that a wait allocates nothing: the eventfd, then the armed
    // sockets with the ids of their watches. Only the owner thread touches them.
    std::vector<pollfd> fds_;
    std::vector<unsigned long long> ids_;
    std::atomic<bool> polling_{false}; // set under the mutex; read also without it by notify_one
};

struct SendRequest {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::weak_ptr<Queue> from; // the sender's queue, woken when the request is done
    LRESULT result = 0;
    bool done = false;
};

struct Queue {
    Waker cv{this};                               // only the owner thread waits on it
    std::unordered_map<int, SocketWatch> watches; // sockets selected to its windows, by descriptor
    DWORD tid = 0;
    bool alive = true;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SendRequest>> sent;
    int wakeFd = -1;
    bool quit = false;
    int quitCode = 0;
    bool fresh = false; // input arrived since the owner last looked at the queue (GetMessageW, PeekMessageW)
};

struct Window {
    uintptr_t id = 0;
    std::shared_ptr<Queue> queue;
    WNDPROC proc = nullptr;
    LONG_PTR user = 0;
    bool alive = true;
};

struct Timer {
    UINT period = 0;
    ULONGLONG due = 0;
    bool queued = false;
};

struct DeviceNotification {
    uintptr_t hwnd = 0;
    bool allClasses = false;
    GUID guid{};
};

// Everything below that touches `waiters` runs under the process mutex.
class Waitable : public KernelObject {
public:
    virtual bool Signaled() const = 0;
    virtual void Acquire() {}
    void WakeWaitersLocked() {
        for (auto* cv : waiters)
            cv->notify_one();
    }
    std::vector<Waker*> waiters; // one entry per wait in progress
};

class EventObject : public Waitable {
public:
    EventObject(bool manual, bool state) : manual(manual), state(state) {}
    bool Signaled() const override { return state; }
    void Acquire() override {
        if (!manual)
            state = false;
    }
    bool manual;
    bool state;
};

class ThreadObject : public Waitable {
public:
    bool Signaled() const override { return done; }
    DWORD tid = 0;
    bool done = false;
    bool suspended = false;
    std::condition_variable resumed;
    DWORD exitCode = STILL_ACTIVE;
};

struct State {
    std::mutex mu;
    std::condition_variable timerCv;  // the timer list or the clock changed
    std::vector<Waker*> clockWaiters; // waits with a deadline, woken when the clock jumps
    uintptr_t nextId = 0x10000;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> handles;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    std::unordered_map<DWORD, std::weak_ptr<Queue>> queues;
    std::map<std::pair<uintptr_t, UINT_PTR>, Timer> timers;
    std::map<uintptr_t, DeviceNotification> notifications;
    std::unordered_map<int, std::weak_ptr<Queue>> watchers; // the queue watching each selected socket
    bool timerThreadStarted = false;
    ULONGLONG timerWakeAt = 0; // clock time the timer thread waits until (~0: no timer due)
};

// Leaked on purpose: detached threads and thread-local queues may still touch it while the process exits.
State& S() {
    static State* state = new State;
    return *state;
}

struct ClockState {
    std::mutex mu;
    double scale = 1.0;
    double baseClock = 1000000.0; // a tick count well away from zero
    SteadyClock::time_point baseReal = SteadyClock::now();
};

ClockState& C() {
    static ClockState* clock = new ClockState;
    return *clock;
}

ULONGLONG NowMs() {
    auto& c = C();
    std::lock_guard lk(c.mu);
    double real = std::chrono::duration<double, std::milli>(SteadyClock::now() - c.baseReal).count();
    return static_cast<ULONGLONG>(c.baseClock + real * c.scale);
}

// The real time at which the clock reaches `clockMs`.
SteadyClock::time_point RealAt(ULONGLONG clockMs) {
    auto& c = C();
    std::lock_guard lk(c.mu);
    auto now = SteadyClock::now();
    double clockNow = c.baseClock + std::chrono::duration<double, std::milli>(now - c.baseReal).count() * c.scale;
    double realMs = (static_cast<double>(clockMs) - clockNow) / c.scale;
    if (realMs <= 0)
        return now;
    if (realMs > 1e9)
        realMs = 1e9;
    return now + std::chrono::microseconds(static_cast<long long>(realMs * 1000.0) + 1);
}

void NotifyClockChange() {
    std::lock_guard lk(S().mu);
    for (auto* cv : S().clockWaiters)
        cv->notify_one();
    S().timerCv.notify_all();
}

void EraseOne(std::vector<Waker*>& list, Waker* cv) {
    auto it = std::find(list.begin(), list.end(), cv);
    if (it != list.end())
        list.erase(it);
}

// Registers one wait's condition variable with the clock (for a deadline) and with the objects waited
// on; undone when the wait ends, also by an exception. Made and destroyed with the process mutex held.
class WaitRegistration {
public:
    WaitRegistration(Waker* cv, bool timed, const std::vector<std::shared_ptr<Waitable>>* objs = nullptr)
        : cv_(cv), timed_(timed), objs_(objs) {
        if (timed_)
            S().clockWaiters.push_back(cv_);
        if (objs_)
            for (auto& o : *objs_)
                o->waiters.push_back(cv_);
    }
    ~WaitRegistration() {
        if (timed_)
            EraseOne(S().clockWaiters, cv_);
        if (objs_)
            for (auto& o : *objs_)
                EraseOne(o->waiters, cv_);
    }
    WaitRegistration(const WaitRegistration&) = delete;
    WaitRegistration& operator=(const WaitRegistration&) = delete;

private:
    Waker* cv_;
    bool timed_;
    const std::vector<std::shared_ptr<Waitable>>* objs_;
};

std::atomic<DWORD> g_nextTid{1000};
thread_local DWORD tl_tid = 0;
thread_local int tl_servedSends = 0;

DWORD ThisTid() {
    if (tl_tid == 0)
        tl_tid = g_nextTid++;
    return tl_tid;
}

void KillQueueLocked(const std::shared_ptr<Queue>& q);

// Destroys the thread's windows when the thread ends, as the system does.
struct QueueHolder {
    std::shared_ptr<Queue> queue;
    ~QueueHolder() { Release(); }
    void Release() {
        if (!queue)
            return;
        std::lock_guard lk(S().mu);
        KillQueueLocked(queue);
        queue.reset();
    }
};
thread_local QueueHolder tl_queue;

uintptr_t NewIdLocked() {
    uintptr_t id = S().nextId;
    S().nextId += 4;
    return id;
}

std::shared_ptr<Queue> CurrentQueueLocked() {
    if (!tl_queue.queue) {
        auto q = std::make_shared<Queue>();
        q->tid = ThisTid();
        S().queues[q->tid] = q;
        tl_queue.queue = q;
    }
    return tl_queue.queue;
}

void SignalWakeFdLocked(Queue& q) {
    if (q.wakeFd >= 0) {
        uint64_t one = 1;
        ssize_t n = ::write(q.wakeFd, &one, sizeof one);
        (void)n; // a full eventfd is already signalled
    }
}

void WakeLocked(Queue& q) {
    q.cv.notify_one();
    SignalWakeFdLocked(q);
}

// Wakes a queue's owner once the process mutex is let go: an owner woken while the poster still holds
// it would at once sleep again on the mutex, and both threads would pay two more system calls.
// Declared before the lock, so that it runs after the lock's release.
class WakeAfterUnlock {
public:
    WakeAfterUnlock() = default;
    WakeAfterUnlock(const WakeAfterUnlock&) = delete;
    WakeAfterUnlock& operator=(const WakeAfterUnlock&) = delete;
    ~WakeAfterUnlock() {
        if (q_)
            q_->cv.notify_one();
    }
    // With the mutex held: the eventfd is written now (its descriptor may be closed once we let go).
    void SetLocked(std::shared_ptr<Queue> q) {
        SignalWakeFdLocked(*q);
        q_ = std::move(q);
    }

private:
    std::shared_ptr<Queue> q_;
};

std::shared_ptr<Window> FindWindowLocked(HWND hwnd) {
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == S().windows.end() || !it->second->alive)
        return nullptr;
    return it->second;
}

void FinishSendLocked(SendRequest& req) {
    req.done = true;
    if (auto from = req.from.lock())
        from->cv.notify_one();
}

void CompleteSendsLocked(Queue& q, uintptr_t hwnd /* 0 = all */) {
    for (auto it = q.sent.begin(); it != q.sent.end();) {
        if (hwnd == 0 || reinterpret_cast<uintptr_t>((*it)->hwnd) == hwnd) {
            (*it)->result = 0;
            FinishSendLocked(**it);
            it = q.sent.erase(it);
        } else {
            ++it;
        }
    }
}

void KillWindowLocked(Window& w) {
    w.alive = false;
    auto& s = S();
    s.windows.erase(w.id);
    for (auto it = s.timers.begin(); it != s.timers.end();)
        it = it->first.first == w.id ? s.timers.erase(it) : std::next(it);
    for (auto it = s.notifications.begin(); it != s.notifications.end();)
        it = it->second.hwnd == w.id ? s.notifications.erase(it) : std::next(it);
    auto& watches = w.queue->watches;
    for (auto it = watches.begin(); it != watches.end();) {
        if (it->second.hwnd == w.id) {
            s.watchers.erase(it->first);
            it = watches.erase(it);
        } else {
            ++it;
        }
    }
    auto& posted = w.queue->posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [&](const MSG& m) { return reinterpret_cast<uintptr_t>(m.hwnd) == w.id; }),
                 posted.end());
    CompleteSendsLocked(*w.queue, w.id);
}

void KillQueueLocked(const std::shared_ptr<Queue>& q) {
    if (!q->alive)
        return;
    q->alive = false;
    std::vector<std::shared_ptr<Window>> owned;
    for (auto& [id, w] : S().windows)
        if (w->queue == q)
            owned.push_back(w);
    for (auto& w : owned)
        KillWindowLocked(*w);
    CompleteSendsLocked(*q, 0);
    q->posted.clear();
    S().queues.erase(q->tid);
}

// Readable means bytes or the end of the stream; the reader tells them apart by its recv. One notice
// until the next recv: false when the socket already has its notice.
bool PostNoticeLocked(Queue& q, SocketWatch& w) {
    if (!w.armed)
        return false;
    w.armed = false;
    q.fresh = true;
    const LONG event = (w.events & FD_READ) ? FD_READ : FD_CLOSE;
    q.posted.push_back(MSG{reinterpret_cast<HWND>(w.hwnd),
                           w.msg,
                           static_cast<WPARAM>(w.fd),
                           static_cast<LPARAM>(event),
                           static_cast<DWORD>(NowMs()),
                           {0, 0}});
    return true;
}

void Waker::Block(std::unique_lock<std::mutex>& lk, std::optional<SteadyClock::time_point> until) {
    if (queue_ && !queue_->watches.empty() && PollLocked(lk, until))
        return;
    if (until)
        cv_.wait_until(lk, *until);
    else
        cv_.wait(lk);
}

// The owner's wait while its queue has selected sockets. False when the poll cannot be made (no eventfd):
// the caller then waits on the condition variable, and the sockets are looked at on its next wake-up.
bool Waker::PollLocked(std::unique_lock<std::mutex>& lk, std::optional<SteadyClock::time_point> until) {
    if (eventFd_ < 0) {
        eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (eventFd_ < 0)
            return false;
    }
    Queue& q = *queue_;
    fds_.assign(1, pollfd{eventFd_, POLLIN, 0});
    ids_.assign(1, 0);
    for (const auto& [fd, w] : q.watches)
        if (w.armed) {
            fds_.push_back({fd, POLLIN | POLLRDHUP, 0});
            ids_.push_back(w.id);
        }
    int timeout = -1;
    if (until) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - SteadyClock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
    }
    polling_.store(true);
    lk.unlock();
    int ready = ::poll(fds_.data(), fds_.size(), timeout);
    lk.lock();
    polling_.store(false);
    if (ready <= 0)
        return true;
    if (fds_[0].revents) {
        uint64_t v;
        [[maybe_unused]] ssize_t n = ::read(eventFd_, &v, sizeof v);
    }
    bool noticed = false;
    for (size_t i = 1; i < fds_.size(); ++i) {
        if (!fds_[i].revents)
            continue;
        // The watch may have gone, or its descriptor been reused, while the lock was let go.
        auto it = q.watches.find(fds_[i].fd);
        if (it != q.watches.end() && it->second.id == ids_[i])
            noticed = PostNoticeLocked(q, it->second) || noticed;
    }
    // A thread served by a foreign loop may take this notice there, after the wait that found it.
    if (noticed)
        SignalWakeFdLocked(q);
    return true;
}

// Runs the sends waiting for this thread. Returns with the lock held, also when a procedure throws.
int ServeSendsLocked(std::unique_lock<std::mutex>& lk, Queue& q) {
    int served = 0;
    while (!q.sent.empty()) {
        auto req = q.sent.front();
        q.sent.pop_front();
        auto w = FindWindowLocked(req->hwnd);
        LRESULT result = 0;
        if (w) {
            WNDPROC proc = w->proc;
            lk.unlock();
            try {
                result = proc(req->hwnd, req->msg, req->wParam, req->lParam);
            } catch (...) {
                lk.lock();
                FinishSendLocked(*req);
                throw;
            }
            lk.lock();
        }
        req->result = result;
        FinishSendLocked(*req);
        ++served;
    }
    tl_servedSends += served;
    return served;
}

bool Matches(const MSG& m, HWND filter, UINT minMsg, UINT maxMsg) {
    if (filter && m.hwnd != filter)
        return false;
    if (minMsg == 0 && maxMsg == 0)
        return true;
    return m.message >= minMsg && m.message <= maxMsg;
}

bool TakeLocked(Queue& q, MSG* out, HWND filter, UINT minMsg, UINT maxMsg, bool remove) {
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (!Matches(*it, filter, minMsg, maxMsg))
            continue;
        *out = *it;
        if (remove) {
            if (it->message == WM_TIMER) {
                auto t = S().timers.find({reinterpret_cast<uintptr_t>(it->hwnd), it->wParam});
                if (t != S().timers.end())
                    t->second.queued = false;
            }
            q.posted.erase(it);
        }
        return true;
    }
    if (q.quit && !filter && ((minMsg == 0 && maxMsg == 0) || (WM_QUIT >= minMsg && WM_QUIT <= maxMsg))) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0, static_cast<DWORD>(NowMs()), {0, 0}};
        if (remove)
            q.quit = false;
        return true;
    }
    return false;
}

void TimerThread() {
    auto& s = S();
    std::unique_lock lk(s.mu);
    for (;;) {
        ULONGLONG now = NowMs();
        std::optional<ULONGLONG> earliest;
        for (auto& [key, t] : s.timers) {
            if (t.due <= now) {
                if (!t.queued) {
                    auto w = s.windows.find(key.first);
                    if (w != s.windows.end() && w->second->alive && w->second->queue->alive) {
                        w->second->queue->posted.push_back(MSG{reinterpret_cast<HWND>(key.first),
                                                               WM_TIMER,
                                                               key.second,
                                                               0,
                                                               static_cast<DWORD>(now),
                                                               {0, 0}});
                        t.queued = true;
                        w->second->queue->fresh = true;
                        WakeLocked(*w->second->queue);
                    }
                }
                t.due += t.period;
                if (t.due <= now)
                    t.due = now + t.period;
            }
            if (!earliest || t.due < *earliest)
                earliest = t.due;
        }
        s.timerWakeAt = earliest ? *earliest : ~ULONGLONG(0);
        if (earliest)
            s.timerCv.wait_until(lk, RealAt(*earliest));
        else
            s.timerCv.wait(lk);
        s.timerWakeAt = 0; // scanning: every change is seen
    }
}

void EnsureTimerThreadLocked() {
    if (S().timerThreadStarted)
        return;
    S().timerThreadStarted = true;
    std::thread(TimerThread).detach();
}

// What in the calling thread's queue ends a wait: nothing, any message waiting there, or only input that
// arrived since the thread last looked at its queue.
enum class QueueWake { None, Waiting, New };

// Waits for handles (and, unless `wake` is None, for its kind of input in this thread's queue). Incoming
// sends are served meanwhile whenever the thread has a queue.

DWORD WaitImpl(DWORD count, const HANDLE* handles, bool waitAll, DWORD ms, QueueWake wake) {
    const bool messages = wake != QueueWake::None;
    if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && !handles)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    auto& s = S();
    std::unique_lock lk(s.mu);
    std::vector<std::shared_ptr<Waitable>> objs;
    for (DWORD i = 0; i < count; ++i) {
        auto it = s.handles.find(reinterpret_cast<uintptr_t>(handles[i]));
        auto w = it == s.handles.end() ? nullptr : std::dynamic_pointer_cast<Waitable>(it->second);
        if (!w) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objs.push_back(std::move(w));
    }
    std::shared_ptr<Queue> q = messages ? CurrentQueueLocked() : tl_queue.queue;
    std::optional<ULONGLONG> deadline;
    if (ms != INFINITE)
        deadline = NowMs() + ms;
    // A thread with a queue waits on its queue's condition variable, so that sends and posts wake it too.
    Waker ownCv;
    Waker* cv = q ? &q->cv : &ownCv;
    WaitRegistration registration(cv, deadline.has_value(), &objs);
    for (;;) {
        // A send served here is input too: its procedure may have changed what the waiter waits for.
        const bool served = q && ServeSendsLocked(lk, *q) > 0;
        if (count > 0) {
            if (waitAll) {
                if (std::all_of(objs.begin(), objs.end(), [](auto& o) { return o->Signaled(); })) {
                    for (auto& o : objs)
                        o->Acquire();
                    return WAIT_OBJECT_0;
                }
            } else {
                for (DWORD i = 0; i < count; ++i) {
                    if (objs[i]->Signaled()) {
                        objs[i]->Acquire();
                        return WAIT_OBJECT_0 + i;
                    }
                }
            }
        }
        if (wake == QueueWake::Waiting && (!q->posted.empty() || q->quit))
            return WAIT_OBJECT_0 + count;
        if (wake == QueueWake::New && (q->fresh || served))
            return WAIT_OBJECT_0 + count;
        if (deadline && NowMs() >= *deadline)
            return WAIT_TIMEOUT;
        if (deadline)
            cv->wait_until(lk, RealAt(*deadline));
        else
            cv->wait(lk);
    }
}

} // namespace

// ---------------------------------------------------------------- handles

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
    if (!object)
        return nullptr;
    std::lock_guard lk(S().mu);
    uintptr_t id = NewIdLocked();
    S().handles[id] = std::move(object);
    return reinterpret_cast<HANDLE>(id);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    std::lock_guard lk(S().mu);
    auto it = S().handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == S().handles.end() ? nullptr : it->second;
}

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> dropped; // destroyed outside the lock
    {
        std::lock_guard lk(S().mu);
        auto it = S().handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it == S().handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        dropped = std::move(it->second);
        S().handles.erase(it);
    }
    return TRUE;
}

void SetQueueWakeFd(int fd) {
    std::lock_guard lk(S().mu);
    auto q = CurrentQueueLocked();
    q->wakeFd = fd;
    if (fd >= 0 && (!q->posted.empty() || !q->sent.empty() || q->quit))
        WakeLocked(*q);
}

bool QueueHasWork() {
    std::lock_guard lk(S().mu);
    auto& q = tl_queue.queue;
    return q && (!q->posted.empty() || !q->sent.empty());
}

std::vector<std::pair<int, bool>> QueueSelectedSockets() {
    std::lock_guard lk(S().mu);
    std::vector<std::pair<int, bool>> out;
    if (auto& q = tl_queue.queue)
        for (const auto& [fd, w] : q->watches)
            out.emplace_back(fd, w.armed);
    return out;
}

bool QueueSocketReadable(int fd) {
    std::lock_guard lk(S().mu);
    auto& q = tl_queue.queue;
    if (!q)
        return false;
    auto it = q->watches.find(fd);
    return it != q->watches.end() && PostNoticeLocked(*q, it->second);
}

namespace {
unsigned long long g_nextWatchId = 1; // under the mutex

std::shared_ptr<Queue> WatcherLocked(int fd) {
    auto it = S().watchers.find(fd);
    return it == S().watchers.end() ? nullptr : it->second.lock();
}

// Ends the watch of the descriptor, with any notice of it still waiting: the number may soon be another
// socket's.
void UnwatchLocked(int fd) {
    auto q = WatcherLocked(fd);
    S().watchers.erase(fd);
    if (!q)
        return;
    auto it = q->watches.find(fd);
    if (it == q->watches.end())
        return;
    const SocketWatch gone = it->second;
    q->watches.erase(it);
    auto& posted = q->posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [&](const MSG& m) {
                                    return reinterpret_cast<uintptr_t>(m.hwnd) == gone.hwnd && m.message == gone.msg &&
                                           m.wParam == static_cast<WPARAM>(fd);
                                }),
                 posted.end());
    WakeLocked(*q); // a poll still holding the descriptor lets go of it
}
} // namespace

int WatchSocket(int fd, HWND hwnd, UINT msg, LONG events) {
    std::lock_guard lk(S().mu);
    UnwatchLocked(fd);
    if (!hwnd && events == 0)
        return 0;
    auto w = FindWindowLocked(hwnd);
    if (!w || !w->queue->alive || events == 0)
        return WSAEINVAL;
    w->queue->watches[fd] = SocketWatch{fd, g_nextWatchId++, w->id, msg, events, true};
    S().watchers[fd] = w->queue;
    WakeLocked(*w->queue); // an owner already waiting starts to watch it
    return 0;
}

void RearmSocketWatch(int fd) {
    std::lock_guard lk(S().mu);
    auto q = WatcherLocked(fd);
    if (!q)
        return;
    auto it = q->watches.find(fd);
    if (it == q->watches.end() || it->second.armed)
        return;
    it->second.armed = true;
    // Only another thread needs waking: the owner looks again before it waits.
    if (q->tid != ThisTid())
        WakeLocked(*q);
}

// ---------------------------------------------------------------- clock

DWORD GetTickCount() {
    return static_cast<DWORD>(NowMs());
}
ULONGLONG GetTickCount64() {
    return NowMs();
}
DWORD timeGetTime() {
    return static_cast<DWORD>(NowMs());
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::unique_lock lk(S().mu);
    std::optional<ULONGLONG> deadline;
    if (milliseconds != INFINITE)
        deadline = NowMs() + milliseconds;
    Waker cv; // only the clock wakes a sleep
    WaitRegistration registration(&cv, deadline.has_value());
    while (!deadline || NowMs() < *deadline) {
        if (deadline)
            cv.wait_until(lk, RealAt(*deadline));
        else
            cv.wait(lk);
    }
}

namespace test {

void SetTimeScale(double scale) {
    if (!(scale > 0))
        scale = 1.0;
    {
        auto& c = C();
        std::lock_guard lk(c.mu);
        auto now = SteadyClock::now();
        c.baseClock += std::chrono::duration<double, std::milli>(now - c.baseReal).count() * c.scale;
        c.baseReal = now;
        c.scale = scale;
    }
    NotifyClockChange();
}

double TimeScale() {
    std::lock_guard lk(C().mu);
    return C().scale;
}

void AdvanceClock(DWORD milliseconds) {
    {
        std::lock_guard lk(C().mu);
        C().baseClock += milliseconds;
    }
    NotifyClockChange();
}

} // namespace test

// ---------------------------------------------------------------- windows

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int, int, int, int, HWND parent,
                     HMENU, HINSTANCE, LPVOID) {
    std::u16string cls = className ? className : u"";
    std::u16string name = windowName ? windowName : u"";
    test::Record("CreateWindowExW", "class=" + vcl::Utf16ToUtf8(cls) + " name=" + vcl::Utf16ToUtf8(name) +
                                        " parent=" + test::HandleText(parent) + " exStyle=" + std::to_string(exStyle) +
                                        " style=" + std::to_string(style));
    if (test::ShouldFail("CreateWindowExW")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::u16string lower;
    for (char16_t ch : cls)
        lower += (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch;
    // Only message-only windows exist here: the system's "Message" class.
    if (lower != u"message") {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    std::lock_guard lk(S().mu);
    auto w = std::make_shared<Window>();
    w->id = NewIdLocked();
    w->queue = CurrentQueueLocked();
    w->proc = DefWindowProcW;
    S().windows[w->id] = w;
    return reinterpret_cast<HWND>(w->id);
}

BOOL DestroyWindow(HWND hwnd) {
    std::unique_lock lk(S().mu);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->queue != CurrentQueueLocked()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WNDPROC proc = w->proc;
    lk.unlock();
    test::Record("DestroyWindow", test::HandleText(hwnd));
    proc(hwnd, WM_DESTROY, 0, 0);
    lk.lock();
    if (!w->alive)
        return TRUE; // destroyed again from its own WM_DESTROY
    proc = w->proc;
    KillWindowLocked(*w);
    lk.unlock();
    proc(hwnd, WM_NCDESTROY, 0, 0);
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    std::lock_guard lk(S().mu);
    return FindWindowLocked(hwnd) ? TRUE : FALSE;
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
    std::lock_guard lk(S().mu);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR old = 0;
    switch (index) {
    case GWLP_USERDATA:
        old = w->user;
        w->user = value;
        break;
    case GWLP_WNDPROC:
        old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = value ? reinterpret_cast<WNDPROC>(value) : DefWindowProcW;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return old;
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
    std::lock_guard lk(S().mu);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (index) {
    case GWLP_USERDATA:
        return w->user;
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
    if (processId)
        *processId = GetCurrentProcessId();
    std::lock_guard lk(S().mu);
    auto w = FindWindowLocked(hwnd);
    return w ? w->queue->tid : 0;
}

// ---------------------------------------------------------------- messages

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WakeAfterUnlock wake;
    std::lock_guard lk(S().mu);
    std::shared_ptr<Queue> q;
    if (!hwnd) {
        q = CurrentQueueLocked();
    } else {
        auto w = FindWindowLocked(hwnd);
        if (!w || !w->queue->alive) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        q = w->queue;
    }
    q->posted.push_back(MSG{hwnd, msg, wParam, lParam, static_cast<DWORD>(NowMs()), {0, 0}});
    q->fresh = true;
    wake.SetLocked(std::move(q));
    return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    WakeAfterUnlock wake;
    std::lock_guard lk(S().mu);
    auto it = S().queues.find(threadId);
    auto q = it == S().queues.end() ? nullptr : it->second.lock();
    if (!q || !q->alive) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    q->posted.push_back(MSG{nullptr, msg, wParam, lParam, static_cast<DWORD>(NowMs()), {0, 0}});
    q->fresh = true;
    wake.SetLocked(std::move(q));
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    std::lock_guard lk(S().mu);
    auto q = CurrentQueueLocked();
    q->quit = true;
    q->quitCode = exitCode;
    q->fresh = true;
    WakeLocked(*q);
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::unique_lock lk(S().mu);
    auto w = FindWindowLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    auto me = CurrentQueueLocked();
    if (w->queue == me) {
        WNDPROC proc = w->proc;
        lk.unlock();
        return proc(hwnd, msg, wParam, lParam);
    }
    if (!w->queue->alive)
        return 0;
    auto req = std::make_shared<SendRequest>(SendRequest{hwnd, msg, wParam, lParam, me});
    w->queue->sent.push_back(req);
    WakeLocked(*w->queue);
    // Serve sends to our own windows meanwhile, so two threads sending to each other do not deadlock.
    while (!req->done) {
        ServeSendsLocked(lk, *me);
        if (req->done)
            break;
        me->cv.wait(lk);
    }
    return req->result;
}

BOOL GetMessageW(MSG* msg, HWND filter, UINT minMsg, UINT maxMsg) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::unique_lock lk(S().mu);
    auto q = CurrentQueueLocked();
    for (;;) {
        ServeSendsLocked(lk, *q);
        q->fresh = false;
        if (TakeLocked(*q, msg, filter, minMsg, maxMsg, true))
            return msg->message == WM_QUIT ? FALSE : TRUE;
        q->cv.wait(lk);
    }
}

BOOL PeekMessageW(MSG* msg, HWND filter, UINT minMsg, UINT maxMsg, UINT removeFlags) {
    if (!msg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::unique_lock lk(S().mu);
    auto q = CurrentQueueLocked();
    ServeSendsLocked(lk, *q);
    q->fresh = false;
    return TakeLocked(*q, msg, filter, minMsg, maxMsg, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg || !msg->hwnd)
        return 0;
    WNDPROC proc;
    {
        std::lock_guard lk(S().mu);
        auto w = FindWindowLocked(msg->hwnd);
        if (!w)
            return 0;
        proc = w->proc;
    }
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

DWORD GetQueueStatus(UINT) {
    std::lock_guard lk(S().mu);
    auto q = CurrentQueueLocked();
    DWORD status = 0;
    if (!q->posted.empty())
        status |= QS_POSTMESSAGE;
    if (!q->sent.empty())
        status |= QS_SENDMESSAGE;
    return status | (status << 16);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD) {
    return WaitImpl(count, handles, waitAll != FALSE, milliseconds, QueueWake::Waiting);
}

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD, DWORD flags) {
    return WaitImpl(count, handles, false, milliseconds,
                    (flags & MWMO_INPUTAVAILABLE) ? QueueWake::Waiting : QueueWake::New);
}

// ---------------------------------------------------------------- timers

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    // Not journaled: an OBEX client restarts its timer for every packet.
    if (test::ShouldFail("SetTimer")) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return 0;
    }
    if (!hwnd || proc) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    std::lock_guard lk(S().mu);
    if (!FindWindowLocked(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (elapse < 1)
        elapse = 1;
    auto& t = S().timers[{reinterpret_cast<uintptr_t>(hwnd), id}];
    t.period = elapse;
    t.due = NowMs() + elapse; // setting an existing timer again restarts it
    EnsureTimerThreadLocked();
    // A timer restarted for every packet must not cost a thread wake-up each time: the timer thread needs
    // waking only when this timer falls due before the time it already waits for.
    if (t.due < S().timerWakeAt)
        S().timerCv.notify_all();
    return id ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    std::lock_guard lk(S().mu);
    auto it = S().timers.find({reinterpret_cast<uintptr_t>(hwnd), id});
    if (it == S().timers.end())
        return FALSE;
    S().timers.erase(it);
    if (auto w = FindWindowLocked(hwnd)) {
        auto& posted = w->queue->posted;
        posted.erase(
            std::remove_if(posted.begin(), posted.end(),
                           [&](const MSG& m) { return m.hwnd == hwnd && m.message == WM_TIMER && m.wParam == id; }),
            posted.end());
    }
    return TRUE;
}

// ---------------------------------------------------------------- device notifications

HDEVNOTIFY RegisterDeviceNotificationW(HANDLE recipient, LPVOID filter, DWORD flags) {
    DeviceNotification n;
    n.hwnd = reinterpret_cast<uintptr_t>(recipient);
    n.allClasses = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
    auto* hdr = static_cast<const DEV_BROADCAST_HDR*>(filter);
    bool valid = (flags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) == DEVICE_NOTIFY_WINDOW_HANDLE;
    if (valid && !n.allClasses)
        valid = hdr && hdr->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE && hdr->dbch_size >= 28;
    if (valid && !n.allClasses)
        std::memcpy(&n.guid, static_cast<const BYTE*>(filter) + 12, sizeof(GUID));
    char guidText[40];
    std::snprintf(guidText, sizeof guidText, "%08X-%04X-%04X", n.guid.Data1, n.guid.Data2, n.guid.Data3);
    test::Record("RegisterDeviceNotificationW",
                 test::HandleText(recipient) + " " + guidText + " flags=" + std::to_string(flags));
    if (test::ShouldFail("RegisterDeviceNotificationW"))
        return nullptr;
    if (!valid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lk(S().mu);
    if (!FindWindowLocked(static_cast<HWND>(recipient))) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    uintptr_t id = NewIdLocked();
    S().notifications[id] = n;
    return reinterpret_cast<HDEVNOTIFY>(id);
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY handle) {
    test::Record("UnregisterDeviceNotification", test::HandleText(handle));
    std::lock_guard lk(S().mu);
    if (S().notifications.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

int BroadcastDeviceChange(WPARAM event, const void* record, std::size_t size) {
    bool isInterface = false;
    GUID guid{};
    if (record && size >= 28) {
        auto* hdr = static_cast<const DEV_BROADCAST_HDR*>(record);
        isInterface = hdr->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
        std::memcpy(&guid, static_cast<const BYTE*>(record) + 12, sizeof guid);
    }
    std::vector<HWND> targets;
    {
        std::lock_guard lk(S().mu);
        for (auto& [id, n] : S().notifications)
            if (n.allClasses || !isInterface || n.guid == guid)
                targets.push_back(reinterpret_cast<HWND>(n.hwnd));
    }
    for (HWND h : targets)
        SendMessageW(h, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
    return static_cast<int>(targets.size());
}

// ---------------------------------------------------------------- events, threads, waits

HANDLE CreateEventW(SECURITY_ATTRIBUTES*, BOOL manualReset, BOOL initialState, LPCWSTR) {
    if (test::ShouldFail("CreateEventW")) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return nullptr;
    }
    return RegisterHandle(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

static BOOL SetEventState(HANDLE event, bool state) {
    std::lock_guard lk(S().mu);
    auto it = S().handles.find(reinterpret_cast<uintptr_t>(event));
    auto e = it == S().handles.end() ? nullptr : std::dynamic_pointer_cast<EventObject>(it->second);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->state = state;
    if (state)
        e->WakeWaitersLocked();
    return TRUE;
}

BOOL SetEvent(HANDLE event) {
    return SetEventState(event, true);
}
BOOL ResetEvent(HANDLE event) {
    return SetEventState(event, false);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitImpl(1, &handle, false, milliseconds, QueueWake::None);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return WaitImpl(count, handles, waitAll != FALSE, milliseconds, QueueWake::None);
}

static HANDLE StartThread(std::function<DWORD()> routine, bool suspended, DWORD* threadId) {
    if (test::ShouldFail("CreateThread")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto t = std::make_shared<ThreadObject>();
    t->tid = g_nextTid++;
    t->suspended = suspended;
    HANDLE h = RegisterHandle(t);
    if (threadId)
        *threadId = t->tid;
    std::thread([t, routine = std::move(routine)] {
        tl_tid = t->tid;
        {
            std::unique_lock lk(S().mu);
            t->resumed.wait(lk, [&] { return !t->suspended; });
        }
        DWORD code = 0;
        try {
            code = routine();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "thread %u ended by an exception: %s\n", t->tid, e.what());
            code = 0xE0000001u;
        } catch (...) {
            std::fprintf(stderr, "thread %u ended by an exception\n", t->tid);
            code = 0xE0000001u;
        }
        // The thread's windows die with it, before waiters see it finished.
        tl_queue.Release();
        std::lock_guard lk(S().mu);
        t->exitCode = code;
        t->done = true;
        t->WakeWaitersLocked();
    }).detach();
    return h;
}

HANDLE CreateThread(SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                    DWORD* threadId) {
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return StartThread([start, param] { return start(param); }, (flags & CREATE_SUSPENDED) != 0, threadId);
}

HANDLE CreateThread(std::function<DWORD()> routine, DWORD* threadId) {
    if (!routine) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return StartThread(std::move(routine), false, threadId);
}

DWORD ResumeThread(HANDLE thread) {
    std::lock_guard lk(S().mu);
    auto it = S().handles.find(reinterpret_cast<uintptr_t>(thread));
    auto t = it == S().handles.end() ? nullptr : std::dynamic_pointer_cast<ThreadObject>(it->second);
    if (!t) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    DWORD previous = t->suspended ? 1 : 0;
    t->suspended = false;
    t->resumed.notify_all();
    return previous;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    std::lock_guard lk(S().mu);
    auto it = S().handles.find(reinterpret_cast<uintptr_t>(thread));
    auto t = it == S().handles.end() ? nullptr : std::dynamic_pointer_cast<ThreadObject>(it->second);
    if (!t || !exitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *exitCode = t->exitCode;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    return ThisTid();
}
DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(::getpid());
}

// ---------------------------------------------------------------- test helpers

namespace test {

int PumpMessages() {
    int before = tl_servedSends;
    int handled = 0;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT)
            continue;
        DispatchMessageW(&m);
        ++handled;
    }
    return handled + (tl_servedSends - before);
}

namespace {
// Waits until this thread's queue has work, or until `until` (and at most a short slice, so that
// conditions changed by other threads without a message are seen soon).
void WaitForWork(SteadyClock::time_point until) {
    auto slice = SteadyClock::now() + std::chrono::milliseconds(5);
    if (slice < until)
        until = slice;
    std::unique_lock lk(S().mu);
    auto q = CurrentQueueLocked();
    q->cv.wait_until(lk, until, [&] { return !q->posted.empty() || !q->sent.empty(); });
}
} // namespace

bool PumpUntil(const std::function<bool()>& pred, DWORD realTimeoutMs) {
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(realTimeoutMs);
    for (;;) {
        PumpMessages();
        if (pred())
            return true;
        if (SteadyClock::now() >= deadline)
            return false;
        WaitForWork(deadline);
    }
}

int PumpUntilIdle(DWORD quietRealMs, DWORD realTimeoutMs) {
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(realTimeoutMs);
    auto quietUntil = SteadyClock::now() + std::chrono::milliseconds(quietRealMs);
    int total = 0;
    for (;;) {
        int n = PumpMessages();
        auto now = SteadyClock::now();
        if (n > 0) {
            total += n;
            quietUntil = now + std::chrono::milliseconds(quietRealMs);
        }
        if (now >= quietUntil || now >= deadline)
            return total;
        WaitForWork(std::min(quietUntil, deadline));
    }
}

int LiveWindowCount() {
    std::lock_guard lk(S().mu);
    return static_cast<int>(S().windows.size());
}

int DeviceNotificationCount(HWND hwnd) {
    std::lock_guard lk(S().mu);
    return static_cast<int>(std::count_if(S().notifications.begin(), S().notifications.end(), [&](auto& kv) {
        return kv.second.hwnd == reinterpret_cast<uintptr_t>(hwnd);
    }));
}

int TimerCount(HWND hwnd) {
    std::lock_guard lk(S().mu);
    return static_cast<int>(std::count_if(S().timers.begin(), S().timers.end(), [&](auto& kv) {
        return kv.first.first == reinterpret_cast<uintptr_t>(hwnd);
    }));
}

} // namespace test
} // namespace win
