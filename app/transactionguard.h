// One unit of database work in a transaction of its own: started on construction,
// ended by Commit(). Leaving the scope any other way (an exception on the way)
// rolls it back, so a failed read or delete never leaves the transaction active and
// the next one can start.
#pragma once

#include "ibx/IBDatabase.h"

class TTransactionGuard {
public:
    explicit TTransactionGuard(ibx::TIBTransaction& tr) : tr_(tr) { tr_.StartTransaction(); }
    ~TTransactionGuard() {
        if (!tr_.InTransaction())
            return;
        try {
            tr_.Rollback();
        } catch (...) {
            // The error that brought us here is the one the user sees.
        }
    }
    TTransactionGuard(const TTransactionGuard&) = delete;
    TTransactionGuard& operator=(const TTransactionGuard&) = delete;

    void Commit() { tr_.Commit(); }

private:
    ibx::TIBTransaction& tr_;
};
