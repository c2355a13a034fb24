// A prepared SQL statement: ":name" parameters (the same name may appear more
// than once; "?" gives an unnamed one), fields by name, NULLs, blobs of any size.
// It reads forward only; TIBQuery buffers rows on top of it.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBValue.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ibx {

// One parameter or field. Fields are read-only views of the current row.
class TIBXSQLVAR {
public:
    TIBXSQLVAR() = default;
    explicit TIBXSQLVAR(std::string name, bool output = false) : name_(std::move(name)), output_(output) {}

    const std::string& Name() const { return name_; }
    // For stored-procedure parameters: true for an output.
    bool Output() const { return output_; }

    const TValue& Value() const { return value_; }
    bool IsNull() const { return value_.IsNull(); }
    int AsInteger() const { return value_.AsInteger(); }
    std::int64_t AsInt64() const { return value_.AsInt64(); }
    double AsDouble() const { return value_.AsDouble(); }
    std::string AsString() const { return value_.AsString(); }
    std::u16string AsWideString() const { return value_.AsWideString(); }
    TBytes AsBytes() const { return value_.AsBytes(); }
    TDate AsDate() const { return value_.AsDate(); }
    TTime AsTime() const { return value_.AsTime(); }
    TDateTime AsDateTime() const { return value_.AsDateTime(); }

    void SetValue(TValue v) { value_ = std::move(v); }
    void Clear() { value_ = TValue(); }
    void SetAsInteger(std::int64_t v) { value_ = TValue(v); }
    void SetAsDouble(double v) { value_ = TValue(v); }
    void SetAsString(std::string v) { value_ = TValue(std::move(v)); }
    void SetAsWideString(std::u16string_view v) { value_ = TValue(v); }
    void SetAsBytes(TBytes v) { value_ = TValue(std::move(v)); }
    void SetAsDate(TDate v) { value_ = TValue(v); }
    void SetAsTime(TTime v) { value_ = TValue(v); }
    void SetAsDateTime(TDateTime v) { value_ = TValue(v); }
    // Reads a whole file as the (blob) value; raises EIBClientError when it cannot.
    void LoadFromFile(const std::string& path);

private:
    std::string name_;
    bool output_ = false;
    TValue value_;
};

class TIBSQL : public vcl::TComponent, private IIBDatabaseClient, private IIBTransactionClient {
public:
    enum class TStatementType { Unknown, Select, Insert, Update, Delete, DDL, ExecProcedure, SelectForUpdate, Other };

    explicit TIBSQL(vcl::TComponent* owner = nullptr);
    ~TIBSQL() override;

    TIBDatabase* Database() const { return db_; }
    void SetDatabase(TIBDatabase* db);
    TIBTransaction* Transaction() const { return tr_; }
    // Also sets the database when none is set yet.
    void SetTransaction(TIBTransaction* tr);

    const std::string& SQL() const { return sql_; }
    // New text: the statement is unprepared and its parameters are rebuilt (values reset).
    void SetSQL(std::string sql);

    void Prepare();
    void Unprepare();
    bool Prepared() const { return stmt_ != 0; }
    TStatementType StatementType();

    int ParamCount() const { return static_cast<int>(params_.size()); }
    TIBXSQLVAR& Params(int i);
    // Case-insensitive; raises EIBClientError for an unknown name.
    TIBXSQLVAR& ParamByName(std::string_view name);
    TIBXSQLVAR* FindParam(std::string_view name);

    // Runs the statement. A select opens its cursor and reads the first row;
    // an executable procedure fills the fields with its outputs.
    void ExecQuery();
    // Reads the next row; false (and Eof) at the end.
    bool Next();
    bool Eof() const { return eof_; }
    bool Open() const { return cursorOpen_; }
    void Close();
    long long RowsAffected();

    int FieldCount() const { return static_cast<int>(fields_.size()); }
    const TIBXSQLVAR& Fields(int i) const;
    const TIBXSQLVAR& FieldByName(std::string_view name) const;
    // -1 when there is no such field.
    int FieldIndex(std::string_view name) const;

    // The statement's own handle transaction checks, for callers that need them.
    TIBTransaction& CheckTransaction();

private:
    struct Impl;
    void DatabaseClosing() override;
    void DatabaseFreed() override;
    void TransactionEnded() override;
    void TransactionFreed() override;
    void BindInputs(TIBTransaction& tr);
    void ReadRow(TIBTransaction& tr);
    void CloseCursor();

    TIBDatabase* db_ = nullptr;
    TIBTransaction* tr_ = nullptr;
    std::string sql_;
    std::string parsedSql_;
    std::vector<TIBXSQLVAR> params_;
    std::vector<int> paramOfPosition_;
    std::vector<TIBXSQLVAR> fields_;
    unsigned int stmt_ = 0;
    TStatementType type_ = TStatementType::Unknown;
    bool cursorOpen_ = false;
    bool eof_ = true;
    std::unique_ptr<Impl> impl_;
};

// Turns ":name" parameters into "?" outside strings, quoted names and comments.
// Returns the names by position, upper case ("" for a "?").
std::string TranslateNamedParams(std::string_view sql, std::vector<std::string>& names);
// The end of the quoted string, quoted name or comment that starts at i; i itself when none does.
size_t SkipQuotedOrComment(std::string_view sql, size_t i);

} // namespace ibx
