#include "ibx/IBSQL.h"

#include "ibx/IBCallBound.h"
#include "ibx/IBCharset.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace ibx {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

// A CHAR(n) value of a multi-byte character set arrives padded with blanks to n times
// the set's widest character; its own length is its first n characters.
size_t FixedTextLength(const char* data, size_t bytes, int charset) {
    const size_t widest = charset == 4 ? 4 : charset == 3 ? 3 : 1; // UTF8, UNICODE_FSS
    if (widest == 1)
        return bytes;
    size_t chars = bytes / widest;
    size_t i = 0;
    while (i < bytes && chars > 0) {
        ++i;
        while (i < bytes && (static_cast<unsigned char>(data[i]) & 0xC0) == 0x80)
            ++i;
        --chars;
    }
    return i;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

bool IsNameStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

// An XSQLDA with room for n variables.
class Sqlda {
public:
    explicit Sqlda(int n = 1) { Resize(n); }
    void Resize(int n) {
        n = std::max(n, 1);
        mem_.assign((XSQLDA_LENGTH(n) + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t), {});
        Get()->version = SQLDA_VERSION1;
        Get()->sqln = static_cast<ISC_SHORT>(n);
    }
    XSQLDA* Get() { return reinterpret_cast<XSQLDA*>(mem_.data()); }
    int Count() { return Get()->sqld; }
    XSQLVAR& Var(int i) { return Get()->sqlvar[i]; }

private:
    std::vector<std::max_align_t> mem_;
};

struct Described {
    short type = 0; // without the nullable bit
    short scale = 0;
    short subType = 0;
    short len = 0;
};

const std::int64_t kPow10[] = {1,
                               10,
                               100,
                               1000,
                               10000,
                               100000,
                               1000000,
                               10000000,
                               100000000,
                               1000000000,
                               10000000000LL,
                               100000000000LL,
                               1000000000000LL,
                               10000000000000LL,
                               100000000000000LL,
                               1000000000000000LL,
                               10000000000000000LL,
                               100000000000000000LL,
                               1000000000000000000LL};

ISC_DATE EncodeDate(const TDate& d) {
    return DateToDayNumber(d);
}
ISC_TIME EncodeTime(const TTime& t) {
    return static_cast<ISC_TIME>(((t.Hour * 60 + t.Minute) * 60 + t.Second) * 10000 + t.Fraction);
}
TTime DecodeTime(ISC_TIME v) {
    TTime t;
    t.Fraction = static_cast<int>(v % 10000);
    v /= 10000;
    t.Second = static_cast<int>(v % 60);
    v /= 60;
    t.Minute = static_cast<int>(v % 60);
    t.Hour = static_cast<int>(v / 60);
    return t;
}

} // namespace

struct TIBSQL::Impl {
    Sqlda in, out;
    std::vector<Described> inDesc;
    std::vector<std::string> inData;
    std::vector<short> inInd;
    std::vector<std::vector<char>> outData;
    std::vector<short> outInd;
};

size_t SkipQuotedOrComment(std::string_view sql, size_t i) {
    if (i >= sql.size())
        return i;
    const char c = sql[i];
    if (c == '\'' || c == '"') {
        // Strings and quoted names, with doubled quotes inside.
        size_t j = i + 1;
        while (j < sql.size()) {
            if (sql[j] == c) {
                if (j + 1 < sql.size() && sql[j + 1] == c) {
                    j += 2;
                    continue;
                }
                break;
            }
            ++j;
        }
        return std::min(j + 1, sql.size());
    }
    if (sql.compare(i, 2, "--") == 0) {
        const size_t j = sql.find('\n', i);
        return j == std::string_view::npos ? sql.size() : j;
    }
    if (sql.compare(i, 2, "/*") == 0) {
        const size_t j = sql.find("*/", i + 2);
        return j == std::string_view::npos ? sql.size() : j + 2;
    }
    return i;
}

