// The API object that switches the library on and off, the listener registry, the availability
// functions, and the hidden message-only window every asynchronous component of the library uses.
#pragma once

#include "vcl/Classes.h"
#include "win32/WinTypes.h"

#include <cstdint>
#include <string>

namespace vyr {

// The stack that drives a radio; the numbers are the bits of TvyrAPI::BluetoothApis().
enum TvyrBluetoothApi : std::uint8_t { baBlueSoleil = 0, baMicrosoft = 1, baToshiba = 2, baWidComm = 3 };

// Transport indexes: the bits of TvyrAPI::Transports().
inline constexpr std::uint8_t TRANSPORT_DEVICE_LINK = 0;
inline constexpr std::uint8_t TRANSPORT_BLUETOOTH = 1; // set while at least one stack is present
inline constexpr std::uint8_t TRANSPORT_IRDA = 2;
inline constexpr std::uint8_t TRANSPORT_SERIAL = 3; // always set
inline constexpr std::uint8_t TRANSPORT_ALWAYS = 4; // always set, asked by nothing
inline constexpr std::uint8_t TRANSPORT_WIFI = 5;

// A set of up to 8 small numbers.
struct TvyrSet8 {
    std::uint8_t bits = 0;
    bool Contains(unsigned i) const { return i < 8 && (bits >> i) & 1; }
    void Include(unsigned i) {
        if (i < 8)
            bits = static_cast<std::uint8_t>(bits | (1u << i));
    }
    void Exclude(unsigned i) {
        if (i < 8)
            bits = static_cast<std::uint8_t>(bits & ~(1u << i));
    }
    bool Empty() const { return bits == 0; }
    bool operator==(const TvyrSet8&) const = default;
};

// ---- Hidden message-only windows ----
// An object that owns a hidden window gets its messages through this interface.
class TvyrHiddenWindowOwner {
public:
    virtual ~TvyrHiddenWindowOwner() = default;
    virtual void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) = 0;
};

// Creates the window (class "Message", name "WindowForMessage", parent HWND_MESSAGE) on the calling
// thread; null when that fails.
win::HWND CreateHiddenWindow();
// Stores the owner in the user data, then installs HiddenWindowProc.
void AttachHiddenWindow(win::HWND hwnd, TvyrHiddenWindowOwner* owner);
// Clears the user data, destroys the window and nulls the handle. Nothing to do for a null handle.
void DestroyHiddenWindow(win::HWND& hwnd);
// Hands the message to the attached owner, if any, then returns DefWindowProcW's result in every case.
// An exception from the owner is reported and stops here.
win::LRESULT HiddenWindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);

// ---- The API object ----
class TvyrAPI : public vcl::TComponent, private TvyrHiddenWindowOwner {
public:
    explicit TvyrAPI(vcl::TComponent* owner = nullptr);
    ~TvyrAPI() override; // unloads first

    // 0 loaded; 10 this instance is loaded; 11 another instance is loaded; 1 Winsock did not start or
    // the API window was not created.
    int Load();
    // 0 unloaded; 12 not loaded.
    int Unload();

    bool IsLoaded() const;
    TvyrSet8 BluetoothApis() const;
    TvyrSet8 Transports() const;
    const std::u16string& Version() const { return version_; }

    vcl::TNotifyEvent AfterLoad;
    vcl::TNotifyEvent AfterUnload;
    vcl::TNotifyEvent OnChanged;

private:
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

    bool loaded_ = false;
    TvyrSet8 apis_;
    TvyrSet8 transports_;
    std::u16string version_;
    win::HWND wnd_ = nullptr;
    bool widcommReloadPending_ = false;
    bool comInitialized_ = false;
};

// Under the API lock; false while nothing is loaded and for an index above 7. Safe from any thread.
bool IsApiAvailable(std::uint8_t kind);
bool IsTransportAvailable(std::uint8_t index);

// Listener windows hear WM_API_UNLOADED (sent) and WM_API_CHANGED (posted). Registration order is kept,
// duplicates are allowed, unregistering removes the first match; null handles are ignored.
void RegisterListenerWindow(win::HWND hwnd);
void UnregisterListenerWindow(win::HWND hwnd);
// Delivers to the windows registered when the call begins, in order, holding no lock while it delivers.
void BroadcastToListeners(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam, bool post);

std::u16string GetLibraryVersion();

} // namespace vyr
