#include "ibx/IBAttachAttempt.h"

#include <utility>

namespace ibx {

TIBAttachAttempt::TIBAttachAttempt(const TIBDatabase& db, std::function<void()> done) : request_(db.PrepareAttach()) {
    thread_ = std::thread([this, done = std::move(done)] {
        unsigned int handle = 0;
        std::exception_ptr error;
        try {
            handle = TIBDatabase::Attach(request_);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            handle_ = handle;
            error_ = error;
            finished_ = true;
        }
        if (done)
            done();
    });
}

TIBAttachAttempt::~TIBAttachAttempt() {
    thread_.join();
    if (handle_)
        TIBDatabase::Detach(handle_);
}

bool TIBAttachAttempt::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void TIBAttachAttempt::Complete(TIBDatabase& db) {
    std::lock_guard lock(mutex_);
    if (!finished_)
        throw EIBClientError("The attach has not finished yet");
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
    if (!handle_)
        throw EIBClientError("The attachment was already taken");
    db.Adopt(handle_, request_.Utf8);
    handle_ = 0;
}

} // namespace ibx
