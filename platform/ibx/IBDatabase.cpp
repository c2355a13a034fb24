#include "ibx/IBDatabase.h"

#include "ibx/IBAttachAttempt.h"
#include "ibx/IBCallBound.h"
#include "ibx/IBSQL.h"

#include <ibase.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>

static_assert(std::is_same_v<FB_API_HANDLE, unsigned int>, "handles are kept as unsigned int");

namespace ibx {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string TrimCopy(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

void AddDpbInt(std::string& dpb, char tag, int value) {
    dpb += tag;
    dpb += static_cast<char>(4);
    dpb.append(reinterpret_cast<const char*>(&value), 4);
}

void AddDpbString(std::string& dpb, char tag, const std::string& value) {
    if (value.size() > 255)
        throw EIBClientError("Connection parameter is too long");
    dpb += tag;
    dpb += static_cast<char>(value.size());
    dpb += value;
}

// "host:path", "host/port:path" or "inet://host/path"; a local file name starts with '/'.
bool IsRemoteName(const std::string& name) {
    return !name.empty() && name.front() != '/' && name.find(':') != std::string::npos;
}

bool UsableDir(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && access(dir.c_str(), R_OK | W_OK | X_OK) == 0;
}

bool UsableLockDir(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0)
        return access("/tmp", W_OK | X_OK) == 0; // the engine will create it for us
    if (!UsableDir(dir))
        return false;
    // The engine's files inside must be writable too (they may belong to another user).
    for (const char* f : {"/fb_init", "/fb_rename_guard"}) {
        const std::string p = dir + f;
        if (access(p.c_str(), F_OK) == 0 && access(p.c_str(), R_OK | W_OK) != 0)
            return false;
    }
    return true;
}

} // namespace

void PrepareClientEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The client library reads file names in the locale's code page. A process that never
        // chose one runs in "C", which knows no character above 127, and a database path with
        // one could not be opened: file names here are UTF-8.
        const char* ctype = std::setlocale(LC_CTYPE, nullptr);
        if (!ctype || std::strcmp(ctype, "C") == 0 || std::strcmp(ctype, "POSIX") == 0)
            std::setlocale(LC_CTYPE, "C.UTF-8");
        const char* lock = std::getenv("FIREBIRD_LOCK");
        if (lock && *lock)
            return;
        if (UsableLockDir("/tmp/firebird"))
            return;
        // The shared lock folder belongs to someone else: keep a private one, so the
        // embedded engine works for this user without a server or root rights.
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string base = runtime && *runtime && UsableDir(runtime) ? std::string(runtime) : std::string("/tmp");
        const std::string dir = base + "/tavlin-firebird-" + std::to_string(getuid());
        mkdir(dir.c_str(), 0700);
        setenv("FIREBIRD_LOCK", dir.c_str(), 1);
    });
}

// ---------------------------------------------------------------- TIBDatabase

TIBDatabase::TIBDatabase(vcl::TComponent* owner) : vcl::TComponent(owner) {}

TIBDatabase::~TIBDatabase() {
    try {
        Close();
    } catch (...) {
        // A failing detach at destruction has nobody left to tell.
    }
    const auto clients = clients_;
    for (IIBDatabaseClient* c : clients)
        c->DatabaseFreed();
}

void TIBDatabase::SetDatabaseName(std::string name) {
    if (Connected())
        throw EIBClientError("Cannot change the database name while connected");
    name_ = std::move(name);
}

void TIBDatabase::SetParams(std::vector<std::string> params) {
    if (Connected())
        throw EIBClientError("Cannot change the connection parameters while connected");
    params_ = std::move(params);
}

void TIBDatabase::SetSQLDialect(int dialect) {
    if (dialect < 1 || dialect > 3)
        throw EIBClientError("SQL dialect must be 1, 2 or 3");
    dialect_ = dialect;
}

void TIBDatabase::SetConnectTimeout(int seconds) {
    if (seconds < 0 || seconds > 3600)
        throw EIBClientError("The connect time-out must be 0 to 3600 seconds");
    connectTimeout_ = seconds;
}

bool TIBDatabase::Remote() const {
    return IsRemoteName(name_);
}

