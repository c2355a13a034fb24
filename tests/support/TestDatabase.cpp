#include "TestDatabase.h"

#include "Bytes.h"

#include "ibx/IBScript.h"

#include <cstdlib>
#include <filesystem>
#include <functional>

#include <unistd.h>

namespace fs = std::filesystem;

namespace tavlin::test {

namespace {

// Building a database from the script takes a good part of a second; a template
// per schema text is built once and copied for every suite.
std::string TemplateFor(const std::string& schemaPath) {
    const std::string text = tavtest::ReadFile(schemaPath);
    if (text.empty())
        throw std::runtime_error("Cannot read " + schemaPath);
    const fs::path dir = fs::temp_directory_path() / ("tavlin-test-schema-" + std::to_string(getuid()));
    fs::create_directories(dir);
    const fs::path file = dir / (std::to_string(std::hash<std::string>{}(text)) + ".fdb");
    if (!fs::exists(file)) {
        const fs::path tmp = dir / ("build-" + std::to_string(getpid()) + ".fdb");
        fs::remove(tmp);
        ibx::CreateDatabaseFromScript(tmp.string(), schemaPath, "SYSDBA", "", false);
        fs::rename(tmp, file); // atomic, so a parallel suite never copies a half-built file
    }
    return file.string();
}

} // namespace

std::string TestDatabase::SchemaPath() {
    const char* env = std::getenv("TAVLIN_SOURCE_DIR");
    const std::string root = env && *env ? env : TAVLIN_SOURCE_DIR;
    return root + "/db/schema.sql";
}

TestDatabase::TestDatabase(const std::string& schemaPath) {
    char pattern[] = "/tmp/tavlin-db-XXXXXX";
    const char* d = mkdtemp(pattern);
    if (!d)
        throw std::runtime_error("Cannot create a temporary folder");
    dir_ = d;
    path_ = dir_ + "/test.fdb";
    fs::copy_file(TemplateFor(schemaPath), path_);
}

TestDatabase::~TestDatabase() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::unique_ptr<ibx::TIBDatabase> TestDatabase::Connect() const {
    auto db = std::make_unique<ibx::TIBDatabase>();
    db->SetDatabaseName(path_);
    db->SetParams({"user_name=SYSDBA", "password=", "lc_ctype=UTF8"});
    db->Open();
    return db;
}

TestDatabase* DatabaseSuite::db_ = nullptr;
ibx::TIBDatabase* DatabaseSuite::conn_ = nullptr;
ibx::TIBTransaction* DatabaseSuite::tr_ = nullptr;
std::map<std::string, std::unique_ptr<ibx::TIBStoredProc>> DatabaseSuite::procs_;

void DatabaseSuite::SetUpTestSuite() {
    db_ = new TestDatabase();
    conn_ = db_->Connect().release();
    tr_ = new ibx::TIBTransaction();
    tr_->SetDefaultDatabase(conn_);
    tr_->StartTransaction();
}

void DatabaseSuite::TearDownTestSuite() {
    procs_.clear();
    delete tr_;
    delete conn_;
    delete db_;
    tr_ = nullptr;
    conn_ = nullptr;
    db_ = nullptr;
}

void DatabaseSuite::TearDown() {
    // A failed test must not leave the next one inside its half-done work.
    if (tr_ && tr_->InTransaction())
        tr_->Rollback();
    if (tr_)
        tr_->StartTransaction();
}

void ExecCommitted(ibx::TIBTransaction& tr, const std::string& sql) {
    ibx::TIBQuery q;
    q.SetTransaction(&tr);
    q.SetSQL(sql);
    q.ExecSQL();
    tr.CommitRetaining();
}

void DatabaseSuite::Exec(const std::string& sql) {
    ExecCommitted(*tr_, sql);
}

ibx::TValue DatabaseSuite::Scalar(const std::string& sql) {
    ibx::TIBQuery q;
    q.SetTransaction(tr_);
    q.SetSQL(sql);
    q.Open();
    return q.Eof() ? ibx::TValue() : q.Fields(0).Value();
}

ibx::TIBStoredProc& DatabaseSuite::Call(const std::string& name,
                                        std::initializer_list<std::pair<const char*, ibx::TValue>> args) {
    auto& sp = procs_[name];
    if (!sp) {
        sp = std::make_unique<ibx::TIBStoredProc>();
        sp->SetTransaction(tr_);
        sp->SetStoredProcName(name);
    }
    for (int i = 0; i < sp->ParamCount(); ++i)
        if (!sp->Params(i).Output())
            sp->Params(i).Clear();
    for (const auto& [n, v] : args)
        sp->ParamByName(n).SetValue(v);
    sp->ExecProc();
    tr_->CommitRetaining();
    return *sp;
}

} // namespace tavlin::test