std::string TranslateNamedParams(std::string_view sql, std::vector<std::string>& names) {
    names.clear();
    std::string out;
    out.reserve(sql.size());
    size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (const size_t j = SkipQuotedOrComment(sql, i); j != i) {
            out.append(sql.substr(i, j - i));
            i = j;
        } else if (c == ':' && i + 1 < sql.size() && IsNameStart(sql[i + 1])) {
            size_t j = i + 1;
            while (j < sql.size() && IsNameChar(sql[j]))
                ++j;
            names.push_back(Upper(sql.substr(i + 1, j - i - 1)));
            out += '?';
            i = j;
        } else if (c == '?') {
            names.emplace_back();
            out += '?';
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// ----------------------------------------------------------------- TIBXSQLVAR

void TIBXSQLVAR::LoadFromFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f)
        throw EIBClientError("Cannot open file " + path);
    TBytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (f.bad())
        throw EIBClientError("Cannot read file " + path);
    value_ = TValue(std::move(data));
}

// ---------------------------------------------------------------------- TIBSQL

TIBSQL::TIBSQL(vcl::TComponent* owner) : vcl::TComponent(owner), impl_(std::make_unique<Impl>()) {}

TIBSQL::~TIBSQL() {
    Unprepare();
    if (db_)
        db_->RemoveClient(this);
    if (tr_)
        tr_->RemoveClient(this);
}

void TIBSQL::SetDatabase(TIBDatabase* db) {
    if (db == db_)
        return;
    Unprepare();
    if (db_)
        db_->RemoveClient(this);
    db_ = db;
    if (db_)
        db_->AddClient(this);
}

void TIBSQL::SetTransaction(TIBTransaction* tr) {
    if (tr == tr_)
        return;
    CloseCursor();
    if (tr_)
        tr_->RemoveClient(this);
    tr_ = tr;
    if (tr_)
        tr_->AddClient(this);
    if (tr_ && !db_)
        SetDatabase(tr_->DefaultDatabase());
}

void TIBSQL::SetSQL(std::string sql) {
    Unprepare();
    sql_ = std::move(sql);
    std::vector<std::string> names;
    parsedSql_ = TranslateNamedParams(sql_, names);
    params_.clear();
    paramOfPosition_.clear();
    for (const std::string& n : names) {
        int index = -1;
        if (!n.empty()) {
            for (size_t k = 0; k < params_.size(); ++k)
                if (params_[k].Name() == n)
                    index = static_cast<int>(k);
        }
        if (index < 0) {
            params_.emplace_back(n);
            index = static_cast<int>(params_.size() - 1);
        }
        paramOfPosition_.push_back(index);
    }
}

TIBTransaction& TIBSQL::CheckTransaction() {
    if (!db_)
        throw EIBClientError("Statement has no database");
    if (!db_->Connected())
        throw EIBClientError("Database is not connected");
    if (!tr_)
        throw EIBClientError("Statement has no transaction");
    if (!tr_->InTransaction())
        tr_->StartTransaction();
    return *tr_;
}

