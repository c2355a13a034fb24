// MD5 for the OBEX authentication digest of the simulated phones.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace air {

class Md5 {
public:
    Md5();
    void Update(const void* data, size_t n);
    void Update(std::string_view s) { Update(s.data(), s.size()); }
    std::array<uint8_t, 16> Final();

    static std::array<uint8_t, 16> Of(std::string_view s) {
        Md5 m;
        m.Update(s);
        return m.Final();
    }

private:
    void Block(const uint8_t* p);
    uint32_t h_[4];
    uint8_t buf_[64];
    uint64_t total_ = 0;
};

} // namespace air
