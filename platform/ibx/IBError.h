// The one exception class of the data-access layer. Its message keeps every line
// the database reported (one per line), and it carries the codes callers test.
#pragma once

#include "vcl/SysUtils.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace ibx {

class EIBError : public vcl::Exception {
public:
    EIBError(const std::string& message, int sqlCode, long ibErrorCode, std::vector<long> gdsCodes = {},
             std::string exceptionName = {})
        : vcl::Exception(message), sqlCode_(sqlCode), ibErrorCode_(ibErrorCode), gdsCodes_(std::move(gdsCodes)),
          exceptionName_(std::move(exceptionName)) {}

    // The SQLCODE of the failure (for example -836 for a user exception); 0 for a client-side error.
    int SQLCode() const { return sqlCode_; }
    // The first status code of the vector (335544517 for a user exception); 0 for a client-side error.
    long IBErrorCode() const { return ibErrorCode_; }
    // Every status code of the vector, in order.
    const std::vector<long>& GDSCodes() const { return gdsCodes_; }
    bool HasGDSCode(long code) const;
    // The database refused a text holding a character its column or parameter cannot
    // hold (a column of a one-byte code page reached through a UTF8 connection).
    bool CannotTransliterate() const { return HasGDSCode(335544565L); } // isc_transliteration_failed
    // The name of the database exception raised by a procedure or trigger, upper case
    // as the database stores it ("E_CAMPAIGNS_BUSY"); empty for any other error.
    const std::string& ExceptionName() const { return exceptionName_; }
    // The connection itself is gone (the network, the server or its shutdown): nothing sent
    // on it any more gets an answer, and only attaching again helps.
    bool ConnectionLost() const;
    // Another transaction's uncommitted change was in the way (lock conflict, deadlock, update
    // conflict; the station's transactions do not wait): tried again later, it goes through.
    bool PassingConflict() const;

private:
    int sqlCode_;
    long ibErrorCode_;
    std::vector<long> gdsCodes_;
    std::string exceptionName_;
};

// A misuse of the layer itself (no connection, unknown parameter name, …).
class EIBClientError : public EIBError {
public:
    explicit EIBClientError(const std::string& message) : EIBError(message, 0, 0) {}
};

// Whether `e` is an EIBError that says the connection is gone.
bool IsConnectionLost(const std::exception& e);
// Whether `e` is an EIBError that met another transaction's change.
bool IsPassingConflict(const std::exception& e);

// Raises EIBError from a status vector when it holds an error. `utf8Connection`
// tells how the database's texts (exception messages) are encoded.
void CheckStatus(const intptr_t* status, bool utf8Connection = false);

} // namespace ibx
