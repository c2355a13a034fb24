// Radios, devices and services: the model objects, and the operations that check their arguments and
// forward to the radio's backend.
#include "vyrBluetoothDiscovery.h"

#include "vcl/SysUtils.h"
#include "vyrBackend.h"
#include "vyrFuncs.h"

namespace vyr {

int CheckRadio(const TvyrBluetoothRadio* radio) {
    if (!radio)
        throw vyrEInvalidArgument(StrRadioNotValid);
    if (!IsTransportAvailable(TRANSPORT_BLUETOOTH))
        return VYR_TRANSPORT_NOT_AVAILABLE;
    if (!IsApiAvailable(radio->Api()) || !BluetoothBackend(radio->Api()))
        return VYR_BLUETOOTH_API_NOT_AVAILABLE;
    return 0;
}

// ---- Radio ----

TvyrBluetoothRadio::TvyrBluetoothRadio() : backend_(BluetoothBackend(api_)) {}

TvyrBluetoothRadio::TvyrBluetoothRadio(TvyrBluetoothApi api) : api_(api), backend_(BluetoothBackend(api)) {}

void TvyrBluetoothRadio::Assign(const TvyrBluetoothRadio* radio) {
    if (!radio)
        throw vyrEInvalidArgument(StrRadioNotValid);
    api_ = radio->api_;
    backend_ = radio->backend_;
}

int TvyrBluetoothRadio::GetAddress(std::u16string& address) const {
    if (const int r = CheckRadio(this))
        return r;
    return Backend().GetRadioAddress(address);
}

int TvyrBluetoothRadio::SetName(const std::u16string& name) const {
    if (const int r = CheckRadio(this))
        return r;
    return Backend().SetRadioName(name);
}

// ---- Device ----

void TvyrBluetoothDevice::SetAddress(const std::u16string& value) {
    if (value == address_)
        return;
    if (!IsValidBluetoothAddressText(value))
        throw vyrEInvalidAddress(vcl::Format(StrInvalidDeviceAddress, value));
    address_ = value;
}

void TvyrBluetoothDevice::Assign(const TvyrBluetoothDevice* device) {
    if (!device)
        throw vyrEInvalidArgument(StrDeviceNotValid);
    address_ = device->address_;
}

int TvyrBluetoothDevice::GetName(const TvyrBluetoothRadio* radio, std::u16string& name) const {
    if (const int r = CheckRadio(radio))
        return r;
    return radio->Backend().GetDeviceName(address_, name);
}

int TvyrBluetoothDevice::GetClassOfDevice(const TvyrBluetoothRadio* radio, int& classOfDevice) const {
    if (const int r = CheckRadio(radio))
        return r;
    return radio->Backend().GetClassOfDevice(address_, classOfDevice);
}

int TvyrBluetoothDevice::Pair(const TvyrBluetoothRadio* radio, const std::u16string& pin) const {
    if (const int r = CheckRadio(radio))
        return r;
    if (pin.empty())
        throw vyrEInvalidArgument(vcl::Format(StrInvalidPin, pin));
    return radio->Backend().Pair(address_, pin);
}

int TvyrBluetoothDevice::Unpair(const TvyrBluetoothRadio* radio) const {
    if (const int r = CheckRadio(radio))
        return r;
    return radio->Backend().Unpair(address_);
}

// ---- Lists ----

void TvyrBluetoothDevices::Assign(const TvyrBluetoothDevices* devices) {
    if (!devices)
        throw vyrEInvalidArgument(StrDevicesNotValid);
    if (devices == this)
        return;
    Clear();
    for (const auto& source : *devices) {
        auto copy = std::make_unique<TvyrBluetoothDevice>();
        copy->Assign(source.get());
        Add(std::move(copy));
    }
}

} // namespace vyr
