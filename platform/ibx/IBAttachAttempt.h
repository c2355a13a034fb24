// An attach made on a thread of its own, so that a server that does not answer holds up only
// that thread: started with a database component's name and parameters, then either waited for
// or finished on the component's own thread by handing it the new attachment. Whoever stops
// waiting lets it go: an attempt still under way ends by itself, and what it brings is given back.
#pragma once

#include "ibx/IBDatabase.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace ibx {

class TIBAttachAttempt {
public:
    // `done` runs on the attempt's thread once it has ended, whether it attached or not, unless
    // the attempt was destroyed before. The client's attach is made as it is: the caller bounds
    // how long it waits. Throws at once when the component's settings cannot make a request.
    TIBAttachAttempt(const TIBDatabase& db, std::function<void()> done);
    TIBAttachAttempt(TIBDatabase::TAttachRequest request, std::function<void()> done);
    // Waits for nothing.
    ~TIBAttachAttempt();
    TIBAttachAttempt(const TIBAttachAttempt&) = delete;
    TIBAttachAttempt& operator=(const TIBAttachAttempt&) = delete;

    bool Finished() const;
    // Waits at most `timeout` for the attempt to end; whether it has.
    bool Wait(std::chrono::milliseconds timeout);
    // The new attachment's handle, once; throws what the attempt met. Call it after it ended.
    unsigned int Take();
    // Hands the attachment to `db`, which must be closed; throws what the attempt met.
    // Call it once, after the attempt has finished.
    void Complete(TIBDatabase& db);

private:
    struct State {
        std::mutex Mutex;
        std::condition_variable Ended;
        bool Finished = false;
        bool Abandoned = false;
        unsigned int Handle = 0;
        std::exception_ptr Error;
        std::function<void()> Done;
    };
    TIBDatabase::TAttachRequest request_;
    std::shared_ptr<State> state_;
};

} // namespace ibx
