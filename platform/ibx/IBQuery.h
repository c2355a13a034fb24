// A query whose rows are kept as they are read, so the caller can step forward,
// go back to the first row, or fetch everything and count it.
#pragma once

#include "ibx/IBSQL.h"

namespace ibx {

class TIBQuery : public vcl::TComponent {
public:
    explicit TIBQuery(vcl::TComponent* owner = nullptr);

    TIBDatabase* Database() const { return sql_.Database(); }
    void SetDatabase(TIBDatabase* db) { sql_.SetDatabase(db); }
    TIBTransaction* Transaction() const { return sql_.Transaction(); }
    void SetTransaction(TIBTransaction* tr) { sql_.SetTransaction(tr); }

    const std::string& SQL() const { return sql_.SQL(); }
    void SetSQL(std::string sql);

    void Prepare() { sql_.Prepare(); }
    bool Prepared() const { return sql_.Prepared(); }
    void Unprepare();

    int ParamCount() const { return sql_.ParamCount(); }
    TIBXSQLVAR& Params(int i) { return sql_.Params(i); }
    TIBXSQLVAR& ParamByName(std::string_view name) { return sql_.ParamByName(name); }

    // Runs a select and stands on its first row (Eof when there is none).
    void Open();
    void Close();
    bool Active() const { return active_; }
    void SetActive(bool value) { value ? Open() : Close(); }
    // Runs a statement that returns no rows (insert, update, delete, DDL).
    void ExecSQL();
    long long RowsAffected() { return sql_.RowsAffected(); }

    bool Eof() const { return eof_; }
    bool Bof() const { return row_ == 0; }
    void Next();
    void First();
    void FetchAll();
    // Rows read so far; after FetchAll, all of them.
    int RecordCount() const { return static_cast<int>(rows_.size()); }
    int RecNo() const { return static_cast<int>(row_) + 1; }

    int FieldCount() const { return static_cast<int>(current_.size()); }
    const TIBXSQLVAR& Fields(int i) const;
    const TIBXSQLVAR& FieldByName(std::string_view name) const;
    const TIBXSQLVAR* FindField(std::string_view name) const;

private:
    bool FetchOne();
    void ShowRow();

    TIBSQL sql_;
    bool active_ = false;
    bool eof_ = true;
    bool allFetched_ = true;
    size_t row_ = 0;
    std::vector<std::vector<TValue>> rows_;
    std::vector<TIBXSQLVAR> current_;
};

} // namespace ibx
