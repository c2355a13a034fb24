// Random bytes into a phone's Object Push server: it must answer well-formed packets
// (or nothing), never read outside what it was given, and never write outside its inbox.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "sim/air/ObexPeer.h"

namespace {

std::string Inbox() {
    // Leaked on purpose: the clean-up below runs at exit and still needs it.
    static const std::string* dir = new std::string(std::filesystem::temp_directory_path().string() +
                                                    "/tavlin-fuzz-obexpeer-" + std::to_string(::getpid()));
    return *dir;
}

struct Cleanup {
    ~Cleanup() {
        std::error_code ec;
        std::filesystem::remove_all(Inbox(), ec);
    }
} cleanup;

std::vector<uint8_t> Seed(std::initializer_list<uint8_t> b) {
    return b;
}

const std::vector<std::vector<uint8_t>> kSeeds = {
    // CONNECT, PUT with Name "a" + Length, Body, final End-of-Body, DISCONNECT
    Seed({0x80, 0x00, 0x07, 0x10, 0x00, 0x10, 0x00, 0x02, 0x00, 0x0F, 0x01, 0x00, 0x07,
          0x00, 0x61, 0x00, 0x00, 0xC3, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x08, 0x48,
          0x00, 0x05, 0x68, 0x69, 0x82, 0x00, 0x06, 0x49, 0x00, 0x03, 0x81, 0x00, 0x03}),
    // CONNECT with an authentication response, GET, SETPATH, ABORT
    Seed({0x80, 0x00, 0x1C, 0x10, 0x00, 0x01, 0x00, 0x4E, 0x00, 0x15, 0x00, 0x10, 1,
          2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,
          15,   16,   0x83, 0x00, 0x03, 0x85, 0x00, 0x05, 0x02, 0x00, 0xFF, 0x00, 0x03}),
};

} // namespace

// The seed hooks are C++ on both sides (the driver declares them the same way).
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" size_t TavlinFuzzSeedCount() {
    return kSeeds.size();
}
extern "C" const std::vector<uint8_t>& TavlinFuzzSeed(size_t i) {
    return kSeeds[i];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the phone's behaviour; the rest is the stream, in two pieces.
    air::ObexBehaviour b;
    b.mode = static_cast<air::ObexMode>(data[0] % 7);
    b.after = data[0] >> 5;
    b.password = "0000";
    b.maxPacket = 255 + (data[0] << 4);
    air::ObexPeer peer(b, Inbox());
    const uint8_t* p = data + 1;
    size_t n = size - 1;
    size_t cut = n ? data[0] % (n + 1) : 0;
    if (data[0] & 0x10) {
        // Start past the handshake now and then, so the object paths get their share.
        static const uint8_t connect[] = {0x80, 0x00, 0x07, 0x10, 0x00, 0xFF, 0xFF};
        peer.Feed(connect, sizeof connect);
    }
    for (auto [from, len] : {std::pair{p, cut}, std::pair{p + cut, n - cut}}) {
        for (const auto& r : peer.Feed(from, len)) {
            if (r.size() < 3 || (size_t(r[1]) << 8 | r[2]) != r.size() || r[0] < 0x90)
                std::abort();
        }
    }
    for (const auto& path : peer.Stored()) {
        if (std::filesystem::path(path).parent_path() != std::filesystem::path(Inbox()))
            std::abort();
        ::unlink(path.c_str()); // keep the inbox small across millions of inputs
    }
    return 0;
}