void TIBSQL::Prepare() {
    if (Prepared())
        return;
    TIBCallBound bound(db_);
    TIBTransaction& tr = CheckTransaction();
    if (sql_.empty())
        throw EIBClientError("Empty SQL statement");
    const bool utf8 = db_->Utf8();
    ISC_STATUS_ARRAY status{};
    isc_stmt_handle h = 0;
    isc_dsql_allocate_statement(status, db_->Handle(), &h);
    CheckStatus(status, utf8);
    stmt_ = h;
    try {
        Impl& m = *impl_;
        const std::string text = utf8 ? parsedSql_ : Utf8ToWin1251(parsedSql_);
        m.out.Resize(8);
        isc_dsql_prepare(status, tr.Handle(), &stmt_, 0, text.c_str(), static_cast<unsigned short>(db_->SQLDialect()),
                         m.out.Get());
        CheckStatus(status, utf8);
        if (m.out.Count() > m.out.Get()->sqln) {
            m.out.Resize(m.out.Count());
            isc_dsql_describe(status, &stmt_, 1, m.out.Get());
            CheckStatus(status, utf8);
        }
        m.in.Resize(static_cast<int>(paramOfPosition_.size()));
        isc_dsql_describe_bind(status, &stmt_, 1, m.in.Get());
        CheckStatus(status, utf8);
        if (m.in.Count() != static_cast<int>(paramOfPosition_.size()))
            throw EIBClientError("Parameter count does not match the statement");

        const int nIn = m.in.Count();
        m.inDesc.assign(nIn, {});
        m.inData.assign(nIn, {});
        m.inInd.assign(nIn, 0);
        for (int i = 0; i < nIn; ++i) {
            XSQLVAR& v = m.in.Var(i);
            m.inDesc[i] = {static_cast<short>(v.sqltype & ~1), v.sqlscale, v.sqlsubtype, v.sqllen};
        }

        const int nOut = m.out.Count();
        m.outData.assign(nOut, {});
        m.outInd.assign(nOut, 0);
        fields_.clear();
        for (int i = 0; i < nOut; ++i) {
            XSQLVAR& v = m.out.Var(i);
            const short t = v.sqltype & ~1;
            size_t size = static_cast<size_t>(v.sqllen);
            if (t == SQL_VARYING)
                size += 2;
            m.outData[i].assign(std::max<size_t>(size, 8), 0);
            v.sqldata = m.outData[i].data();
            v.sqlind = &m.outInd[i];
            std::string name(v.aliasname, static_cast<size_t>(std::max<short>(v.aliasname_length, 0)));
            if (name.empty())
                name.assign(v.sqlname, static_cast<size_t>(std::max<short>(v.sqlname_length, 0)));
            fields_.emplace_back(utf8 ? name : Win1251ToUtf8(name));
        }

        static const char items[] = {isc_info_sql_stmt_type};
        char buf[16] = {};
        isc_dsql_sql_info(status, &stmt_, sizeof items, items, sizeof buf, buf);
        CheckStatus(status, utf8);
        type_ = TStatementType::Other;
        if (buf[0] == isc_info_sql_stmt_type) {
            const short len = static_cast<short>(isc_vax_integer(buf + 1, 2));
            switch (isc_vax_integer(buf + 3, len)) {
            case isc_info_sql_stmt_select:
                type_ = TStatementType::Select;
                break;
            case isc_info_sql_stmt_select_for_upd:
                type_ = TStatementType::SelectForUpdate;
                break;
            case isc_info_sql_stmt_insert:
                type_ = TStatementType::Insert;
                break;
            case isc_info_sql_stmt_update:
                type_ = TStatementType::Update;
                break;
            case isc_info_sql_stmt_delete:
                type_ = TStatementType::Delete;
                break;
            case isc_info_sql_stmt_ddl:
                type_ = TStatementType::DDL;
                break;
            case isc_info_sql_stmt_exec_procedure:
                type_ = TStatementType::ExecProcedure;
                break;
            default:
                break;
            }
        }
    } catch (...) {
        Unprepare();
        throw;
    }
}

void TIBSQL::Unprepare() {
    TIBCallBound bound(db_);
    CloseCursor();
    if (stmt_) {
        ISC_STATUS_ARRAY status{};
        if (db_ && db_->Connected())
            isc_dsql_free_statement(status, &stmt_, DSQL_drop);
        stmt_ = 0;
    }
    type_ = TStatementType::Unknown;
    eof_ = true;
}

TIBSQL::TStatementType TIBSQL::StatementType() {
    Prepare();
    return type_;
}

void TIBSQL::DatabaseClosing() {
    Unprepare();
}

void TIBSQL::TransactionEnded() {
    // The engine closed the cursor with the transaction; closing it again says nothing.
    cursorOpen_ = false;
    eof_ = true;
}

void TIBSQL::TransactionFreed() {
    TransactionEnded();
    tr_ = nullptr;
}

void TIBSQL::DatabaseFreed() {
    stmt_ = 0;
    cursorOpen_ = false;
    db_ = nullptr;
}

TIBXSQLVAR& TIBSQL::Params(int i) {
    if (i < 0 || i >= ParamCount())
        throw EIBClientError("Parameter index out of range: " + std::to_string(i));
    return params_[static_cast<size_t>(i)];
}

