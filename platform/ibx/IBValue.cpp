#include "ibx/IBValue.h"

#include "vcl/SysUtils.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace ibx {

using vcl::EConvertError;

namespace {

std::string Pad2(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

std::string DateText(const TDate& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.Year, d.Month, d.Day);
    return buf;
}

std::string TimeText(const TTime& t) {
    std::string s = Pad2(t.Hour) + ":" + Pad2(t.Minute) + ":" + Pad2(t.Second);
    if (t.Fraction) {
        char buf[16];
        std::snprintf(buf, sizeof buf, ".%04d", t.Fraction);
        s += buf;
    }
    return s;
}

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void Bad(std::string_view what, std::string_view text) {
    throw EConvertError("'" + std::string(text) + "' is not a valid " + std::string(what));
}

// Reads a run of digits as an int; returns false when there is none.
bool ReadNumber(std::string_view& s, int& out, size_t maxDigits) {
    size_t n = 0;
    out = 0;
    while (n < s.size() && n < maxDigits && s[n] >= '0' && s[n] <= '9')
        out = out * 10 + (s[n++] - '0');
    s.remove_prefix(n);
    return n > 0;
}

bool ValidDate(const TDate& d) {
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.Year < 1 || d.Year > 9999 || d.Month < 1 || d.Month > 12 || d.Day < 1 || d.Day > kDays[d.Month - 1])
        return false;
    const bool leap = (d.Year % 4 == 0 && d.Year % 100 != 0) || d.Year % 400 == 0;
    return !(d.Month == 2 && d.Day == 29 && !leap);
}

bool ValidTime(const TTime& t) {
    return t.Hour >= 0 && t.Hour < 24 && t.Minute >= 0 && t.Minute < 60 && t.Second >= 0 && t.Second < 60 &&
           t.Fraction >= 0 && t.Fraction < 10000;
}

bool ParseDate(std::string_view& s, TDate& d) {
    return ReadNumber(s, d.Year, 4) && !s.empty() && s[0] == '-' && (s.remove_prefix(1), ReadNumber(s, d.Month, 2)) &&
           !s.empty() && s[0] == '-' && (s.remove_prefix(1), ReadNumber(s, d.Day, 2)) && ValidDate(d);
}

bool ParseTime(std::string_view& s, TTime& t) {
    if (!ReadNumber(s, t.Hour, 2) || s.empty() || s[0] != ':')
        return false;
    s.remove_prefix(1);
    if (!ReadNumber(s, t.Minute, 2))
        return false;
    if (!s.empty() && s[0] == ':') {
        s.remove_prefix(1);
        if (!ReadNumber(s, t.Second, 2))
            return false;
        if (!s.empty() && s[0] == '.') {
            s.remove_prefix(1);
            std::string_view digits = s;
            int f = 0;
            if (!ReadNumber(s, f, 4))
                return false;
            for (size_t n = digits.size() - s.size(); n < 4; ++n)
                f *= 10;
            t.Fraction = f;
            while (!s.empty() && s[0] >= '0' && s[0] <= '9')
                s.remove_prefix(1);
        }
    }
    return ValidTime(t);
}

} // namespace

TValue::TValue(std::u16string_view v) : v_(vcl::Utf16ToUtf8(v)) {}

std::int64_t TValue::AsInt64() const {
    switch (GetKind()) {
    case Kind::Null:
        return 0;
    case Kind::Integer:
        return std::get<std::int64_t>(v_);
    case Kind::Float: {
        const double d = std::round(std::get<double>(v_));
        if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18))
            throw EConvertError("Floating point value out of integer range");
        return static_cast<std::int64_t>(d);
    }
    case Kind::Text: {
        std::string_view t = TrimView(std::get<std::string>(v_));
        std::int64_t out = 0;
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
        if (ec != std::errc() || p != t.data() + t.size() || t.empty())
            Bad("integer", t);
        return out;
    }
    default:
        throw EConvertError("The value cannot be read as an integer");
    }
}

int TValue::AsInteger() const {
    const std::int64_t v = AsInt64();
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        throw EConvertError("Integer value out of 32-bit range");
    return static_cast<int>(v);
}

double TValue::AsDouble() const {
    switch (GetKind()) {
    case Kind::Null:
        return 0;
    case Kind::Integer:
        return static_cast<double>(std::get<std::int64_t>(v_));
    case Kind::Float:
        return std::get<double>(v_);
    case Kind::Text: {
        std::string_view t = TrimView(std::get<std::string>(v_));
        double out = 0;
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
        if (ec != std::errc() || p != t.data() + t.size() || t.empty())
            Bad("floating point value", t);
        return out;
    }
    default:
        throw EConvertError("The value cannot be read as a number");
    }
}

