// An executable stored procedure addressed by parameter names. The parameters
// come from the procedure's own declaration (read once per connection), so the
// caller sets inputs by name in any order and reads outputs by name after
// ExecProc. Unset inputs are NULL; values stay set between executions.
#pragma once

#include "ibx/IBSQL.h"

namespace ibx {

class TIBStoredProc : public vcl::TComponent {
public:
    explicit TIBStoredProc(vcl::TComponent* owner = nullptr);

    TIBDatabase* Database() const { return sql_.Database(); }
    void SetDatabase(TIBDatabase* db);
    TIBTransaction* Transaction() const { return sql_.Transaction(); }
    void SetTransaction(TIBTransaction* tr) { sql_.SetTransaction(tr); }

    const std::string& StoredProcName() const { return name_; }
    void SetStoredProcName(std::string name);

    // Reads the declaration and prepares the call; ExecProc and ParamByName do it when needed.
    void Prepare();
    void Unprepare();
    bool Prepared() const { return prepared_ && sql_.Prepared(); }

    int ParamCount();
    TIBXSQLVAR& Params(int i);
    // Inputs and outputs by name, case-insensitive; raises EIBClientError for an unknown name.
    TIBXSQLVAR& ParamByName(std::string_view name);
    // The same, or null when the procedure declares no such parameter (an older database's).
    TIBXSQLVAR* FindParam(std::string_view name);

    void ExecProc();
    // Kept for callers that close the procedure after reading its outputs.
    void Close() {}

private:
    TIBSQL sql_;
    std::string name_;
    bool prepared_ = false;
    std::vector<TIBXSQLVAR> params_;
    std::vector<int> inputPositions_;          // params_ index per "?" of the call
    std::vector<std::pair<int, int>> outputs_; // params_ index, field index
};

} // namespace ibx
