#include "ibx/IBAttachAttempt.h"

#include <thread>
#include <utility>

namespace ibx {

TIBAttachAttempt::TIBAttachAttempt(const TIBDatabase& db, std::function<void()> done)
    : request_(db.PrepareAttach()), state_(std::make_shared<State>()) {
    state_->Done = std::move(done);
    std::thread([state = state_, request = request_] {
        unsigned int handle = 0;
        std::exception_ptr error;
        try {
            handle = TIBDatabase::Attach(request);
        } catch (...) {
            error = std::current_exception();
        }
        std::unique_lock lock(state->Mutex);
        if (state->Abandoned) {
            lock.unlock();
            if (handle)
                TIBDatabase::Detach(handle);
            return;
        }
        state->Handle = handle;
        state->Error = error;
        state->Finished = true;
        // Under the lock: once the owner has let go, it is never called.
        if (state->Done)
            state->Done();
    }).detach();
}

TIBAttachAttempt::~TIBAttachAttempt() {
    unsigned int handle = 0;
    {
        std::lock_guard lock(state_->Mutex);
        state_->Abandoned = true;
        state_->Done = nullptr;
        handle = std::exchange(state_->Handle, 0);
    }
    // Given back off the owner's thread: the server may have gone silent since.
    if (handle)
        std::thread([handle] { TIBDatabase::Detach(handle); }).detach();
}

bool TIBAttachAttempt::Finished() const {
    std::lock_guard lock(state_->Mutex);
    return state_->Finished;
}

void TIBAttachAttempt::Complete(TIBDatabase& db) {
    std::lock_guard lock(state_->Mutex);
    if (!state_->Finished)
        throw EIBClientError("The attach has not finished yet");
    if (state_->Error)
        std::rethrow_exception(std::exchange(state_->Error, nullptr));
    if (!state_->Handle)
        throw EIBClientError("The attachment was already taken");
    db.Adopt(state_->Handle, request_.Utf8);
    state_->Handle = 0;
}

} // namespace ibx