TIBXSQLVAR* TIBSQL::FindParam(std::string_view name) {
    for (auto& p : params_)
        if (SameName(p.Name(), name))
            return &p;
    return nullptr;
}

TIBXSQLVAR& TIBSQL::ParamByName(std::string_view name) {
    if (TIBXSQLVAR* p = FindParam(name))
        return *p;
    throw EIBClientError("Parameter \"" + std::string(name) + "\" not found");
}

const TIBXSQLVAR& TIBSQL::Fields(int i) const {
    if (i < 0 || i >= FieldCount())
        throw EIBClientError("Field index out of range: " + std::to_string(i));
    return fields_[static_cast<size_t>(i)];
}

int TIBSQL::FieldIndex(std::string_view name) const {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (SameName(fields_[i].Name(), name))
            return static_cast<int>(i);
    return -1;
}

const TIBXSQLVAR& TIBSQL::FieldByName(std::string_view name) const {
    const int i = FieldIndex(name);
    if (i < 0)
        throw EIBClientError("Field \"" + std::string(name) + "\" not found");
    return fields_[static_cast<size_t>(i)];
}

void TIBSQL::BindInputs(TIBTransaction& tr) {
    Impl& m = *impl_;
    const bool utf8 = db_->Utf8();
    for (int i = 0; i < m.in.Count(); ++i) {
        XSQLVAR& v = m.in.Var(i);
        const Described& d = m.inDesc[static_cast<size_t>(i)];
        const TValue& val = params_[static_cast<size_t>(paramOfPosition_[static_cast<size_t>(i)])].Value();
        std::string& buf = m.inData[static_cast<size_t>(i)];
        short& ind = m.inInd[static_cast<size_t>(i)];
        v.sqlind = &ind;
        v.sqlscale = 0;
        v.sqlsubtype = 0;
        ind = 0;

        auto putVarying = [&](std::string_view bytes, short charset) {
            if (bytes.size() > 32765)
                throw EIBClientError("Text of parameter " + std::to_string(i + 1) + " is too long");
            // The declared length stays when the text fits: a descriptor that changes from
            // call to call makes the client rebuild the message each time.
            const bool declared = d.type == SQL_VARYING || d.type == SQL_TEXT;
            const size_t room = std::max(bytes.size(), declared ? static_cast<size_t>(d.len) : size_t{0});
            if (buf.size() < 2 + room)
                buf.resize(2 + room);
            const auto n = static_cast<unsigned short>(bytes.size());
            std::memcpy(buf.data(), &n, 2);
            std::memcpy(buf.data() + 2, bytes.data(), bytes.size());
            v.sqltype = SQL_VARYING | 1;
            v.sqllen = static_cast<ISC_SHORT>(room);
            v.sqlsubtype = charset;
        };
        auto putFixed = [&](short type, const void* p, size_t n) {
            buf.assign(static_cast<const char*>(p), n);
            v.sqltype = static_cast<ISC_SHORT>(type | 1);
            v.sqllen = static_cast<ISC_SHORT>(n);
        };
        auto putBlob = [&](std::string_view bytes) {
            ISC_STATUS_ARRAY status{};
            isc_blob_handle bh = 0;
            ISC_QUAD id{};
            isc_create_blob2(status, db_->Handle(), tr.Handle(), &bh, &id, 0, nullptr);
            CheckStatus(status, utf8);
            for (size_t off = 0; off < bytes.size();) {
                const size_t chunk = std::min<size_t>(bytes.size() - off, 65535);
                isc_put_segment(status, &bh, static_cast<unsigned short>(chunk), bytes.data() + off);
                TIBCallBound::Answered(db_);
                if (status[0] == 1 && status[1]) {
                    ISC_STATUS_ARRAY ignore{};
                    isc_cancel_blob(ignore, &bh);
                    CheckStatus(status, utf8);
                }
                off += chunk;
            }
            isc_close_blob(status, &bh);
            CheckStatus(status, utf8);
            putFixed(SQL_BLOB, &id, sizeof id);
            v.sqlsubtype = d.subType;
        };
        const bool textTarget = d.type == SQL_TEXT || d.type == SQL_VARYING;
        const bool octets = textTarget && (d.subType & 0xFF) == 1;
        auto encodeText = [&](const std::string& s) { return utf8 || octets ? s : Utf8ToWin1251(s); };

        switch (val.GetKind()) {
        case TValue::Kind::Null: {
            const std::int64_t zero = 0;
            putFixed(SQL_INT64, &zero, sizeof zero);
            if (d.type != SQL_NULL && d.type != SQL_BLOB) {
                // Keep the declared type for NULL so the engine needs no conversion.
                buf.assign(static_cast<size_t>(std::max<short>(d.len, 8)) + 2, '\0');
                v.sqltype = static_cast<ISC_SHORT>(d.type | 1);
                v.sqllen = d.len;
                v.sqlscale = d.scale;
                v.sqlsubtype = d.subType;
            }
            ind = -1;
            break;
        }
        case TValue::Kind::Integer: {
            std::int64_t n = val.AsInt64();
            if ((d.type == SQL_SHORT || d.type == SQL_LONG || d.type == SQL_INT64) && d.scale < 0 && d.scale >= -18) {
                // Scale the value ourselves when it fits, as the engine would.
                const std::int64_t f = kPow10[-d.scale];
                if (n <= std::numeric_limits<std::int64_t>::max() / f &&
                    n >= std::numeric_limits<std::int64_t>::min() / f) {
                    n *= f;
                    putFixed(SQL_INT64, &n, sizeof n);
                    v.sqlscale = d.scale;
                    break;
                }
                n = val.AsInt64();
            }
            if (d.type == SQL_BLOB) {
                putBlob(std::to_string(n));
                break;
            }
            if (d.type == SQL_SHORT && n >= -32768 && n <= 32767) {
                const auto s = static_cast<short>(n);
                putFixed(SQL_SHORT, &s, sizeof s);
            } else if (d.type == SQL_LONG && n >= std::numeric_limits<ISC_LONG>::min() &&
                       n <= std::numeric_limits<ISC_LONG>::max()) {
                const auto l = static_cast<ISC_LONG>(n);
                putFixed(SQL_LONG, &l, sizeof l);
            } else {
                putFixed(SQL_INT64, &n, sizeof n); // out of range: the engine reports the overflow
            }
            break;
        }
        case TValue::Kind::Float: {
            const double x = val.AsDouble();
            if (d.type == SQL_BLOB)
                putBlob(val.AsString());
            else
                putFixed(SQL_DOUBLE, &x, sizeof x);
            break;
        }
        case TValue::Kind::Text: {
            const std::string& s = val.AsString();
            if (d.type == SQL_BLOB) {
                putBlob(d.subType == 1 ? encodeText(s) : s);
            } else {
                putVarying(encodeText(s), textTarget ? d.subType : 0);
            }
            break;
        }
        case TValue::Kind::Bytes: {
            const TBytes b = val.AsBytes();
            const std::string_view bytes(reinterpret_cast<const char*>(b.data()), b.size());
            if (d.type == SQL_BLOB)
                putBlob(bytes);
            else
                putVarying(bytes, textTarget ? d.subType : 0);
            break;
        }
        case TValue::Kind::Date: {
            const ISC_DATE x = EncodeDate(val.AsDate());
            putFixed(SQL_TYPE_DATE, &x, sizeof x);
            break;
        }
        case TValue::Kind::Time: {
            const ISC_TIME x = EncodeTime(val.AsTime());
            putFixed(SQL_TYPE_TIME, &x, sizeof x);
            break;
        }
        case TValue::Kind::DateTime: {
            const TDateTime dt = val.AsDateTime();
            ISC_TIMESTAMP x{EncodeDate(dt.Date), EncodeTime(dt.Time)};
            putFixed(SQL_TIMESTAMP, &x, sizeof x);
            break;
        }
        }
        v.sqldata = buf.data();
    }
}

