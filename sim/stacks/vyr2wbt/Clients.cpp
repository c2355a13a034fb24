// RFCOMM clients of the bridge. Called on the library's connection worker threads.
#include "Internal.h"

#include "win32/Windows.h"

namespace stackabi::wd {
using namespace vyr2wbt;

extern "C" WD_CLIENT WD_CreateRfCommClient(Hwnd window) {
    Record("WD_CreateRfCommClient", win::test::HandleText(window));
    if (ShouldFail("WD_CreateRfCommClient"))
        return nullptr;
    std::lock_guard lk(State().mu);
    if (!State().initialised || !window)
        return nullptr;
    std::uintptr_t id = State().nextClient++;
    State().clients[id].window = window;
    return reinterpret_cast<WD_CLIENT>(id);
}

extern "C" void WD_DestroyRfCommClient(WD_CLIENT client) {
    Record("WD_DestroyRfCommClient", win::test::HandleText(client));
    // The buffers posted with WM_WIDCOMM_DATA live until here: the client's window may still hold them.
    EndClientLink(reinterpret_cast<std::uintptr_t>(client), true);
    std::lock_guard lk(State().mu);
    State().clients.erase(reinterpret_cast<std::uintptr_t>(client));
}

} // namespace stackabi::wd
