// Byte helpers the tests share: reproducible payloads, packets written as hex, files read whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavtest {

using Bytes = std::vector<std::uint8_t>;

// n pseudo-random bytes, the same for the same seed.
std::string Pattern(std::size_t n, unsigned seed);

// "80 00 07" -> bytes; a token in single quotes is taken character by character: "'a.txt'".
Bytes Hex(const std::string& text);

// The parts one after another.
template <typename... Parts> Bytes Cat(const Parts&... parts) {
    Bytes out;
    (out.insert(out.end(), parts.begin(), parts.end()), ...);
    return out;
}

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

} // namespace tavtest
