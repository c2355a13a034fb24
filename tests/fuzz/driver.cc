// Without libFuzzer: feed the target deterministic pseudo-random inputs, biased
// towards short buffers and towards mutations of the seeds the target offers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional: a target may provide seeds to mutate.
extern "C" __attribute__((weak)) size_t TavlinFuzzSeedCount();
extern "C" __attribute__((weak)) const std::vector<uint8_t>& TavlinFuzzSeed(size_t i);

int main(int argc, char** argv) {
    long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    std::mt19937 rng(12345);
    size_t seeds = TavlinFuzzSeedCount ? TavlinFuzzSeedCount() : 0;
    for (size_t i = 0; i < seeds; ++i) {
        const auto& s = TavlinFuzzSeed(i);
        LLVMFuzzerTestOneInput(s.data(), s.size());
    }
    for (long r = 0; r < runs; ++r) {
        std::vector<uint8_t> buf;
        if (seeds && (r & 1)) {
            buf = TavlinFuzzSeed(rng() % seeds);
            int flips = 1 + rng() % 8;
            for (int f = 0; f < flips && !buf.empty(); ++f)
                buf[rng() % buf.size()] = static_cast<uint8_t>(rng());
            if (rng() % 4 == 0 && !buf.empty())
                buf.resize(rng() % buf.size());
        } else {
            buf.resize(rng() % 512);
            for (auto& b : buf)
                b = static_cast<uint8_t>(rng());
        }
        // Copy into an exactly sized heap block so an over-read is caught by sanitizers.
        std::vector<uint8_t> exact(buf.begin(), buf.end());
        LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    }
    return 0;
}
