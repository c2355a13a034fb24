#include "vcl/SysUtils.h"

#include <cstdio>

namespace vcl {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        uint32_t c;
        size_t len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            len = 4;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (i + len > s.size()) {
            out += u'\uFFFD';
            break;
        }
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            auto cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (cb & 0x3F);
        }
        if (!ok || (len == 2 && c < 0x80) || (len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += len;
    }
    return out;
}

std::u16string FormatV(std::u16string_view format, const std::vector<FormatArg>& args) {
    std::u16string out;
    size_t next = 0;
    size_t i = 0;
    while (i < format.size()) {
        char16_t ch = format[i];
        if (ch != u'%') {
            out += ch;
            ++i;
            continue;
        }
        size_t start = i++;
        if (i < format.size() && format[i] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        std::string spec = "%";
        while (i < format.size() &&
               (format[i] == u'-' || format[i] == u'+' || format[i] == u' ' || format[i] == u'0' || format[i] == u'#'))
            spec += static_cast<char>(format[i++]);
        int digits = 0;
        while (i < format.size() && format[i] >= u'0' && format[i] <= u'9' && digits < 3) {
            spec += static_cast<char>(format[i++]);
            ++digits;
        }
        if (i < format.size() && format[i] == u'.') {
            spec += '.';
            ++i;
            digits = 0;
            while (i < format.size() && format[i] >= u'0' && format[i] <= u'9' && digits < 3) {
                spec += static_cast<char>(format[i++]);
                ++digits;
            }
        }
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char16_t conv = format[i++];
        const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
        auto literal = [&] { out.append(format.substr(start, i - start)); };
        char buf[128];
        switch (conv) {
        case u's':
            if (arg && std::holds_alternative<std::u16string>(*arg)) {
                out += std::get<std::u16string>(*arg);
                ++next;
            } else if (arg && !std::holds_alternative<double>(*arg)) {
                auto v = std::holds_alternative<long long>(*arg) ? std::to_string(std::get<long long>(*arg))
                                                                 : std::to_string(std::get<unsigned long long>(*arg));
                out += Utf8ToUtf16(v);
                ++next;
            } else {
                literal();
            }
            break;
        case u'd':
        case u'i':
        case u'u':
        case u'x':
        case u'X': {
            if (!arg || std::holds_alternative<std::u16string>(*arg) || std::holds_alternative<double>(*arg)) {
                literal();
                break;
            }
            bool isSigned = std::holds_alternative<long long>(*arg);
            long long sv =
                isSigned ? std::get<long long>(*arg) : static_cast<long long>(std::get<unsigned long long>(*arg));
            unsigned long long uv = isSigned ? static_cast<unsigned long long>(std::get<long long>(*arg))
                                             : std::get<unsigned long long>(*arg);
            std::string f = spec;
            if (conv == u'd' || conv == u'i') {
                f += "lld";
                std::snprintf(buf, sizeof buf, f.c_str(), sv);
            } else {
                // Hexadecimal of a negative int shows its 32-bit two's complement, as the
                // 32-bit original would.
                if (isSigned && sv < 0 && sv >= INT32_MIN)
                    uv &= 0xFFFFFFFFull;
                f += conv == u'u' ? "llu" : (conv == u'x' ? "llx" : "llX");
                std::snprintf(buf, sizeof buf, f.c_str(), uv);
            }
            out += Utf8ToUtf16(buf);
            ++next;
            break;
        }
        case u'f':
        case u'g':
        case u'e':
            if (arg && std::holds_alternative<double>(*arg)) {
                std::string f = spec + static_cast<char>(conv);
                std::snprintf(buf, sizeof buf, f.c_str(), std::get<double>(*arg));
                out += Utf8ToUtf16(buf);
                ++next;
            } else {
                literal();
            }
            break;
        case u'c':
            if (arg && !std::holds_alternative<std::u16string>(*arg) && !std::holds_alternative<double>(*arg)) {
                auto v = std::holds_alternative<long long>(*arg)
                             ? static_cast<unsigned long long>(std::get<long long>(*arg))
                             : std::get<unsigned long long>(*arg);
                out += static_cast<char16_t>(v & 0xFFFF);
                ++next;
            } else {
                literal();
            }
            break;
        default:
            literal();
            break;
        }
    }
    return out;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool TryStrToInt(std::u16string_view s, int& value) {
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t'))
        ++i;
    size_t end = s.size();
    while (end > i && (s[end - 1] == u' ' || s[end - 1] == u'\t'))
        --end;
    if (i >= end)
        return false;
    bool neg = false;
    if (s[i] == u'-' || s[i] == u'+') {
        neg = s[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < end && s[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < end && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= end)
        return false;
    long long acc = 0;
    for (; i < end; ++i) {
        char16_t c = s[i];
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return false;
        acc = acc * base + d;
        if (acc > 0xFFFFFFFFll)
            return false;
    }
    if (base == 10 && acc > (neg ? 2147483648ll : 2147483647ll))
        return false;
    // Hexadecimal literals wrap into the 32-bit range, as "$FFFFFFFF" is -1.
    value = static_cast<int>(static_cast<uint32_t>(neg ? -acc : acc));
    return true;
}

int StrToInt(std::u16string_view s) {
    int v = 0;
    if (!TryStrToInt(s, v))
        throw EConvertError(u"'" + std::u16string(s) + u"' is not a valid integer value");
    return v;
}

std::u16string IntToStr(long long v) {
    return Utf8ToUtf16(std::to_string(v));
}

std::u16string IntToHex(unsigned long long v, int digits) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%0*llX", digits < 0 ? 0 : (digits > 32 ? 32 : digits), v);
    return Utf8ToUtf16(buf);
}

std::u16string UpperCase(std::u16string_view s) {
    std::u16string r(s);
    for (auto& c : r)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
    return r;
}

std::u16string LowerCase(std::u16string_view s) {
    std::u16string r(s);
    for (auto& c : r)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
    return r;
}

std::u16string Trim(std::u16string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] <= u' ')
        ++b;
    while (e > b && s[e - 1] <= u' ')
        --e;
    return std::u16string(s.substr(b, e - b));
}

bool SameText(std::u16string_view a, std::u16string_view b) {
    return UpperCase(a) == UpperCase(b);
}

} // namespace vcl
