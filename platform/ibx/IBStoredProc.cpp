#include "ibx/IBStoredProc.h"

#include <algorithm>
#include <cctype>

namespace ibx {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

bool PlainName(std::string_view s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0]))))
        return false;
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; });
}

} // namespace

TIBStoredProc::TIBStoredProc(vcl::TComponent* owner) : vcl::TComponent(owner) {}

void TIBStoredProc::SetDatabase(TIBDatabase* db) {
    Unprepare();
    sql_.SetDatabase(db);
}

void TIBStoredProc::SetStoredProcName(std::string name) {
    std::string upper;
    for (char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == name_)
        return;
    Unprepare();
    name_ = std::move(upper);
    params_.clear();
}

void TIBStoredProc::Unprepare() {
    sql_.Unprepare();
    prepared_ = false;
}

void TIBStoredProc::Prepare() {
    if (Prepared())
        return;
    if (!PlainName(name_))
        throw EIBClientError("Invalid stored procedure name \"" + name_ + "\"");
    TIBTransaction& tr = sql_.CheckTransaction();
    const std::vector<TIBProcParam>& decl = sql_.Database()->ProcedureParams(name_, tr);

    // Values set before the first preparation carry over by name.
    std::vector<TIBXSQLVAR> params;
    std::string call = "EXECUTE PROCEDURE " + name_;
    std::vector<int> inputs;
    int nIn = 0;
    for (const TIBProcParam& p : decl) {
        params.emplace_back(p.Name, p.Output);
        for (const auto& old : params_)
            if (old.Name() == p.Name)
                params.back().SetValue(old.Value());
        if (!p.Output) {
            call += nIn++ ? ", ?" : "(?";
            inputs.push_back(static_cast<int>(params.size() - 1));
        }
    }
    if (nIn)
        call += ")";
    sql_.SetSQL(call);
    sql_.Prepare();
    std::vector<std::pair<int, int>> outputs;
    for (size_t i = 0; i < params.size(); ++i)
        if (params[i].Output()) {
            const int f = sql_.FieldIndex(params[i].Name());
            if (f < 0)
                throw EIBClientError("Output " + params[i].Name() + " of " + name_ + " is missing");
            outputs.emplace_back(static_cast<int>(i), f);
        }
    params_ = std::move(params);
    inputPositions_ = std::move(inputs);
    outputs_ = std::move(outputs);
    prepared_ = true;
}

int TIBStoredProc::ParamCount() {
    Prepare();
    return static_cast<int>(params_.size());
}

TIBXSQLVAR& TIBStoredProc::Params(int i) {
    Prepare();
    if (i < 0 || i >= static_cast<int>(params_.size()))
        throw EIBClientError("Parameter index out of range: " + std::to_string(i));
    return params_[static_cast<size_t>(i)];
}

TIBXSQLVAR* TIBStoredProc::FindParam(std::string_view name) {
    if (!prepared_)
        Prepare();
    for (auto& p : params_)
        if (SameName(p.Name(), name))
            return &p;
    return nullptr;
}

TIBXSQLVAR& TIBStoredProc::ParamByName(std::string_view name) {
    if (TIBXSQLVAR* p = FindParam(name))
        return *p;
    throw EIBClientError("Parameter \"" + std::string(name) + "\" not found in " + name_);
}

void TIBStoredProc::ExecProc() {
    Prepare();
    for (size_t k = 0; k < inputPositions_.size(); ++k)
        sql_.Params(static_cast<int>(k)).SetValue(params_[static_cast<size_t>(inputPositions_[k])].Value());
    for (const auto& [p, f] : outputs_)
        params_[static_cast<size_t>(p)].Clear();
    sql_.ExecQuery();
    for (const auto& [p, f] : outputs_)
        params_[static_cast<size_t>(p)].SetValue(sql_.Fields(f).Value());
}

} // namespace ibx
