// The stack's allocator: lists and records it returns are its own blocks, given back with BtMemFree.
#include "Internal.h"

#include "win32/Windows.h"

#include <cstdlib>
#include <set>

namespace tosbtapi {
namespace {

struct Heap {
    std::mutex mu;
    std::set<void*> live;
};

Heap& H() {
    static auto* heap = new Heap;
    return *heap;
}

} // namespace

void* Allocate(std::size_t size) {
    void* p = std::calloc(1, size ? size : 1);
    if (p) {
        std::lock_guard lk(H().mu);
        H().live.insert(p);
    }
    return p;
}

std::size_t LiveBlocks() {
    std::lock_guard lk(H().mu);
    return H().live.size();
}

} // namespace tosbtapi

// A test control: how many blocks the library has not given back.
extern "C" std::size_t tavlin_tosbtapi_live_blocks() {
    return tosbtapi::LiveBlocks();
}

namespace stackabi::tos {
using namespace tosbtapi;

// A pointer the stack did not hand out is ignored (and journalled), never freed.
extern "C" void BtMemFree(void* memory) {
    Record("BtMemFree", win::test::HandleText(memory));
    if (!memory)
        return;
    {
        std::lock_guard lk(tosbtapi::H().mu);
        if (!tosbtapi::H().live.erase(memory)) {
            Record("BtMemFree:foreign", win::test::HandleText(memory));
            return;
        }
    }
    std::free(memory);
}

} // namespace stackabi::tos