void TIBSQL::ReadRow(TIBTransaction& tr) {
    Impl& m = *impl_;
    const bool utf8 = db_->Utf8();
    for (int i = 0; i < m.out.Count(); ++i) {
        XSQLVAR& v = m.out.Var(i);
        TIBXSQLVAR& f = fields_[static_cast<size_t>(i)];
        if ((v.sqltype & 1) && m.outInd[static_cast<size_t>(i)] < 0) {
            f.Clear();
            continue;
        }
        const char* p = v.sqldata;
        const short type = v.sqltype & ~1;
        auto scaled = [&](std::int64_t n) {
            if (v.sqlscale < 0 && v.sqlscale >= -18)
                f.SetValue(TValue(static_cast<double>(n) / static_cast<double>(kPow10[-v.sqlscale])));
            else
                f.SetValue(TValue(n));
        };
        auto text = [&](const char* data, size_t n) {
            if ((v.sqlsubtype & 0xFF) == 1)
                f.SetValue(TValue(TBytes(data, data + n)));
            else
                f.SetValue(TValue(utf8 ? std::string(data, n) : Win1251ToUtf8(std::string_view(data, n))));
        };
        switch (type) {
        case SQL_SHORT: {
            short s;
            std::memcpy(&s, p, sizeof s);
            scaled(s);
            break;
        }
        case SQL_LONG: {
            ISC_LONG l;
            std::memcpy(&l, p, sizeof l);
            scaled(l);
            break;
        }
        case SQL_INT64: {
            ISC_INT64 l;
            std::memcpy(&l, p, sizeof l);
            scaled(l);
            break;
        }
        case SQL_FLOAT: {
            float x;
            std::memcpy(&x, p, sizeof x);
            f.SetValue(TValue(static_cast<double>(x)));
            break;
        }
        case SQL_DOUBLE:
        case SQL_D_FLOAT: {
            double x;
            std::memcpy(&x, p, sizeof x);
            f.SetValue(TValue(x));
            break;
        }
        case SQL_TEXT:
            text(p, FixedTextLength(p, static_cast<size_t>(v.sqllen), v.sqlsubtype & 0xFF));
            break;
        case SQL_VARYING: {
            unsigned short n;
            std::memcpy(&n, p, 2);
            text(p + 2, std::min<size_t>(n, static_cast<size_t>(v.sqllen)));
            break;
        }
        case SQL_TYPE_DATE: {
            ISC_DATE x;
            std::memcpy(&x, p, sizeof x);
            f.SetValue(TValue(DayNumberToDate(x)));
            break;
        }
        case SQL_TYPE_TIME: {
            ISC_TIME x;
            std::memcpy(&x, p, sizeof x);
            f.SetValue(TValue(DecodeTime(x)));
            break;
        }
        case SQL_TIMESTAMP: {
            ISC_TIMESTAMP x;
            std::memcpy(&x, p, sizeof x);
            f.SetValue(TValue(TDateTime{DayNumberToDate(x.timestamp_date), DecodeTime(x.timestamp_time)}));
            break;
        }
        case SQL_BOOLEAN:
            f.SetValue(TValue(static_cast<std::int64_t>(*reinterpret_cast<const unsigned char*>(p) ? 1 : 0)));
            break;
        case SQL_BLOB: {
            ISC_QUAD id;
            std::memcpy(&id, p, sizeof id);
            ISC_STATUS_ARRAY status{};
            isc_blob_handle bh = 0;
            isc_open_blob2(status, db_->Handle(), tr.Handle(), &bh, &id, 0, nullptr);
            CheckStatus(status, utf8);
            std::string data;
            static const char items[] = {isc_info_blob_total_length};
            char info[32] = {};
            if (!isc_blob_info(status, &bh, sizeof items, items, sizeof info, info) &&
                info[0] == isc_info_blob_total_length) {
                const short len = static_cast<short>(isc_vax_integer(info + 1, 2));
                const long total = isc_vax_integer(info + 3, len);
                if (total > 0)
                    data.reserve(static_cast<size_t>(total));
            }
            std::vector<char> seg(65535);
            for (;;) {
                unsigned short got = 0;
                const ISC_STATUS rc =
                    isc_get_segment(status, &bh, &got, static_cast<unsigned short>(seg.size()), seg.data());
                TIBCallBound::Answered(db_);
                if (rc == 0 || rc == isc_segment) {
                    data.append(seg.data(), got);
                    continue;
                }
                if (rc == isc_segstr_eof)
                    break;
                ISC_STATUS_ARRAY ignore{};
                isc_close_blob(ignore, &bh);
                CheckStatus(status, utf8);
            }
            isc_close_blob(status, &bh);
            CheckStatus(status, utf8);
            if (v.sqlsubtype == 1)
                f.SetValue(TValue(utf8 ? std::move(data) : Win1251ToUtf8(data)));
            else
                f.SetValue(TValue(TBytes(data.begin(), data.end())));
            break;
        }
        default:
            f.Clear();
            break;
        }
    }
}

