// The Microsoft stack's loader and the wrappers through which the library calls "bthprops.cpl".
//
// Every stack unit follows the same pattern: a loader singleton built by the unit's probe and freed by
// its free function, an entry-point table that is null whenever the library is not loaded, and
// pass-through wrappers that return a fixed failure value, touching no argument, when their entry point
// is missing.
#pragma once

#include "stacks/bthprops.h"
#include "vyrAPI.h"
#include "win32/WinTypes.h"

#include <atomic>

namespace vyr {

namespace ms = stackabi::ms;

class TvyrMicrosoftLoader : private TvyrHiddenWindowOwner {
public:
    // Loads the library, starts the monitor and asks for a radio; failures leave the loader absent.
    explicit TvyrMicrosoftLoader(win::HWND apiWindow);
    ~TvyrMicrosoftLoader() override;
    TvyrMicrosoftLoader(const TvyrMicrosoftLoader&) = delete;
    TvyrMicrosoftLoader& operator=(const TvyrMicrosoftLoader&) = delete;

    bool Present() const { return present_.load(); }

private:
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;
    static bool RadioAttached();

    std::atomic<bool> present_{false};
    win::HMODULE library_ = nullptr;
    std::atomic<win::HWND> owner_{nullptr};
    win::HWND window_ = nullptr;
    win::HDEVNOTIFY notification_ = nullptr;
};

// Builds the loader on first use (it reports to apiWindow) and says whether a radio is present.
bool MicrosoftLoaderPresent(win::HWND apiWindow);
void FreeMicrosoftLoader();

// Call the wrappers qualified (vyr::Name): the records' namespace brings the stack's own declaration of
// the same name into an unqualified call, which the compiler then rejects as ambiguous.
// Wrappers. Defaults when the entry point is missing: null search handle, FALSE, and 1 for the others.
ms::HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const ms::BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                  stackabi::Handle* radio);
stackabi::Bool32 BluetoothFindRadioClose(ms::HBLUETOOTH_RADIO_FIND find);
std::uint32_t BluetoothGetRadioInfo(stackabi::Handle radio, ms::BLUETOOTH_RADIO_INFO* info);
std::uint32_t BluetoothGetDeviceInfo(stackabi::Handle radio, ms::BLUETOOTH_DEVICE_INFO* info);
std::uint32_t BluetoothRemoveDevice(const ms::BLUETOOTH_ADDRESS* address);
std::uint32_t BluetoothAuthenticateDevice(stackabi::Hwnd parent, stackabi::Handle radio,
                                          ms::BLUETOOTH_DEVICE_INFO* info, const char16_t* passkey,
                                          std::uint32_t passkeyLength);

} // namespace vyr
