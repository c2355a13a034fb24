// One unit of database work in a transaction: started on construction (or joined, when a query
// of it has already started it), ended by Commit(). Leaving the scope any other way (an exception
// on the way) rolls it back, so a failed read or delete never leaves the transaction active and
// the next one can start.
#pragma once

#include "ibx/IBDatabase.h"

// Rolls the transaction back when it is active. A failure to do so is swallowed: the error that
// led here, or the dialog going away, is what counts.
inline void RollbackQuietly(ibx::TIBTransaction& tr) noexcept {
    try {
        if (tr.InTransaction())
            tr.Rollback();
    } catch (...) {
    }
}

class TTransactionGuard {
public:
    explicit TTransactionGuard(ibx::TIBTransaction& tr) : tr_(tr) {
        if (!tr_.InTransaction())
            tr_.StartTransaction();
    }
    ~TTransactionGuard() { RollbackQuietly(tr_); }
    TTransactionGuard(const TTransactionGuard&) = delete;
    TTransactionGuard& operator=(const TTransactionGuard&) = delete;

    void Commit() { tr_.Commit(); }

private:
    ibx::TIBTransaction& tr_;
};
