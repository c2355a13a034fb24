// Database tests run on the embedded engine against a fresh file made from
// db/schema.sql, in its own temporary folder that goes away with the object.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace tavlin::test {

class TestDatabase {
public:
    // A database made from that schema script (db/schema.sql unless given).
    explicit TestDatabase(const std::string& schemaPath = SchemaPath());
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return dir_; }
    // A new connection (user SYSDBA, UTF8), open.
    std::unique_ptr<ibx::TIBDatabase> Connect() const;

    // db/schema.sql of the source tree ($TAVLIN_SOURCE_DIR, else the build's source folder).
    static std::string SchemaPath();

private:
    std::string dir_;
    std::string path_;
};

// Runs a statement without rows on the transaction and commits it (retaining).
void ExecCommitted(ibx::TIBTransaction& tr, const std::string& sql);

// One database per test suite, with one open connection and one station-style
// transaction (read_committed, rec_version, nowait) shared by the suite's tests.
class DatabaseSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void TearDown() override;

    static TestDatabase* db_;
    static ibx::TIBDatabase* conn_;
    static ibx::TIBTransaction* tr_;

    // Runs a statement without rows and commits (retaining).
    static void Exec(const std::string& sql);
    // The first column of the first row, NULL when there is no row.
    static ibx::TValue Scalar(const std::string& sql);
    // Runs a stored procedure with the given inputs (the others NULL) and commits (retaining);
    // the procedure stays prepared for the rest of the suite, its outputs readable.
    static ibx::TIBStoredProc& Call(const std::string& name,
                                    std::initializer_list<std::pair<const char*, ibx::TValue>> args);

private:
    static std::map<std::string, std::unique_ptr<ibx::TIBStoredProc>> procs_;
};

} // namespace tavlin::test