std::string TValue::AsString() const {
    switch (GetKind()) {
    case Kind::Null:
        return {};
    case Kind::Integer:
        return std::to_string(std::get<std::int64_t>(v_));
    case Kind::Float: {
        char buf[64];
        auto [p, ec] = std::to_chars(buf, buf + sizeof buf, std::get<double>(v_));
        return std::string(buf, ec == std::errc() ? p : buf);
    }
    case Kind::Text:
        return std::get<std::string>(v_);
    case Kind::Bytes: {
        const auto& b = std::get<TBytes>(v_);
        return std::string(b.begin(), b.end());
    }
    case Kind::Date:
        return DateText(std::get<TDate>(v_));
    case Kind::Time:
        return TimeText(std::get<TTime>(v_));
    case Kind::DateTime: {
        const auto& dt = std::get<TDateTime>(v_);
        return DateText(dt.Date) + " " + TimeText(dt.Time);
    }
    }
    return {};
}

std::u16string TValue::AsWideString() const {
    return vcl::Utf8ToUtf16(AsString());
}

TBytes TValue::AsBytes() const {
    if (GetKind() == Kind::Bytes)
        return std::get<TBytes>(v_);
    const std::string s = AsString();
    return TBytes(s.begin(), s.end());
}

TDate TValue::AsDate() const {
    switch (GetKind()) {
    case Kind::Null:
        return {};
    case Kind::Date:
        return std::get<TDate>(v_);
    case Kind::DateTime:
        return std::get<TDateTime>(v_).Date;
    case Kind::Text:
        return AsDateTime().Date;
    default:
        throw EConvertError("The value cannot be read as a date");
    }
}

TTime TValue::AsTime() const {
    switch (GetKind()) {
    case Kind::Null:
        return {};
    case Kind::Time:
        return std::get<TTime>(v_);
    case Kind::DateTime:
        return std::get<TDateTime>(v_).Time;
    case Kind::Text: {
        std::string_view s = TrimView(std::get<std::string>(v_));
        const std::string_view orig = s;
        TTime t;
        if (!ParseTime(s, t) || !s.empty())
            Bad("time", orig);
        return t;
    }
    default:
        throw EConvertError("The value cannot be read as a time");
    }
}

TDateTime TValue::AsDateTime() const {
    switch (GetKind()) {
    case Kind::Null:
        return {};
    case Kind::Date:
        return {std::get<TDate>(v_), {}};
    case Kind::DateTime:
        return std::get<TDateTime>(v_);
    case Kind::Text: {
        std::string_view s = TrimView(std::get<std::string>(v_));
        const std::string_view orig = s;
        TDateTime dt;
        if (!ParseDate(s, dt.Date))
            Bad("date", orig);
        if (!s.empty()) {
            if (s[0] != ' ' && s[0] != 'T')
                Bad("date", orig);
            s.remove_prefix(1);
            if (!ParseTime(s, dt.Time) || !s.empty())
                Bad("date and time", orig);
        }
        return dt;
    }
    default:
        throw EConvertError("The value cannot be read as a date and time");
    }
}

int DateToDayNumber(const TDate& d) {
    // Civil-from-days arithmetic, shifted to the database's epoch (1858-11-17 = day 0).
    int y = d.Year - (d.Month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (d.Month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + d.Day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int unixDays = era * 146097 + doe - 719468;
    return unixDays + 40587;
}

TDate DayNumberToDate(int n) {
    int z = n - 40587 + 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = z - era * 146097;
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    TDate d;
    d.Day = doy - (153 * mp + 2) / 5 + 1;
    d.Month = mp < 10 ? mp + 3 : mp - 9;
    d.Year = yoe + era * 400 + (d.Month <= 2 ? 1 : 0);
    return d;
}

TDateTime Now() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday}, {tm.tm_hour, tm.tm_min, tm.tm_sec, 0}};
}

TDateTime AddSeconds(const TDateTime& t, long long seconds) {
    long long total = static_cast<long long>(DateToDayNumber(t.Date)) * 86400 + t.Time.Hour * 3600LL +
                      t.Time.Minute * 60LL + t.Time.Second + seconds;
    long long days = total / 86400;
    long long rest = total % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    TDateTime out;
    out.Date = DayNumberToDate(static_cast<int>(days));
    out.Time = {static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60),
                t.Time.Fraction};
    return out;
}

} // namespace ibx
