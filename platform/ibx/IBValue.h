// The values that travel between the program and the database: a small variant
// with NULL, integers, floating point, UTF-8 text, raw bytes and the three
// temporal types. Reading a value as another type converts where that is
// meaningful and raises vcl::EConvertError where it is not.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace ibx {

struct TDate {
    int Year = 1900;
    int Month = 1;
    int Day = 1;
    auto operator<=>(const TDate&) const = default;
};

// Fraction is in ten-thousandths of a second, the database's own resolution.
struct TTime {
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Fraction = 0;
    auto operator<=>(const TTime&) const = default;
};

struct TDateTime {
    TDate Date;
    TTime Time;
    auto operator<=>(const TDateTime&) const = default;
};

using TBytes = std::vector<std::uint8_t>;

class TValue {
public:
    enum class Kind { Null, Integer, Float, Text, Bytes, Date, Time, DateTime };

    TValue() = default;
    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>) TValue(T v)
        : v_(static_cast<std::int64_t>(v)) {}
    TValue(double v) : v_(v) {}
    TValue(std::string v) : v_(std::move(v)) {}
    TValue(const char* v) : v_(std::string(v ? v : "")) {}
    TValue(std::u16string_view v);
    TValue(const std::u16string& v) : TValue(std::u16string_view(v)) {}
    TValue(const char16_t* v) : TValue(std::u16string_view(v ? v : u"")) {}
    TValue(TBytes v) : v_(std::move(v)) {}
    TValue(TDate v) : v_(v) {}
    TValue(TTime v) : v_(v) {}
    TValue(TDateTime v) : v_(v) {}

    Kind GetKind() const { return static_cast<Kind>(v_.index()); }
    bool IsNull() const { return v_.index() == 0; }

    // NULL reads as 0, "", an empty byte string, or the zero date/time.
    std::int64_t AsInt64() const;
    int AsInteger() const; // raises EConvertError outside 32 bits
    double AsDouble() const;
    std::string AsString() const; // UTF-8
    std::u16string AsWideString() const;
    TBytes AsBytes() const;
    TDate AsDate() const;
    TTime AsTime() const;
    TDateTime AsDateTime() const;

    bool operator==(const TValue&) const = default;

private:
    std::variant<std::monostate, std::int64_t, double, std::string, TBytes, TDate, TTime, TDateTime> v_;
};

// Days since 1858-11-17, the database's day count; exposed for date arithmetic in tests and callers.
int DateToDayNumber(const TDate& d);
TDate DayNumberToDate(int n);
// The local wall-clock time now, at whole seconds.
TDateTime Now();
// Adds seconds to a timestamp (negative to go back).
TDateTime AddSeconds(const TDateTime& t, long long seconds);

} // namespace ibx