TIBDatabase::TAttachRequest TIBDatabase::PrepareAttach() const {
    if (name_.empty())
        throw EIBClientError("Database name is missing");
    TAttachRequest r;
    r.Dpb += static_cast<char>(isc_dpb_version1);
    for (const std::string& line : params_) {
        const auto eq = line.find('=');
        const std::string key = Lower(TrimCopy(line.substr(0, eq)));
        const std::string value = eq == std::string::npos ? std::string() : TrimCopy(line.substr(eq + 1));
        if (key.empty())
            continue;
        if (key == "user_name")
            AddDpbString(r.Dpb, isc_dpb_user_name, value);
        else if (key == "password")
            AddDpbString(r.Dpb, isc_dpb_password, value);
        else if (key == "lc_ctype") {
            AddDpbString(r.Dpb, isc_dpb_lc_ctype, value);
            r.Utf8 = Lower(value) == "utf8";
        } else if (key == "sql_role_name")
            AddDpbString(r.Dpb, isc_dpb_sql_role_name, value);
        else
            throw EIBClientError("Unknown connection parameter: " + key);
    }
    AddDpbInt(r.Dpb, isc_dpb_sql_dialect, dialect_);
    if (connectTimeout_ > 0)
        AddDpbInt(r.Dpb, isc_dpb_connect_timeout, connectTimeout_);
    r.ConnectTimeout = connectTimeout_;
    // The name goes as it is: file names are UTF-8 bytes on this system. (Flagging it as
    // UTF-8 would make the engine convert it to the locale's code page, which fails in a
    // process that never set its locale.)
    r.Name = name_;
    return r;
}

namespace {

std::string ServerOf(const std::string& name) {
    return name.substr(0, name.find(':'));
}

EIBError NoAnswerWithin(const std::string& name, int seconds, const EIBError* cause) {
    std::string text =
        "The database server " + ServerOf(name) + " did not answer within " + std::to_string(seconds) + " seconds.";
    if (cause)
        return EIBError(text + "\n" + cause->what(), cause->SQLCode(), cause->IBErrorCode(), cause->GDSCodes(),
                        cause->ExceptionName());
    return EIBError(text, -902, isc_network_error, {isc_network_error});
}

} // namespace

unsigned int TIBDatabase::AttachUnbounded(const TAttachRequest& request) {
    PrepareClientEnvironment();
    ISC_STATUS_ARRAY status{};
    isc_db_handle h = 0;
    const auto started = std::chrono::steady_clock::now();
    isc_attach_database(status, static_cast<short>(request.Name.size()), request.Name.c_str(), &h,
                        static_cast<short>(request.Dpb.size()), request.Dpb.data());
    try {
        CheckStatus(status, request.Utf8);
    } catch (const EIBError& e) {
        // The client says only that the connection was refused; it was the time that ran out.
        const auto waited = std::chrono::steady_clock::now() - started;
        if (request.ConnectTimeout > 0 && e.HasGDSCode(isc_connect_reject) &&
            waited >= std::chrono::seconds(request.ConnectTimeout) - std::chrono::milliseconds(500))
            throw NoAnswerWithin(request.Name, request.ConnectTimeout, &e);
        throw;
    }
    return h;
}

unsigned int TIBDatabase::Attach(const TAttachRequest& request) {
    // The client's own connect time-out ends with the server's first answer; a server that
    // answers that and then nothing would hold the attach without end.
    if (request.ConnectTimeout <= 0 || !IsRemoteName(request.Name))
        return AttachUnbounded(request);
    TIBAttachAttempt attempt(request, nullptr);
    if (!attempt.Wait(std::chrono::seconds(request.ConnectTimeout)))
        throw NoAnswerWithin(request.Name, request.ConnectTimeout, nullptr);
    return attempt.Take();
}

void TIBDatabase::Adopt(unsigned int handle, bool utf8) {
    if (Connected())
        throw EIBClientError("The database is already connected");
    handle_ = handle;
    utf8_ = utf8;
}

void TIBDatabase::Detach(unsigned int handle) {
    ISC_STATUS_ARRAY status{};
    isc_db_handle h = handle;
    isc_detach_database(status, &h);
}

