#include "ibx/IBCharset.h"

#include "vcl/SysUtils.h"

#include <iconv.h>

#include <array>
#include <unordered_map>

namespace ibx {

namespace {

// The upper half of win1251, read once from the C library's converter so the
// table cannot drift from the system's idea of the code page.
struct Win1251Table {
    std::array<char32_t, 128> toUnicode{};
    std::unordered_map<char32_t, unsigned char> fromUnicode;

    Win1251Table() {
        iconv_t cd = iconv_open("UTF-32LE", "WINDOWS-1251");
        for (int b = 0x80; b < 0x100; ++b) {
            char32_t cp = 0xFFFD;
            if (cd != reinterpret_cast<iconv_t>(-1)) {
                char in = static_cast<char>(b);
                unsigned char out[4] = {};
                char* inp = &in;
                char* outp = reinterpret_cast<char*>(out);
                size_t inLeft = 1, outLeft = sizeof(out);
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 0)
                    cp = out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<char32_t>(out[3]) << 24);
            }
            toUnicode[b - 0x80] = cp;
            if (cp != 0xFFFD)
                fromUnicode.emplace(cp, static_cast<unsigned char>(b));
        }
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
};

const Win1251Table& Table() {
    static const Win1251Table table;
    return table;
}

// One code point from UTF-8 at s[i]; advances i. Malformed input gives 0xFFFFFFFF.
char32_t NextCodePoint(std::string_view s, size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i++]);
    if (b0 < 0x80)
        return b0;
    int extra = b0 >= 0xF0 && b0 < 0xF5 ? 3 : b0 >= 0xE0 ? 2 : b0 >= 0xC2 && b0 < 0xE0 ? 1 : -1;
    if (extra < 0)
        return 0xFFFFFFFF;
    char32_t c = b0 & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return 0xFFFFFFFF;
        c = (c << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0xFFFFFFFF;
    return c;
}

} // namespace

std::string Win1251ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    const auto& t = Table();
    for (char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80)
            out += ch;
        else
            vcl::AppendUtf8(out, t.toUnicode[b - 0x80]);
    }
    return out;
}

std::string Utf8ToWin1251(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const auto& t = Table();
    size_t i = 0;
    while (i < s.size()) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            out += s[i++];
            continue;
        }
        const char32_t c = NextCodePoint(s, i);
        const auto it = t.fromUnicode.find(c);
        out += it != t.fromUnicode.end() ? static_cast<char>(it->second) : '?';
    }
    return out;
}

} // namespace ibx
