#include "Bytes.h"

#include <fstream>
#include <sstream>

namespace tavtest {

std::string Pattern(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) {
        if (tok.size() >= 2 && tok.front() == '\'' && tok.back() == '\'')
            out.insert(out.end(), tok.begin() + 1, tok.end() - 1);
        else
            out.push_back(static_cast<std::uint8_t>(std::stoul(tok, nullptr, 16)));
    }
    return out;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace tavtest
