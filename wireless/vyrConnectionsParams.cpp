// The connection parameter objects.
#include "vyrConnections.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"

#include <cstring>

namespace vyr {

namespace {

// The rate each named baud rate stands for; brCustom has none.
constexpr win::DWORD BaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                    19200, 38400, 56000, 57600, 115200, 128000, 256000};
static_assert(sizeof(BaudRates) / sizeof(BaudRates[0]) == brCustom);

} // namespace

// ---- TvyrCustomConnectionParams ----

TvyrCustomConnectionParams::TvyrCustomConnectionParams(TvyrCustomConnection* connection) : connection_(connection) {
    if (!connection_)
        throw vyrEInvalidArgument(StrConnectionRequired);
}

void TvyrCustomConnectionParams::CheckClosed() const {
    if (!connection_->IsClosed())
        throw vyrEConnectionActive(StrConnectionActive);
}

// ---- TvyrBuffers ----

TvyrBuffers::TvyrBuffers(TvyrCustomConnection* connection) : TvyrCustomConnectionParams(connection) {}

void TvyrBuffers::SetReadBuffer(win::DWORD value) {
    if (value == readBuffer_)
        return;
    CheckClosed();
    if (value == 0)
        throw vyrEInvalidArgument(StrInvalidBufferSize);
    readBuffer_ = value;
}

void TvyrBuffers::SetWriteBuffer(win::DWORD value) {
    if (value == writeBuffer_)
        return;
    CheckClosed();
    if (value == 0)
        throw vyrEInvalidArgument(StrInvalidBufferSize);
    writeBuffer_ = value;
}

void TvyrBuffers::Assign(const vcl::TPersistent* source) {
    if (auto* src = dynamic_cast<const TvyrBuffers*>(source)) {
        SetReadBuffer(src->ReadBuffer());
        SetWriteBuffer(src->WriteBuffer());
        return;
    }
    TvyrCustomConnectionParams::Assign(source);
}

void TvyrBuffers::AssignTo(vcl::TPersistent* dest) const {
    if (auto* d = dynamic_cast<TvyrBuffers*>(dest)) {
        d->SetReadBuffer(readBuffer_);
        d->SetWriteBuffer(writeBuffer_);
        return;
    }
    TvyrCustomConnectionParams::AssignTo(dest);
}

// ---- TvyrCustomBuetoothParams ----

TvyrCustomBuetoothParams::TvyrCustomBuetoothParams(TvyrCustomConnection* connection)
    : TvyrCustomConnectionParams(connection) {}

TvyrCustomBuetoothParams::~TvyrCustomBuetoothParams() = default;

void TvyrCustomBuetoothParams::SetAuthentication(bool value) {
    if (value == authentication_)
        return;
    CheckClosed();
    authentication_ = value;
    if (!value)
        encryption_ = false;
}

void TvyrCustomBuetoothParams::SetChannel(win::BYTE value) {
    Update(channel_, value);
}

void TvyrCustomBuetoothParams::SetEncryption(bool value) {
    if (value == encryption_)
        return;
    CheckClosed();
    encryption_ = value;
    if (value)
        authentication_ = true;
}

void TvyrCustomBuetoothParams::SetRadio(const TvyrBluetoothRadio* value) {
    // Compared by identity with the owned copy, so any outside radio is always copied in.
    if (value == radio_.get())
        return;
    CheckClosed();
    if (!value) {
        radio_.reset();
        return;
    }
    auto copy = radio_ ? std::move(radio_) : std::make_unique<TvyrBluetoothRadio>();
    copy->Assign(value);
    radio_ = std::move(copy);
}

void TvyrCustomBuetoothParams::SetService(const win::GUID& value) {
    if (std::memcmp(&value, &service_, sizeof(win::GUID)) == 0)
        return;
    CheckClosed();
    service_ = value;
}

void TvyrCustomBuetoothParams::CopyBluetoothFieldsTo(TvyrCustomBuetoothParams& dest) const {
    dest.SetAuthentication(authentication_);
    dest.SetChannel(channel_);
    dest.SetEncryption(encryption_);
    dest.SetRadio(radio_.get());
    dest.SetService(service_);
}

void TvyrCustomBuetoothParams::Assign(const vcl::TPersistent* source) {
    if (auto* src = dynamic_cast<const TvyrCustomBuetoothParams*>(source)) {
        src->CopyBluetoothFieldsTo(*this);
        return;
    }
    TvyrCustomConnectionParams::Assign(source);
}

void TvyrCustomBuetoothParams::AssignTo(vcl::TPersistent* dest) const {
    if (auto* d = dynamic_cast<TvyrCustomBuetoothParams*>(dest)) {
        CopyBluetoothFieldsTo(*d);
        return;
    }
    TvyrCustomConnectionParams::AssignTo(dest);
}

// ---- TvyrClientBluetoothParams ----

TvyrClientBluetoothParams::TvyrClientBluetoothParams(TvyrCustomConnection* connection)
    : TvyrCustomBuetoothParams(connection) {}

void TvyrClientBluetoothParams::SetAddress(const std::u16string& value) {
    if (value == address_)
        return;
    CheckClosed();
    if (!IsValidBluetoothAddressText(value))
        throw vyrEInvalidAddress(vcl::Format(StrInvalidClientAddress, value));
    address_ = value;
}

void TvyrClientBluetoothParams::Assign(const vcl::TPersistent* source) {
    if (auto* src = dynamic_cast<const TvyrClientBluetoothParams*>(source)) {
        SetAddress(src->Address());
        src->CopyBluetoothFieldsTo(*this);
        return;
    }
    TvyrCustomBuetoothParams::Assign(source);
}

