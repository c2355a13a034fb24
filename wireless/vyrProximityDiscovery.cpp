// Stand-in discovery for the proximity sender while the discovery unit is not in the tree (see the header).
#include "vyrProximityDiscovery.h"

#if !__has_include("vyrDiscoveryComponent.h")
#include "sim/air/Air.h"
#include "vyrMessages.h"
#include "win32/WinUser.h"

namespace vyr {

namespace {
constexpr win::UINT_PTR INQUIRY_TIMER_ID = 1;

int CheckStack(const TvyrBluetoothRadio* radio) {
    if (!radio)
        throw vyrEInvalidArgument(StrRadioNotValid);
    if (!IsTransportAvailable(TRANSPORT_BLUETOOTH))
        return VYR_TRANSPORT_NOT_AVAILABLE;
    if (!IsApiAvailable(radio->Api()))
        return VYR_BLUETOOTH_API_NOT_AVAILABLE;
    return VYR_SUCCESS;
}
} // namespace

#if !__has_include("vyrBluetoothDiscovery.h")
int TvyrBluetoothDevice::Unpair(const TvyrBluetoothRadio* radio) const {
    if (int r = CheckStack(radio))
        return r;
    auto address = air::AddressFromText(vcl::Utf16ToUtf8(address_));
    return address && air::Air::Instance().Unpair(*address) ? VYR_SUCCESS : VYR_INTERNAL_ERROR;
}
#endif

TvyrBluetoothDiscovery::TvyrBluetoothDiscovery(vcl::TComponent* owner) : vcl::TComponent(owner) {}

TvyrBluetoothDiscovery::~TvyrBluetoothDiscovery() {
    Terminate();
}

int TvyrBluetoothDiscovery::Discover(const TvyrBluetoothRadio* radio, std::uint8_t timeout) {
    if (wnd_)
        return VYR_DISCOVERY_ACTIVE;
    if (int r = CheckStack(radio))
        return r;
    wnd_ = CreateHiddenWindow();
    if (!wnd_)
        return VYR_OUT_OF_RESOURCES;
    RegisterListenerWindow(wnd_);
    AttachHiddenWindow(wnd_, this);
    radio_.Assign(radio);
    air::InquiryResult inquiry = air::Air::Instance().Inquire(radio->Api(), timeout * 1000);
    found_.Clear();
    for (const auto& phone : inquiry.found) {
        auto device = std::make_unique<TvyrBluetoothDevice>();
        device->SetAddress(vcl::Utf8ToUtf16(air::AddressToText(phone.address)));
        found_.Add(std::move(device));
    }
    win::PostMessageW(wnd_, WM_DISCOVERY_STARTED, 0, 0);
    if (!win::SetTimer(wnd_, INQUIRY_TIMER_ID, static_cast<win::UINT>(inquiry.durationMs), nullptr))
        win::PostMessageW(wnd_, win::WM_TIMER, INQUIRY_TIMER_ID, 0);
    return VYR_SUCCESS;
}

int TvyrBluetoothDiscovery::Terminate() {
    if (!wnd_)
        return VYR_DISCOVERY_NOT_STARTED;
    Finish(false);
    return VYR_SUCCESS;
}

void TvyrBluetoothDiscovery::TearDown() {
    win::KillTimer(wnd_, INQUIRY_TIMER_ID);
    UnregisterListenerWindow(wnd_);
    DestroyHiddenWindow(wnd_);
}

void TvyrBluetoothDiscovery::Finish(bool withList) {
    TearDown();
    TvyrBluetoothDevices* devices = nullptr;
    if (withList) {
        result_.Clear();
        for (const auto& d : found_) {
            auto copy = std::make_unique<TvyrBluetoothDevice>();
            copy->Assign(d.get());
            result_.Add(std::move(copy));
        }
        devices = &result_;
    }
    if (OnDiscoveryComplete)
        OnDiscoveryComplete(this, &radio_, devices);
}

void TvyrBluetoothDiscovery::HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM) {
    if (!wnd_)
        return;
    if (msg == WM_DISCOVERY_STARTED) {
        if (OnDiscoveryStarted)
            OnDiscoveryStarted(this, &radio_);
    } else if (msg == win::WM_TIMER && wParam == INQUIRY_TIMER_ID) {
        Finish(true);
    } else if (msg == WM_API_UNLOADED) {
        Terminate();
    } else if (msg == WM_API_CHANGED) {
        if (!IsTransportAvailable(TRANSPORT_BLUETOOTH) || !IsApiAvailable(radio_.Api()))
            Terminate();
    }
}

} // namespace vyr
#endif
