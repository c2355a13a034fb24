// Connection and transaction components over the Firebird client library.
// A database name is "server:path" for a server or a plain file path, which the
// embedded engine opens in this process without any server.
#pragma once

#include "ibx/IBError.h"
#include "vcl/Classes.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ibx {

class TIBTransaction;
class TIBSideProbe;

// Something whose handles die with the connection (statements, transactions).
class IIBDatabaseClient {
public:
    // The connection is about to close: give back every handle.
    virtual void DatabaseClosing() = 0;
    // The database component itself is going away: forget it.
    virtual void DatabaseFreed() = 0;

protected:
    ~IIBDatabaseClient() = default;
};

// One parameter of a stored procedure as the database declares it.
struct TIBProcParam {
    std::string Name; // upper case
    bool Output = false;
    int Number = 0;
};

class TIBDatabase : public vcl::TComponent {
public:
    explicit TIBDatabase(vcl::TComponent* owner = nullptr);
    ~TIBDatabase() override;

    const std::string& DatabaseName() const { return name_; }
    void SetDatabaseName(std::string name);
    // Connection parameters as "key=value" lines: user_name, password, lc_ctype,
    // sql_role_name. Other keys are refused when the connection opens.
    std::vector<std::string>& Params() { return params_; }
    void SetParams(std::vector<std::string> params);
    int SQLDialect() const { return dialect_; }
    void SetSQLDialect(int dialect);
    bool LoginPrompt() const { return false; }
    void SetLoginPrompt(bool) {}

    // How long an attach to a server may take as a whole, in seconds; 0 leaves the client's
    // own (without end once the server has taken the connection). An attach that overstays
    // it is given up (left to end by itself, what it brings later dropped) and reported as
    // a server that did not answer.
    int ConnectTimeout() const { return connectTimeout_; }
    void SetConnectTimeout(int seconds);
    // How long a call on a server's connection may go without any answer of the server before
    // the connection is cut and the call fails as a lost connection (TIBCallBound); 0: no bound.
    std::chrono::milliseconds CallTimeout() const { return callTimeout_; }
    void SetCallTimeout(std::chrono::milliseconds timeout) { callTimeout_ = timeout; }
    // The program is ending: a call is cut after half a second of silence, and nothing is
    // asked on the side.
    void SetEnding() { ending_ = true; }
    // How many calls the bound has cut so far.
    unsigned long CallsCut() const { return callsCut_.load(); }
    // The database is reached through a server ("host:path"), not opened by the embedded engine.
    bool Remote() const;

    void Open();
    void Close();
    bool Connected() const { return handle_ != 0; }
    // Makes the call under way on this connection fail at once ("operation was cancelled"),
    // from any thread; the connection stays usable. Nothing happens when no call runs.
    void CancelOperation();
    // Cuts the client's side of a connection known lost: every call on it, the one under way
    // included, fails at once without a word to the server. Its handles stay until Close.
    void Cut();
    // Closes a connection known lost without a word to the server: cut first, then every
    // handle is given back locally. Never waits for the server.
    void Abandon();

    // An attach as Open makes it, prepared on the owner's thread and made on any thread, so a
    // server that does not answer holds up only the thread that waits for it.
    struct TAttachRequest {
        std::string Name;
        std::string Dpb;
        bool Utf8 = false;
        int ConnectTimeout = 0;
    };
    TAttachRequest PrepareAttach() const;
    // Returns the new attachment's handle; throws EIBError (saying so when the server did not
    // answer within the connect time-out, which bounds a server's attach as a whole).
    static unsigned int Attach(const TAttachRequest& request);
    // Takes an attachment made from this database's request; the component must be closed.
    void Adopt(unsigned int handle, bool utf8);
    // Gives back an attachment nobody took.
    static void Detach(unsigned int handle);
    // Cuts an attachment's client side (any thread): the call waiting on it returns at once,
    // failing as a lost connection, and so does every later one, without a word to the server.
    static void Cut(unsigned int handle);
    void SetConnected(bool value) { value ? Open() : Close(); }

