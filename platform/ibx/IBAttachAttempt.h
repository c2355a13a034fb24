// An attach made on a thread of its own, so that a server that does not answer holds up no
// window while the client waits for it: started with a database component's name and
// parameters, finished on the component's own thread by handing it the new attachment.
#pragma once

#include "ibx/IBDatabase.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace ibx {

class TIBAttachAttempt {
public:
    // `done` runs on the attempt's thread once it has ended, whether it attached or not, unless
    // the attempt was destroyed before. Throws at once when the component's settings cannot
    // make a request.
    TIBAttachAttempt(const TIBDatabase& db, std::function<void()> done);
    // Waits for nothing: an attempt still under way ends by itself, and an attachment nobody
    // took is given back.
    ~TIBAttachAttempt();
    TIBAttachAttempt(const TIBAttachAttempt&) = delete;
    TIBAttachAttempt& operator=(const TIBAttachAttempt&) = delete;

    bool Finished() const;
    // Hands the attachment to `db`, which must be closed; throws what the attempt met.
    // Call it once, after the attempt has finished.
    void Complete(TIBDatabase& db);

private:
    struct State {
        std::mutex Mutex;
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
