// An attach made on a thread of its own, so that a server that does not answer holds up no
// window while the client waits for it: started with a database component's name and
// parameters, finished on the component's own thread by handing it the new attachment.
#pragma once

#include "ibx/IBDatabase.h"

#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace ibx {

class TIBAttachAttempt {
public:
    // `done` runs on the attempt's thread once it has ended, whether it attached or not.
    // Throws at once when the component's settings cannot make a request.
    TIBAttachAttempt(const TIBDatabase& db, std::function<void()> done);
    // Waits for the attempt (at most the connect time-out) and gives back an attachment
    // nobody took.
    ~TIBAttachAttempt();
    TIBAttachAttempt(const TIBAttachAttempt&) = delete;
    TIBAttachAttempt& operator=(const TIBAttachAttempt&) = delete;

    bool Finished() const;
    // Hands the attachment to `db`, which must be closed; throws what the attempt met.
    // Call it once, after the attempt has finished.
    void Complete(TIBDatabase& db);

private:
    TIBDatabase::TAttachRequest request_;
    mutable std::mutex mutex_;
    bool finished_ = false;
    unsigned int handle_ = 0;
    std::exception_ptr error_;
    std::thread thread_;
};

} // namespace ibx