void TIBDatabase::Open() {
    if (Connected())
        return;
    const TAttachRequest request = PrepareAttach();
    Adopt(Attach(request), request.Utf8);
}

void TIBDatabase::Close() {
    if (!Connected())
        return;
    TIBCallBound bound(this);
    // Statements and transactions give their handles back before the detach.
    const auto clients = clients_;
    for (IIBDatabaseClient* c : clients)
        c->DatabaseClosing();
    procCache_.clear();
    ISC_STATUS_ARRAY status{};
    isc_detach_database(status, &handle_);
    handle_ = 0;
    DropSideProbe();
    CheckStatus(status, utf8_);
}

void TIBDatabase::Cut(unsigned int handle) {
    ISC_STATUS_ARRAY status{};
    isc_db_handle h = handle;
    fb_cancel_operation(status, &h, fb_cancel_abort);
}

void TIBDatabase::Cut() {
    if (!Connected() || !Remote())
        return;
    DropSideProbe();
    Cut(handle_);
}

void TIBDatabase::Abandon() {
    if (!Connected())
        return;
    Cut();
    // Cut, every call below fails at once on the client's side and frees its handle.
    try {
        Close();
    } catch (const EIBError&) {
    }
    handle_ = 0;
}

std::shared_ptr<TIBSideProbe> TIBDatabase::SideProbe() {
    if (!probe_ && Connected() && Remote())
        probe_ = std::make_shared<TIBSideProbe>(PrepareAttach());
    return probe_;
}

void TIBDatabase::DropSideProbe() {
    if (probe_)
        probe_->Drop();
    probe_.reset();
}

void TIBDatabase::CancelOperation() {
    isc_db_handle h = handle_;
    if (!h)
        return;
    ISC_STATUS_ARRAY status{};
    fb_cancel_operation(status, &h, fb_cancel_raise);
}

void TIBDatabase::AddClient(IIBDatabaseClient* c) {
    if (std::find(clients_.begin(), clients_.end(), c) == clients_.end())
        clients_.push_back(c);
}

void TIBDatabase::RemoveClient(IIBDatabaseClient* c) {
    std::erase(clients_, c);
}

const std::vector<TIBProcParam>& TIBDatabase::ProcedureParams(const std::string& procName, TIBTransaction& tr) {
    auto it = procCache_.find(procName);
    if (it != procCache_.end())
        return it->second;
    TIBSQL q;
    q.SetDatabase(this);
    q.SetTransaction(&tr);
    q.SetSQL("select rdb$parameter_name, rdb$parameter_type, rdb$parameter_number from rdb$procedure_parameters "
             "where rdb$procedure_name = :name and rdb$package_name is null "
             "order by rdb$parameter_type, rdb$parameter_number");
    q.ParamByName("name").SetAsString(procName);
    std::vector<TIBProcParam> list;
    for (q.ExecQuery(); !q.Eof(); q.Next()) {
        TIBProcParam p;
        p.Name = TrimCopy(q.Fields(0).AsString());
        p.Output = q.Fields(1).AsInteger() == 1;
        p.Number = q.Fields(2).AsInteger();
        list.push_back(std::move(p));
    }
    q.Close();
    return procCache_.emplace(procName, std::move(list)).first->second;
}

// ------------------------------------------------------------- TIBTransaction

TIBTransaction::TIBTransaction(vcl::TComponent* owner) : vcl::TComponent(owner) {}

TIBTransaction::~TIBTransaction() {
    if (InTransaction()) {
        ISC_STATUS_ARRAY status{};
        isc_rollback_transaction(status, &handle_);
        Ended();
    }
    if (db_)
        db_->RemoveClient(this);
    const auto clients = clients_;
    for (IIBTransactionClient* c : clients)
        c->TransactionFreed();
}

void TIBTransaction::AddClient(IIBTransactionClient* c) {
    if (std::find(clients_.begin(), clients_.end(), c) == clients_.end())
        clients_.push_back(c);
}

void TIBTransaction::RemoveClient(IIBTransactionClient* c) {
    std::erase(clients_, c);
}

