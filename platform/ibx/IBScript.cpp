#include "ibx/IBScript.h"

#include "ibx/IBCharset.h"
#include "ibx/IBSQL.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace ibx {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// The first words of a statement, upper case, single spaces, comments skipped.
std::string Head(std::string_view s, int words) {
    std::string out;
    size_t i = 0;
    int n = 0;
    while (i < s.size() && n < words) {
        if (s.compare(i, 2, "--") == 0) {
            i = s.find('\n', i);
            if (i == std::string_view::npos)
                break;
            continue;
        }
        if (s.compare(i, 2, "/*") == 0) {
            i = s.find("*/", i + 2);
            if (i == std::string_view::npos)
                break;
            i += 2;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(s[i]))) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j])) && s.compare(j, 2, "--") != 0 &&
               s.compare(j, 2, "/*") != 0)
            ++j;
        if (!out.empty())
            out += ' ';
        out += Upper(s.substr(i, j - i));
        ++n;
        i = j;
    }
    return out;
}

bool OnlyComments(std::string_view s) {
    return Head(s, 1).empty();
}

} // namespace

std::vector<std::string> SplitScript(std::string_view script) {
    std::vector<std::string> out;
    std::string term = ";";
    std::string current;
    size_t i = 0;
    auto flush = [&]() {
        std::string_view st = Trim(current);
        if (!st.empty() && !OnlyComments(st)) {
            const std::string head = Head(st, 2);
            if (head == "SET TERM" || head == "SET TERMINATOR") {
                // "SET TERM ^" (the old terminator has just been cut off).
                std::string_view rest = st;
                const size_t pos = Upper(rest).find(head.substr(4));
                rest = Trim(rest.substr(pos + head.size() - 4));
                if (rest.empty())
                    throw EIBClientError("SET TERM without a terminator");
                term = std::string(rest);
            } else {
                out.emplace_back(st);
            }
        }
        current.clear();
    };
    while (i < script.size()) {
        const char c = script[i];
        if (const size_t j = SkipQuotedOrComment(script, i); j != i) {
            current.append(script.substr(i, j - i));
            i = j;
        } else if (script.compare(i, term.size(), term) == 0) {
            flush();
            i += term.size();
        } else {
            current += c;
            ++i;
        }
    }
    flush();
    return out;
}

void ExecuteScript(TIBDatabase& db, std::string_view script) {
    if (!db.Connected())
        throw EIBClientError("Database is not connected");
    const std::vector<std::string> statements = SplitScript(script);
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.SetParams({"concurrency", "wait", "write"});
    for (const std::string& st : statements) {
        const std::string head = Head(st, 2);
        if (head.rfind("SET ", 0) == 0 || head == "CREATE DATABASE" || head.rfind("CONNECT", 0) == 0)
            continue;
        if (head.rfind("COMMIT", 0) == 0) {
            if (tr.InTransaction())
                tr.Commit();
            continue;
        }
        if (!tr.InTransaction())
            tr.StartTransaction();
        const std::string text = db.Utf8() ? st : Utf8ToWin1251(st);
        ISC_STATUS_ARRAY status{};
        isc_dsql_execute_immediate(status, db.Handle(), tr.Handle(), 0, text.c_str(),
                                   static_cast<unsigned short>(db.SQLDialect()), nullptr);
        try {
            CheckStatus(status, db.Utf8());
            tr.Commit();
        } catch (const EIBError& e) {
            std::string first = st.substr(0, st.find('\n'));
            throw EIBError(e.what() + std::string("\nStatement: ") + first, e.SQLCode(), e.IBErrorCode(), e.GDSCodes(),
                           e.ExceptionName());
        }
    }
    if (tr.InTransaction())
        tr.Commit();
}

void CreateDatabase(const std::string& name, const std::string& user, const std::string& password, bool forcedWrites) {
    PrepareClientEnvironment();
    std::string dpb;
    dpb += static_cast<char>(isc_dpb_version1);
    auto add = [&](char tag, const std::string& v) {
        if (v.size() > 255)
            throw EIBClientError("Database creation parameter is too long");
        dpb += tag;
        dpb += static_cast<char>(v.size());
        dpb += v;
    };
    auto addInt = [&](char tag, int v) {
        dpb += tag;
        dpb += static_cast<char>(4);
        dpb.append(reinterpret_cast<const char*>(&v), 4);
    };
    if (!user.empty())
        add(isc_dpb_user_name, user);
    if (!password.empty())
        add(isc_dpb_password, password);
    add(isc_dpb_lc_ctype, "UTF8");
    add(isc_dpb_set_db_charset, "UTF8");
    addInt(isc_dpb_sql_dialect, 3);
    addInt(isc_dpb_page_size, 8192);
    addInt(isc_dpb_force_write, forcedWrites ? 1 : 0);
    // The name goes as it is: file names are UTF-8 bytes on this system.
    const std::string& fileName = name;
    ISC_STATUS_ARRAY status{};
    isc_db_handle h = 0;
    isc_create_database(status, static_cast<unsigned short>(fileName.size()), fileName.c_str(), &h,
                        static_cast<short>(dpb.size()), dpb.data(), 0);
    CheckStatus(status);
    isc_detach_database(status, &h);
    CheckStatus(status);
}

void CreateDatabaseFromScript(const std::string& name, const std::string& scriptPath, const std::string& user,
                              const std::string& password, bool forcedWrites) {
    std::ifstream f(scriptPath, std::ios::binary);
    if (!f)
        throw EIBClientError("Cannot open script " + scriptPath);
    std::stringstream text;
    text << f.rdbuf();
    CreateDatabase(name, user, password, forcedWrites);
    try {
        TIBDatabase db;
        db.SetDatabaseName(name);
        db.SetParams({"user_name=" + user, "password=" + password, "lc_ctype=UTF8"});
        db.Open();
        ExecuteScript(db, text.str());
        db.Close();
    } catch (...) {
        // A half-built database is worse than none: the next attempt starts over.
        if (name.find(':') == std::string::npos || (name.size() > 1 && name[1] == ':'))
            std::remove(name.c_str());
        throw;
    }
}

} // namespace ibx
