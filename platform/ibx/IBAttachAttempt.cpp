#include "ibx/IBAttachAttempt.h"

#include <thread>
#include <utility>

namespace ibx {

TIBAttachAttempt::TIBAttachAttempt(const TIBDatabase& db, std::function<void()> done)
    : TIBAttachAttempt(db.PrepareAttach(), std::move(done)) {}

TIBAttachAttempt::TIBAttachAttempt(TIBDatabase::TAttachRequest request, std::function<void()> done)
    : request_(std::move(request)), state_(std::make_shared<State>()) {
    state_->Done = std::move(done);
    std::thread([state = state_, request = request_] {
        unsigned int handle = 0;
        std::exception_ptr error;
        try {
            handle = TIBDatabase::AttachUnbounded(request);
        } catch (...) {
            error = std::current_exception();
        }
        std::unique_lock lock(state->Mutex);
        if (state->Abandoned) {
            // Nobody waits for it any more; what it brought is given back.
            lock.unlock();
            if (handle)
                TIBDatabase::Detach(handle);
            return;
        }
        state->Handle = handle;
        state->Error = error;
        state->Finished = true;
        state->Ended.notify_all();
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

bool TIBAttachAttempt::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->Mutex);
    return state_->Ended.wait_for(lock, timeout, [this] { return state_->Finished; });
}

unsigned int TIBAttachAttempt::Take() {
    std::lock_guard lock(state_->Mutex);
    if (!state_->Finished)
        throw EIBClientError("The attach has not finished yet");
    if (state_->Error)
        std::rethrow_exception(std::exchange(state_->Error, nullptr));
    if (!state_->Handle)
        throw EIBClientError("The attachment was already taken");
    return std::exchange(state_->Handle, 0);
}

void TIBAttachAttempt::Complete(TIBDatabase& db) {
    db.Adopt(Take(), request_.Utf8);
}

} // namespace ibx