void TIBTransaction::Ended() {
    const auto clients = clients_;
    for (IIBTransactionClient* c : clients)
        c->TransactionEnded();
}

void TIBTransaction::SetDefaultDatabase(TIBDatabase* db) {
    if (db == db_)
        return;
    if (InTransaction())
        throw EIBClientError("Cannot change the database of an active transaction");
    if (db_)
        db_->RemoveClient(this);
    db_ = db;
    if (db_)
        db_->AddClient(this);
}

TIBDatabase& TIBTransaction::CheckDatabase() const {
    if (!db_)
        throw EIBClientError("Transaction has no database");
    if (!db_->Connected())
        throw EIBClientError("Database is not connected");
    return *db_;
}

void TIBTransaction::CheckActive(const char* what) const {
    if (!InTransaction())
        throw EIBClientError(std::string("Transaction is not active (") + what + ")");
}

void TIBTransaction::StartTransaction() {
    if (InTransaction())
        throw EIBClientError("Transaction is already active");
    TIBDatabase& db = CheckDatabase();
    TIBCallBound bound(&db);
    std::string tpb;
    tpb += static_cast<char>(isc_tpb_version3);
    bool hasAccess = false;
    for (const std::string& p : params_) {
        const std::string key = Lower(TrimCopy(p));
        if (key.empty())
            continue;
        char tag;
        if (key == "read_committed")
            tag = isc_tpb_read_committed;
        else if (key == "rec_version")
            tag = isc_tpb_rec_version;
        else if (key == "no_rec_version")
            tag = isc_tpb_no_rec_version;
        else if (key == "nowait")
            tag = isc_tpb_nowait;
        else if (key == "wait")
            tag = isc_tpb_wait;
        else if (key == "concurrency")
            tag = isc_tpb_concurrency;
        else if (key == "consistency")
            tag = isc_tpb_consistency;
        else if (key == "read")
            tag = isc_tpb_read, hasAccess = true;
        else if (key == "write")
            tag = isc_tpb_write, hasAccess = true;
        else
            throw EIBClientError("Unknown transaction parameter: " + key);
        tpb += tag;
    }
    if (!hasAccess)
        tpb += static_cast<char>(isc_tpb_write);
    ISC_STATUS_ARRAY status{};
    isc_tr_handle h = 0;
    isc_start_transaction(status, &h, 1, db.Handle(), static_cast<unsigned short>(tpb.size()), tpb.data());
    CheckStatus(status, db.Utf8());
    handle_ = h;
}

void TIBTransaction::Commit() {
    CheckActive("commit");
    TIBCallBound bound(db_);
    ISC_STATUS_ARRAY status{};
    isc_commit_transaction(status, &handle_);
    CheckStatus(status, db_ && db_->Utf8());
    handle_ = 0;
    Ended();
}

void TIBTransaction::CommitRetaining() {
    CheckActive("commit retaining");
    TIBCallBound bound(db_);
    ISC_STATUS_ARRAY status{};
    isc_commit_retaining(status, &handle_);
    CheckStatus(status, db_ && db_->Utf8());
}

void TIBTransaction::Rollback() {
    CheckActive("rollback");
    TIBCallBound bound(db_);
    ISC_STATUS_ARRAY status{};
    isc_rollback_transaction(status, &handle_);
    handle_ = 0; // even a failed rollback leaves nothing to continue
    Ended();
    CheckStatus(status, db_ && db_->Utf8());
}

void TIBTransaction::RollbackRetaining() {
    CheckActive("rollback retaining");
    TIBCallBound bound(db_);
    ISC_STATUS_ARRAY status{};
    isc_rollback_retaining(status, &handle_);
    CheckStatus(status, db_ && db_->Utf8());
}

void TIBTransaction::SetActive(bool value) {
    if (value && !InTransaction())
        StartTransaction();
    else if (!value && InTransaction())
        Rollback();
}

void TIBTransaction::DatabaseClosing() {
    if (InTransaction()) {
        TIBCallBound bound(db_);
        // Work not committed before the connection closes is not kept.
        ISC_STATUS_ARRAY status{};
        isc_rollback_transaction(status, &handle_);
        handle_ = 0;
        Ended();
    }
}

} // namespace ibx