    // Whether texts travel as UTF-8 (lc_ctype=UTF8) rather than win1251.
    bool Utf8() const { return utf8_; }
    unsigned int* Handle() { return &handle_; }

    // Declared parameters of a stored procedure, read once per connection.
    const std::vector<TIBProcParam>& ProcedureParams(const std::string& procName, TIBTransaction& tr);

    void AddClient(IIBDatabaseClient* c);
    void RemoveClient(IIBDatabaseClient* c);

    // The watchdog cut a call of this connection (any thread).
    void NoteCallCut() { ++callsCut_; }

private:
    friend class TIBCallBound;
    friend class TIBAttachAttempt;
    // The client's attach as it is, which a server that answers only at first holds without end.
    static unsigned int AttachUnbounded(const TAttachRequest& request);
    // The side attachment that tells a busy server from a silent one; made on first need.
    std::shared_ptr<TIBSideProbe> SideProbe();
    void DropSideProbe();
    std::string name_;
    std::vector<std::string> params_;
    int dialect_ = 3;
    unsigned int handle_ = 0;
    bool utf8_ = false;
    int connectTimeout_ = 0;
    std::chrono::milliseconds callTimeout_{0};
    std::atomic<unsigned long> callsCut_{0};
    // The watchdog's token of the outermost bound under way; 0 for none.
    std::uint64_t boundToken_ = 0;
    bool ending_ = false;
    std::shared_ptr<TIBSideProbe> probe_;
    std::vector<IIBDatabaseClient*> clients_;
    std::map<std::string, std::vector<TIBProcParam>> procCache_;
};

// Something that works inside a transaction (statements with open cursors).
class IIBTransactionClient {
public:
    // The transaction ended for good (commit or rollback): its cursors are gone.
    virtual void TransactionEnded() = 0;
    // The transaction component itself is going away: forget it.
    virtual void TransactionFreed() = 0;

protected:
    ~IIBTransactionClient() = default;
};

class TIBTransaction : public vcl::TComponent, private IIBDatabaseClient {
public:
    explicit TIBTransaction(vcl::TComponent* owner = nullptr);
    ~TIBTransaction() override;

    TIBDatabase* DefaultDatabase() const { return db_; }
    void SetDefaultDatabase(TIBDatabase* db);
    // Transaction parameters by name: read_committed, rec_version, no_rec_version,
    // nowait, wait, concurrency, consistency, read, write. The default is the
    // station's: read_committed, rec_version, nowait.
    std::vector<std::string>& Params() { return params_; }
    void SetParams(std::vector<std::string> params) { params_ = std::move(params); }

    void StartTransaction();
    void Commit();
    void CommitRetaining();
    void Rollback();
    void RollbackRetaining();
    bool InTransaction() const { return handle_ != 0; }
    bool Active() const { return InTransaction(); }
    void SetActive(bool value);

    unsigned int* Handle() { return &handle_; }
    // Raises when there is no database or it is not connected.
    TIBDatabase& CheckDatabase() const;

    void AddClient(IIBTransactionClient* c);
    void RemoveClient(IIBTransactionClient* c);

private:
    void DatabaseClosing() override;
    void DatabaseFreed() override { db_ = nullptr; }
    void CheckActive(const char* what) const;
    void Ended();

    TIBDatabase* db_ = nullptr;
    std::vector<std::string> params_{"read_committed", "rec_version", "nowait"};
    unsigned int handle_ = 0;
    std::vector<IIBTransactionClient*> clients_;
};

// Makes the embedded engine usable by the current user without a server: when
// FIREBIRD_LOCK is unset and the shared lock folder cannot be used, a private one
// is chosen. Runs once; every connection and database creation calls it first.
void PrepareClientEnvironment();

} // namespace ibx
