#include "vyrAPI.h"

#include "vyrLoaders.h"
#include "vyrMessages.h"
#include "vyrSync.h"
#include "vyrWidComm.h"
#include "win32/Windows.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

namespace vyr {
namespace {

// Unit state lives from first use to the end of the process (never freed), so it outlives every TvyrAPI
// and every thread that may still ask for availability while the process ends.
struct UnitState {
    TvyrSync listenersLock; // guards the listener list only
    TvyrSync apiLock;       // guards the loaded instance, its loaded flag and both sets
    std::vector<win::HWND> listeners;
    TvyrAPI* loadedInstance = nullptr;
};

UnitState& U() {
    static UnitState* state = new UnitState;
    return *state;
}

constexpr char16_t kLibraryVersion[] = u"6.7.5.0";

bool Probe(TvyrLoaderKind kind, win::HWND apiWindow) {
    return LoaderEntry(kind).Present(apiWindow);
}
void Free(TvyrLoaderKind kind) {
    LoaderEntry(kind).Free();
}

} // namespace

// ---------------------------------------------------------------- hidden windows

win::HWND CreateHiddenWindow() {
    return win::CreateWindowExW(0, u"Message", u"WindowForMessage", 0, 0, 0, 0, 0, win::HWND_MESSAGE, nullptr, nullptr,
                                nullptr);
}

void AttachHiddenWindow(win::HWND hwnd, TvyrHiddenWindowOwner* owner) {
    win::SetWindowLongPtrW(hwnd, win::GWL_USERDATA, reinterpret_cast<win::LONG_PTR>(owner));
    win::SetWindowLongPtrW(hwnd, win::GWL_WNDPROC, reinterpret_cast<win::LONG_PTR>(&HiddenWindowProc));
}

void DestroyHiddenWindow(win::HWND& hwnd) {
    if (!hwnd)
        return;
    win::SetWindowLongPtrW(hwnd, win::GWL_USERDATA, 0);
    win::DestroyWindow(hwnd);
    hwnd = nullptr;
}

win::LRESULT HiddenWindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    auto* owner = reinterpret_cast<TvyrHiddenWindowOwner*>(win::GetWindowLongPtrW(hwnd, win::GWL_USERDATA));
    if (owner) {
        // A window procedure is a callback of the message loop: nothing may be thrown through it.
        try {
            owner->HiddenWindowMessage(msg, wParam, lParam);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "message %u failed: %s\n", msg, e.what());
        } catch (...) {
            std::fprintf(stderr, "message %u failed\n", msg);
        }
    }
    return win::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------- listeners

void RegisterListenerWindow(win::HWND hwnd) {
    if (!hwnd)
        return;
    TvyrSyncGuard guard(U().listenersLock);
    U().listeners.push_back(hwnd);
}

void UnregisterListenerWindow(win::HWND hwnd) {
    if (!hwnd)
        return;
    TvyrSyncGuard guard(U().listenersLock);
    auto& l = U().listeners;
    auto it = std::find(l.begin(), l.end(), hwnd);
    if (it != l.end())
        l.erase(it);
}

void BroadcastToListeners(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam, bool post) {
    std::vector<win::HWND> copy;
    {
        TvyrSyncGuard guard(U().listenersLock);
        copy = U().listeners;
    }
    for (win::HWND hwnd : copy) {
        if (post)
            win::PostMessageW(hwnd, msg, wParam, lParam);
        else
            win::SendMessageW(hwnd, msg, wParam, lParam);
    }
}

std::u16string GetLibraryVersion() {
    return kLibraryVersion;
}

bool IsApiAvailable(std::uint8_t kind) {
    TvyrSyncGuard guard(U().apiLock);
    return U().loadedInstance && kind <= 7 && U().loadedInstance->BluetoothApis().Contains(kind);
}

bool IsTransportAvailable(std::uint8_t index) {
    TvyrSyncGuard guard(U().apiLock);
    return U().loadedInstance && index <= 7 && U().loadedInstance->Transports().Contains(index);
}

// ---------------------------------------------------------------- TvyrAPI

TvyrAPI::TvyrAPI(vcl::TComponent* owner) : vcl::TComponent(owner), version_(kLibraryVersion) {}

TvyrAPI::~TvyrAPI() {
    Unload();
}

bool TvyrAPI::IsLoaded() const {
    TvyrSyncGuard guard(U().apiLock);
    return loaded_;
}

TvyrSet8 TvyrAPI::BluetoothApis() const {
    TvyrSyncGuard guard(U().apiLock);
    return apis_;
}

TvyrSet8 TvyrAPI::Transports() const {
    TvyrSyncGuard guard(U().apiLock);
    return transports_;
}