void TIBSQL::ExecQuery() {
    TIBCallBound bound(db_);
    Prepare();
    CloseCursor();
    TIBTransaction& tr = CheckTransaction();
    BindInputs(tr);
    Impl& m = *impl_;
    const bool utf8 = db_->Utf8();
    ISC_STATUS_ARRAY status{};
    XSQLDA* in = m.in.Count() ? m.in.Get() : nullptr;
    const auto dialect = static_cast<unsigned short>(db_->SQLDialect());
    if (type_ == TStatementType::Select || type_ == TStatementType::SelectForUpdate) {
        isc_dsql_execute(status, tr.Handle(), &stmt_, dialect, in);
        CheckStatus(status, utf8);
        cursorOpen_ = true;
        eof_ = false;
        Next();
    } else if (m.out.Count() > 0) {
        isc_dsql_execute2(status, tr.Handle(), &stmt_, dialect, in, m.out.Get());
        CheckStatus(status, utf8);
        ReadRow(tr);
        eof_ = false;
    } else {
        isc_dsql_execute(status, tr.Handle(), &stmt_, dialect, in);
        CheckStatus(status, utf8);
        eof_ = true;
    }
}

bool TIBSQL::Next() {
    if (!cursorOpen_) {
        eof_ = true;
        return false;
    }
    if (eof_)
        return false;
    TIBTransaction& tr = CheckTransaction();
    TIBCallBound bound(db_);
    ISC_STATUS_ARRAY status{};
    const ISC_STATUS rc =
        isc_dsql_fetch(status, &stmt_, static_cast<unsigned short>(db_->SQLDialect()), impl_->out.Get());
    if (rc == 100) {
        eof_ = true;
        for (auto& f : fields_)
            f.Clear();
        return false;
    }
    CheckStatus(status, db_->Utf8());
    ReadRow(tr);
    return true;
}

