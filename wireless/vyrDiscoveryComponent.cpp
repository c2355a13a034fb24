// The discovery component: one inquiry at a time on one radio's stack, run by that stack's backend (a
// worker thread, a stack callback or the bridge's result message, see vyrBackend*.cpp).
//
// Workers and callbacks touch nothing of the component: they only send to its window, and the list they
// send stays theirs (the handler copies it). A window that is gone makes their sends return 0, so a worker
// that ends after the discovery was terminated reaches nobody.
#include "vyrBluetoothDiscovery.h"

#include "vyrBackend.h"
#include "vyrErrors.h"
#include "vyrMessages.h"
#include "win32/Windows.h"

namespace vyr {

TvyrBluetoothDiscovery::TvyrBluetoothDiscovery(vcl::TComponent* owner)
    : vcl::TComponent(owner), radio_(std::make_unique<TvyrBluetoothRadio>()),
      devices_(std::make_unique<TvyrBluetoothDevices>()) {}

TvyrBluetoothDiscovery::~TvyrBluetoothDiscovery() {
    End(false);
}

int TvyrBluetoothDiscovery::EnumRadios(TvyrBluetoothRadios* radios) {
    if (!radios)
        throw vyrEInvalidArgument(StrRadiosNotValid);
    if (!IsTransportAvailable(TRANSPORT_BLUETOOTH))
        return VYR_TRANSPORT_NOT_AVAILABLE;
    radios->Clear();
    // Every stack a backend serves, in kind order.
    for (std::uint8_t kind = 0; BluetoothBackend(static_cast<TvyrBluetoothApi>(kind)); ++kind)
        if (IsApiAvailable(kind))
            radios->Add(std::make_unique<TvyrBluetoothRadio>(static_cast<TvyrBluetoothApi>(kind)));
    return 0;
}

int TvyrBluetoothDiscovery::Discover(const TvyrBluetoothRadio* radio, std::uint8_t timeout) {
    if (wnd_)
        return VYR_DISCOVERY_ACTIVE;
    if (const int r = CheckRadio(radio))
        return r;
    wnd_ = CreateHiddenWindow();
    if (!wnd_)
        return VYR_OUT_OF_RESOURCES;
    RegisterListenerWindow(wnd_);
    AttachHiddenWindow(wnd_, this);
    radio_->Assign(radio);
    timeout_ = timeout;
    finishing_ = false;
    int result;
    try {
        inquiry_ = radio_->Backend().CreateInquiry();
        result = inquiry_ ? inquiry_->Start(wnd_, timeout_) : VYR_OUT_OF_RESOURCES;
    } catch (...) {
        TearDown();
        throw;
    }
    if (result != 0)
        TearDown();
    return result;
}

int TvyrBluetoothDiscovery::Terminate() {
    return End(true);
}

int TvyrBluetoothDiscovery::End(bool fire) {
    if (!wnd_)
        return VYR_DISCOVERY_NOT_STARTED;
    TearDown();
    if (inquiry_)
        inquiry_->Cancel();
    if (fire)
        FireComplete(nullptr);
    return 0;
}

void TvyrBluetoothDiscovery::TearDown() {
    if (!wnd_)
        return;
    UnregisterListenerWindow(wnd_);
    DestroyHiddenWindow(wnd_);
    finishing_ = false;
}

void TvyrBluetoothDiscovery::FireComplete(TvyrBluetoothDevices* devices) {
    if (OnDiscoveryComplete)
        OnDiscoveryComplete(this, radio_.get(), devices);
}

void TvyrBluetoothDiscovery::Completed(const TvyrBluetoothDevices* found) {
    if (!wnd_ || finishing_)
        return;
    if (inquiry_)
        inquiry_->Finished();
    if (found) {
        devices_->Assign(found);
        finishing_ = true;
        // The sender gets its list back before the event runs; the event sees the component's copy.
        win::PostMessageW(wnd_, WM_DISCOVERY_FINISH, 0, 0);
    } else {
        TearDown();
        FireComplete(nullptr);
    }
}

void TvyrBluetoothDiscovery::HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (!wnd_)
        return;
    switch (msg) {
    case WM_API_UNLOADED:
        Terminate();
        break;
    case WM_API_CHANGED:
        if (!IsTransportAvailable(TRANSPORT_BLUETOOTH) || !IsApiAvailable(radio_->Api()))
            Terminate();
        break;
    case WM_DISCOVERY_STARTED:
        if (OnDiscoveryStarted && !finishing_)
            OnDiscoveryStarted(this, radio_.get());
        break;
    case WM_DISCOVERY_COMPLETED:
        Completed(reinterpret_cast<const TvyrBluetoothDevices*>(wParam));
        break;
    case WM_DISCOVERY_FINISH:
        TearDown();
        FireComplete(devices_.get());
        break;
    default:
        // The stack's own notices, in its own words.
        if (inquiry_)
            inquiry_->HandleMessage(msg, wParam, lParam,
                                    [this](const TvyrBluetoothDevices* found) { Completed(found); });
        break;
    }
}

} // namespace vyr