int TvyrAPI::Load() {
    int result = 0;
    {
        TvyrSyncGuard guard(U().apiLock);
        if (loaded_) {
            result = 10;
        } else if (U().loadedInstance) {
            result = 11;
        } else {
            win::WSADATA data{};
            if (win::WSAStartup(0x0202, &data) != 0) {
                result = 1;
            } else if (!(wnd_ = CreateHiddenWindow())) {
                win::WSACleanup();
                result = 1;
            } else {
                // Only a successful initialisation is balanced later; a failed one must not take away
                // someone else's.
                comInitialized_ = win::SUCCEEDED(win::CoInitialize(nullptr));
                loaded_ = true;
                U().loadedInstance = this;
                AttachHiddenWindow(wnd_, this);

                TvyrSet8 transports;
                TvyrSet8 apis;
                transports.Include(TRANSPORT_SERIAL);
                transports.Include(TRANSPORT_ALWAYS);
                apis_ = apis;
                transports_ = transports;
                if (Probe(TvyrLoaderKind::IrDA, wnd_))
                    transports.Include(TRANSPORT_IRDA);
                if (Probe(TvyrLoaderKind::WiFi, wnd_))
                    transports.Include(TRANSPORT_WIFI);
                if (Probe(TvyrLoaderKind::Rapi, wnd_))
                    transports.Include(TRANSPORT_DEVICE_LINK);
                if (Probe(TvyrLoaderKind::Microsoft, wnd_))
                    apis.Include(baMicrosoft);
                if (Probe(TvyrLoaderKind::Toshiba, wnd_))
                    apis.Include(baToshiba);
                if (Probe(TvyrLoaderKind::BlueSoleil, wnd_))
                    apis.Include(baBlueSoleil);
                if (Probe(TvyrLoaderKind::WidComm, wnd_))
                    apis.Include(baWidComm);
                if (!apis.Empty())
                    transports.Include(TRANSPORT_BLUETOOTH);
                apis_ = apis;
                transports_ = transports;
                widcommReloadPending_ = false;
                result = 0;
            }
        }
    }
    if (result == 0 && AfterLoad)
        AfterLoad(this);
    return result;
}

int TvyrAPI::Unload() {
    {
        TvyrSyncGuard guard(U().apiLock);
        if (!loaded_)
            return 12;
        // The window goes first, so no loader report can arrive once anything is released. The instance
        // stays the loaded one until the loaders are gone, so no other can load meanwhile.
        DestroyHiddenWindow(wnd_);
        loaded_ = false;
        apis_ = {};
        transports_ = {};
    }
    // Listeners close what they hold on a stack while every loader still exists. They join their workers,
    // and a worker may be asking for availability right now: the broadcast therefore goes out with the
    // lock let go, and the worker gets its answer (nothing is available) instead of waiting for good.
    BroadcastToListeners(WM_API_UNLOADED, 0, 0, false);
    {
        TvyrSyncGuard guard(U().apiLock);
        Free(TvyrLoaderKind::IrDA);
        Free(TvyrLoaderKind::Microsoft);
        Free(TvyrLoaderKind::WidComm);
        Free(TvyrLoaderKind::Toshiba);
        Free(TvyrLoaderKind::BlueSoleil);
        Free(TvyrLoaderKind::WiFi);
        Free(TvyrLoaderKind::Rapi);
        win::WSACleanup();
        if (comInitialized_)
            win::CoUninitialize();
        comInitialized_ = false;
        U().loadedInstance = nullptr;
    }
    if (AfterUnload)
        AfterUnload(this);
    return 0;
}

void TvyrAPI::HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    TvyrSet8 apis;
    TvyrSet8 transports;
    {
        TvyrSyncGuard guard(U().apiLock);
        bool acts = msg == WM_WIDCOMM_CLIENTS_RELEASED ||
                    (loaded_ && (msg == WM_TRANSPORT_CHANGED || msg == WM_BLUETOOTH_API_CHANGED));
        if (!acts)
            return;
        apis = apis_;
        transports = transports_;
    }

    if (msg == WM_TRANSPORT_CHANGED) {
        unsigned bit = (wParam >= 2 && wParam <= 5) ? static_cast<unsigned>(wParam) : 0;
        if (lParam == 1)
            transports.Include(bit);
        else
            transports.Exclude(bit);
    } else if (msg == WM_BLUETOOTH_API_CHANGED) {
        unsigned bit = (wParam >= 1 && wParam <= 4) ? static_cast<unsigned>(wParam - 1) : 0;
        if (lParam == 1) {
            apis.Include(bit);
        } else {
            apis.Exclude(bit);
            widcommReloadPending_ = bit == baWidComm;
        }
    } else { // WM_WIDCOMM_CLIENTS_RELEASED
        // A client created after the post still uses the bridge: the reload waits for its release.
        if (!widcommReloadPending_ || WidCommClientCount() != 0)
            return;
        widcommReloadPending_ = false;
        Free(TvyrLoaderKind::WidComm);
        if (wnd_ && Probe(TvyrLoaderKind::WidComm, wnd_))
            apis.Include(baWidComm);
        else
            apis.Exclude(baWidComm);
    }
    if (apis.Empty())
        transports.Exclude(TRANSPORT_BLUETOOTH);
    else
        transports.Include(TRANSPORT_BLUETOOTH);

    {
        TvyrSyncGuard guard(U().apiLock);
        if (apis == apis_ && transports == transports_)
            return;
        apis_ = apis;
        transports_ = transports;
    }
    BroadcastToListeners(WM_API_CHANGED, 0, 0, true);
    if (OnChanged)
        OnChanged(this);
}

} // namespace vyr
