// The entry-point table of a stack loader: one pointer per name, resolved in list order, all null while
// the library is not loaded. Worker threads read the pointers while the main thread may null them, so
// each slot is atomic; a wrapper loads its slot once and calls through that copy.
#pragma once

#include "win32/WinBase.h"

#include <array>
#include <atomic>
#include <cstddef>

namespace vyr {

template <std::size_t N> class TvyrEntryTable {
public:
    // A name the library does not export leaves its slot null; that is not an error.
    void Resolve(win::HMODULE library, const char* const (&names)[N]) {
        for (std::size_t i = 0; i < N; ++i)
            slots_[i].store(win::GetProcAddress(library, names[i]), std::memory_order_release);
    }
    void Clear() {
        for (auto& slot : slots_)
            slot.store(nullptr, std::memory_order_release);
    }
    template <typename F> F Get(std::size_t index) const {
        // FARPROC is the generic function pointer type: casting it to the entry point's own type is the
        // documented way back.
        return reinterpret_cast<F>(slots_[index].load(std::memory_order_acquire));
    }
    bool Resolved(std::size_t index) const { return slots_[index].load(std::memory_order_acquire) != nullptr; }
    static constexpr std::size_t Size() { return N; }

private:
    std::array<std::atomic<win::FARPROC>, N> slots_{};
};

} // namespace vyr