void TvyrClientBluetoothParams::AssignTo(vcl::TPersistent* dest) const {
    if (auto* d = dynamic_cast<TvyrClientBluetoothParams*>(dest)) {
        d->SetAddress(address_);
        CopyBluetoothFieldsTo(*d);
        return;
    }
    TvyrCustomBuetoothParams::AssignTo(dest);
}

// ---- TvyrCustomIrDAParams ----

TvyrCustomIrDAParams::TvyrCustomIrDAParams(TvyrCustomConnection* connection) : TvyrCustomConnectionParams(connection) {}

void TvyrCustomIrDAParams::SetNineWire(bool value) {
    Update(nineWire_, value);
}

void TvyrCustomIrDAParams::SetService(const std::u16string& value) {
    if (value == service_)
        return;
    CheckClosed();
    if (value.empty())
        throw vyrEInvalidArgument(StrInvalidService);
    service_ = value;
}

void TvyrCustomIrDAParams::CopyIrDAFieldsTo(TvyrCustomIrDAParams& dest) const {
    dest.SetNineWire(nineWire_);
    dest.SetService(service_);
}

void TvyrCustomIrDAParams::Assign(const vcl::TPersistent* source) {
    if (auto* src = dynamic_cast<const TvyrCustomIrDAParams*>(source)) {
        src->CopyIrDAFieldsTo(*this);
        return;
    }
    TvyrCustomConnectionParams::Assign(source);
}

void TvyrCustomIrDAParams::AssignTo(vcl::TPersistent* dest) const {
    if (auto* d = dynamic_cast<TvyrCustomIrDAParams*>(dest)) {
        CopyIrDAFieldsTo(*d);
        return;
    }
    TvyrCustomConnectionParams::AssignTo(dest);
}

// ---- TvyrClientIrDAParams ----

TvyrClientIrDAParams::TvyrClientIrDAParams(TvyrCustomConnection* connection) : TvyrCustomIrDAParams(connection) {}

void TvyrClientIrDAParams::SetAddress(const std::u16string& value) {
    if (value == address_)
        return;
    CheckClosed();
    if (!IsValidIrDAAddressText(value))
        throw vyrEInvalidAddress(vcl::Format(StrInvalidIrDAAddress, value));
    address_ = value;
}

void TvyrClientIrDAParams::Assign(const vcl::TPersistent* source) {
    if (auto* src = dynamic_cast<const TvyrClientIrDAParams*>(source)) {
        SetAddress(src->Address());
        src->CopyIrDAFieldsTo(*this);
        return;
    }
    TvyrCustomIrDAParams::Assign(source);
}

void TvyrClientIrDAParams::AssignTo(vcl::TPersistent* dest) const {
    if (auto* d = dynamic_cast<TvyrClientIrDAParams*>(dest)) {
        d->SetAddress(address_);
        CopyIrDAFieldsTo(*d);
        return;
    }
    TvyrCustomIrDAParams::AssignTo(dest);
}

// ---- TvyrClientSerialParams ----

TvyrClientSerialParams::TvyrClientSerialParams(TvyrCustomConnection* connection)
    : TvyrCustomConnectionParams(connection) {}

void TvyrClientSerialParams::SetBaudRate(TvyrBaudRate value) {
    if (value == baudRate_)
        return;
    CheckClosed();
    if (value > brCustom)
        throw vyrEInvalidArgument(StrInvalidBaudRate);
    baudRate_ = value;
    if (value != brCustom)
        baudRateValue_ = BaudRates[value];
}

void TvyrClientSerialParams::SetBaudRateValue(win::DWORD value) {
    if (value == baudRateValue_)
        return;
    CheckClosed();
    if (value == 0)
        throw vyrEInvalidArgument(StrInvalidBaudRate);
    baudRateValue_ = value;
    baudRate_ = brCustom;
    for (int i = 0; i < brCustom; ++i)
        if (BaudRates[i] == value)
            baudRate_ = static_cast<TvyrBaudRate>(i);
}

void TvyrClientSerialParams::SetByteSize(TvyrByteSize value) {
    Update(byteSize_, value);
}

void TvyrClientSerialParams::SetParity(TvyrParity value) {
    Update(parity_, value);
}

void TvyrClientSerialParams::SetPort(win::DWORD value) {
    if (value == port_)
        return;
    CheckClosed();
    if (value == 0)
        throw vyrEInvalidArgument(StrInvalidPortNumber);
    port_ = value;
}

void TvyrClientSerialParams::SetStopBits(TvyrStopBits value) {
    Update(stopBits_, value);
}

void TvyrClientSerialParams::Assign(const vcl::TPersistent* source) {
    if (auto* src = dynamic_cast<const TvyrClientSerialParams*>(source)) {
        src->AssignTo(this);
        return;
    }
    TvyrCustomConnectionParams::Assign(source);
}

void TvyrClientSerialParams::AssignTo(vcl::TPersistent* dest) const {
    if (auto* d = dynamic_cast<TvyrClientSerialParams*>(dest)) {
        d->SetBaudRate(baudRate_);
        d->SetBaudRateValue(baudRateValue_);
        d->SetByteSize(byteSize_);
        d->SetParity(parity_);
        d->SetPort(port_);
        d->SetStopBits(stopBits_);
        return;
    }
    TvyrCustomConnectionParams::AssignTo(dest);
}

} // namespace vyr