void TIBSQL::CloseCursor() {
    TIBCallBound bound(db_);
    if (cursorOpen_ && stmt_ && db_ && db_->Connected()) {
        // A cursor the transaction already ended is closed too; that error says nothing.
        ISC_STATUS_ARRAY status{};
        isc_dsql_free_statement(status, &stmt_, DSQL_close);
    }
    cursorOpen_ = false;
}

void TIBSQL::Close() {
    CloseCursor();
    eof_ = true;
}

long long TIBSQL::RowsAffected() {
    if (!stmt_)
        return 0;
    TIBCallBound bound(db_);
    static const char items[] = {isc_info_sql_records};
    char buf[64] = {};
    ISC_STATUS_ARRAY status{};
    isc_dsql_sql_info(status, &stmt_, sizeof items, items, sizeof buf, buf);
    CheckStatus(status, db_ && db_->Utf8());
    if (buf[0] != isc_info_sql_records)
        return 0;
    long long total = 0;
    const char* p = buf + 3;
    const char* end = buf + sizeof buf;
    while (p < end && *p != isc_info_end) {
        const char item = *p++;
        const short len = static_cast<short>(isc_vax_integer(p, 2));
        p += 2;
        if (len < 0 || p + len > end)
            break;
        const long count = isc_vax_integer(p, len);
        p += len;
        if (item == isc_info_req_insert_count || item == isc_info_req_update_count || item == isc_info_req_delete_count)
            total += count;
    }
    return total;
}

} // namespace ibx
