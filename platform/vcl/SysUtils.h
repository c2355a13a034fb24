// The few class-library basics the system leans on: the root exception, string
// conversions, StrToInt and a printf-like Format that never trusts its format.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vcl {

// UTF-16 <-> UTF-8 (the system code page on Linux). Invalid input becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);
// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);
std::u16string Utf8ToUtf16(std::string_view s);

class Exception : public std::exception {
public:
    explicit Exception(std::u16string message) : message_(std::move(message)), utf8_(Utf16ToUtf8(message_)) {}
    explicit Exception(std::string_view message) : Exception(Utf8ToUtf16(message)) {}
    ~Exception() override = default;
    const std::u16string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::u16string message_;
    std::string utf8_;
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// One argument of Format: integers, floating point and text.
using FormatArg = std::variant<long long, unsigned long long, double, std::u16string>;

// printf-style formatting over %s %d %i %u %x %X %c %% with flags, width and precision.
// A directive whose argument is missing or of another kind is written as it stands,
// so a bad format (for example from a translation file) cannot crash or misread memory.
std::u16string FormatV(std::u16string_view format, const std::vector<FormatArg>& args);

namespace detail {
inline FormatArg ToArg(const std::u16string& s) {
    return s;
}
inline FormatArg ToArg(std::u16string_view s) {
    return std::u16string(s);
}
inline FormatArg ToArg(const char16_t* s) {
    return std::u16string(s ? s : u"");
}
inline FormatArg ToArg(const std::string& s) {
    return Utf8ToUtf16(s);
}
inline FormatArg ToArg(const char* s) {
    return Utf8ToUtf16(s ? s : "");
}
inline FormatArg ToArg(double v) {
    return v;
}
template <typename T>
requires std::is_integral_v<T> FormatArg ToArg(T v) {
    if constexpr (std::is_signed_v<T>)
        return static_cast<long long>(v);
    else
        return static_cast<unsigned long long>(v);
}
} // namespace detail

template <typename... Args> std::u16string Format(std::u16string_view format, Args&&... args) {
    return FormatV(format, std::vector<FormatArg>{detail::ToArg(std::forward<Args>(args))...});
}

// The value of one hexadecimal digit (either case), or -1.
int HexDigit(char16_t c);

// Decimal, or hexadecimal with a leading "$" (or "0x"); throws EConvertError otherwise.
int StrToInt(std::u16string_view s);
bool TryStrToInt(std::u16string_view s, int& value);

std::u16string IntToStr(long long v);
std::u16string IntToHex(unsigned long long v, int digits);
std::u16string UpperCase(std::u16string_view s);
std::u16string LowerCase(std::u16string_view s);
std::u16string Trim(std::u16string_view s);
bool SameText(std::u16string_view a, std::u16string_view b);

} // namespace vcl
