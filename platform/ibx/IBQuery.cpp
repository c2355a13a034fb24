#include "ibx/IBQuery.h"

#include <algorithm>
#include <cctype>

namespace ibx {

TIBQuery::TIBQuery(vcl::TComponent* owner) : vcl::TComponent(owner) {}

void TIBQuery::SetSQL(std::string sql) {
    Close();
    sql_.SetSQL(std::move(sql));
}

void TIBQuery::Unprepare() {
    Close();
    sql_.Unprepare();
}

void TIBQuery::Open() {
    Close();
    sql_.Prepare();
    const auto type = sql_.StatementType();
    if (type != TIBSQL::TStatementType::Select && type != TIBSQL::TStatementType::SelectForUpdate &&
        type != TIBSQL::TStatementType::ExecProcedure)
        throw EIBClientError("The statement returns no rows; use ExecSQL");
    sql_.ExecQuery();
    current_.clear();
    for (int i = 0; i < sql_.FieldCount(); ++i)
        current_.emplace_back(sql_.Fields(i).Name());
    active_ = true;
    allFetched_ = false;
    row_ = 0;
    if (type == TIBSQL::TStatementType::ExecProcedure) {
        // A procedure's single row of outputs.
        std::vector<TValue> values;
        for (int i = 0; i < sql_.FieldCount(); ++i)
            values.push_back(sql_.Fields(i).Value());
        rows_.push_back(std::move(values));
        allFetched_ = true;
    } else if (!sql_.Eof()) {
        std::vector<TValue> values;
        for (int i = 0; i < sql_.FieldCount(); ++i)
            values.push_back(sql_.Fields(i).Value());
        rows_.push_back(std::move(values));
    } else {
        sql_.Close();
        allFetched_ = true;
    }
    eof_ = rows_.empty();
    ShowRow();
}

void TIBQuery::Close() {
    if (sql_.Open())
        sql_.Close();
    active_ = false;
    eof_ = true;
    allFetched_ = true;
    rows_.clear();
    row_ = 0;
    for (auto& f : current_)
        f.Clear();
}

void TIBQuery::ExecSQL() {
    Close();
    sql_.ExecQuery();
    if (sql_.Open())
        sql_.Close();
}

bool TIBQuery::FetchOne() {
    if (allFetched_)
        return false;
    if (!sql_.Next()) {
        sql_.Close();
        allFetched_ = true;
        return false;
    }
    std::vector<TValue> values;
    values.reserve(static_cast<size_t>(sql_.FieldCount()));
    for (int i = 0; i < sql_.FieldCount(); ++i)
        values.push_back(sql_.Fields(i).Value());
    rows_.push_back(std::move(values));
    return true;
}

void TIBQuery::ShowRow() {
    for (size_t i = 0; i < current_.size(); ++i) {
        if (!eof_ && row_ < rows_.size())
            current_[i].SetValue(rows_[row_][i]);
        else
            current_[i].Clear();
    }
}

void TIBQuery::Next() {
    if (!active_ || eof_)
        return;
    if (row_ + 1 < rows_.size() || FetchOne())
        ++row_;
    else
        eof_ = true;
    ShowRow();
}

void TIBQuery::First() {
    if (!active_)
        return;
    row_ = 0;
    eof_ = rows_.empty();
    ShowRow();
}

void TIBQuery::FetchAll() {
    if (!active_)
        return;
    while (FetchOne()) {
    }
}

const TIBXSQLVAR* TIBQuery::FindField(std::string_view name) const {
    for (const auto& f : current_)
        if (f.Name().size() == name.size() &&
            std::equal(name.begin(), name.end(), f.Name().begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
            }))
            return &f;
    return nullptr;
}

const TIBXSQLVAR& TIBQuery::FieldByName(std::string_view name) const {
    if (const TIBXSQLVAR* f = FindField(name))
        return *f;
    throw EIBClientError("Field \"" + std::string(name) + "\" not found");
}

const TIBXSQLVAR& TIBQuery::Fields(int i) const {
    if (i < 0 || i >= FieldCount())
        throw EIBClientError("Field index out of range: " + std::to_string(i));
    return current_[static_cast<size_t>(i)];
}

} // namespace ibx
