// Radios, devices and services: the model objects and the per-stack operations on them.
#include "vyrBluetoothDiscovery.h"

#include "vcl/SysUtils.h"
#include "vyrBlueSoleil.h"
#include "vyrBluetoothStack.h"
#include "vyrFuncs.h"
#include "vyrMicrosoft.h"
#include "vyrToshiba.h"
#include "vyrWidComm.h"
#include "win32/Windows.h"

#include <algorithm>
#include <cstring>

namespace vyr {

namespace bsold = stackabi::bsold;
namespace bs = stackabi::bs;

// ---- Shared helpers ----

std::u16string DecodeStackText(const void* data, std::size_t capacity) {
    const auto* bytes = static_cast<const char*>(data);
    // The stack may fill the buffer without a terminator: never read past it.
    const std::size_t n = strnlen(bytes, capacity);
    return vcl::Utf8ToUtf16(std::string_view(bytes, n));
}

std::string CutUtf8(const std::u16string& text, std::size_t limit) {
    std::string utf8 = vcl::Utf16ToUtf8(text);
    if (utf8.size() > limit)
        utf8.resize(limit);
    return utf8;
}

int CheckRadio(const TvyrBluetoothRadio* radio) {
    if (!radio)
        throw vyrEInvalidArgument(StrRadioNotValid);
    if (!IsTransportAvailable(TRANSPORT_BLUETOOTH))
        return VYR_TRANSPORT_NOT_AVAILABLE;
    if (!IsApiAvailable(radio->Api()))
        return VYR_BLUETOOTH_API_NOT_AVAILABLE;
    return 0;
}

namespace {

void AddressBytes(const std::u16string& address, std::uint8_t (&bytes)[6]) {
    AddressTextToBytes(address, bytes);
}

// The BlueSoleil newer interface names devices by handle; 0 when the older interface is in use.
int BlueSoleilHandleIfNewer(const std::u16string& address, bool& newer) {
    newer = BlueSoleilUsesNewerInterface();
    return newer ? BlueSoleilDeviceHandle(address) : 0;
}

bsold::BLUETOOTH_DEVICE_INFO_EX BlueSoleilRecordEx(const std::u16string& address) {
    bsold::BLUETOOTH_DEVICE_INFO_EX rec{};
    rec.dwSize = sizeof rec;
    AddressTextToBtDeviceInfoEx(address, &rec);
    return rec;
}

bsold::BLUETOOTH_DEVICE_INFO BlueSoleilRecord(const std::u16string& address) {
    bsold::BLUETOOTH_DEVICE_INFO rec{};
    rec.dwSize = sizeof rec;
    AddressTextToBtDeviceInfo(address, &rec);
    return rec;
}

ms::BLUETOOTH_DEVICE_INFO MicrosoftRecord(const std::u16string& address) {
    ms::BLUETOOTH_DEVICE_INFO rec{};
    rec.dwSize = sizeof rec;
    AddressTextToMsDeviceInfo(address, &rec);
    return rec;
}

// The Microsoft radio's handle (the search handle is closed at once); null when there is none.
stackabi::Handle MicrosoftRadioHandle() {
    ms::BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    stackabi::Handle radio = nullptr;
    ms::HBLUETOOTH_RADIO_FIND find = vyr::BluetoothFindFirstRadio(&params, &radio);
    if (find)
        vyr::BluetoothFindRadioClose(find);
    return radio;
}

bool MicrosoftRadioInfo(ms::BLUETOOTH_RADIO_INFO& info) {
    stackabi::Handle radio = MicrosoftRadioHandle();
    if (!radio)
        return false;
    info = {};
    info.dwSize = sizeof info;
    const bool ok = vyr::BluetoothGetRadioInfo(radio, &info) == ms::ERROR_SUCCESS;
    win::CloseHandle(radio);
    return ok;
}

std::u16string WideField(const char16_t* field, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && field[n])
        ++n;
    return std::u16string(field, n);
}

} // namespace

// ---- Radio ----

void TvyrBluetoothRadio::Assign(const TvyrBluetoothRadio* radio) {
    if (!radio)
        throw vyrEInvalidArgument(StrRadioNotValid);
    api_ = radio->api_;
}

int TvyrBluetoothRadio::GetAddress(std::u16string& address) const {
    if (const int r = CheckRadio(this))
        return r;
    switch (api_) {
    case baBlueSoleil: {
        bsold::BLUETOOTH_DEVICE_INFO_EX rec{};
        rec.dwSize = sizeof rec;
        if (vyr::BT_GetLocalDeviceInfo(bsold::BT_INFO_ADDRESS, &rec) != bsold::BT_SUCCESS)
            return VYR_INTERNAL_ERROR;
        address = BytesToAddressText(rec.address, 6, true);
        return 0;
    }
    case baMicrosoft: {
        ms::BLUETOOTH_RADIO_INFO info{};
        if (!MicrosoftRadioInfo(info))
            return VYR_INTERNAL_ERROR;
        address = BytesToAddressText(info.address.rgBytes, 6, true);
        return 0;
    }
    case baToshiba: {
        tos::BTLOCALINFO2 info{};
        tos::BTSTATUS status = 0;
        if (!vyr::BtGetLocalInfo2(&info, &status))
            return VYR_INTERNAL_ERROR;
        address = BytesToAddressText(info.BdAddr, 6, false);
        return 0;
    }
    case baWidComm: {
        wd::WD_DEV_VERSION_INFO info{};
        if (!vyr::WD_GetLocalDeviceVersionInfo(&info))
            return VYR_INTERNAL_ERROR;
        address = BytesToAddressText(info.BdAddr, 6, false);
        return 0;
    }
    }
    return VYR_INTERNAL_ERROR;
}

int TvyrBluetoothRadio::SetName(const std::u16string& name) const {
    if (const int r = CheckRadio(this))
        return r;
    switch (api_) {
    case baBlueSoleil: {
        bsold::BLUETOOTH_DEVICE_INFO rec{};
        rec.dwSize = sizeof rec;
        const std::string utf8 = CutUtf8(name, bsold::kDeviceNameSize);
        // Up to 64 bytes in the name field; the terminator after a full name lands in the padding.
        std::memcpy(reinterpret_cast<std::uint8_t*>(&rec) + offsetof(bsold::BLUETOOTH_DEVICE_INFO, szName), utf8.data(),
                    utf8.size());
        return vyr::BT_SetLocalDeviceInfo(bsold::BT_INFO_NAME, &rec) == bsold::BT_SUCCESS ? 0 : VYR_INTERNAL_ERROR;
    }
    case baMicrosoft:
        return MicrosoftSetRadioName(name);
    case baToshiba: {
        std::uint8_t buffer[tos::kNameBufferSize] = {};
        const std::string utf8 = CutUtf8(name, 248);
        std::memcpy(buffer, utf8.data(), utf8.size());
        tos::BTSTATUS status = 0;
        return vyr::BtSetLocalDeviceName(buffer, &status) ? 0 : VYR_INTERNAL_ERROR;
    }
    case baWidComm: {
        std::uint8_t block[wd::kNameSize] = {};
        const std::string utf8 = CutUtf8(name, wd::kNameSize);
        std::memcpy(block, utf8.data(), utf8.size());
        return vyr::WD_SetLocalDeviceName(block) ? 0 : VYR_INTERNAL_ERROR;
    }
    }
    return VYR_INTERNAL_ERROR;
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
    switch (radio->Api()) {
    case baBlueSoleil: {
        bool newer = false;
        const int handle = BlueSoleilHandleIfNewer(address_, newer);
        if (newer) {
            if (!handle)
                return VYR_INTERNAL_ERROR;
            std::uint8_t buffer[bs::kRemoteNameSize] = {};
            std::uint16_t size = sizeof buffer;
            if (vyr::Btsdk_GetRemoteDeviceName(static_cast<std::uint32_t>(handle), buffer, &size) != bs::BTSDK_OK) {
                std::memset(buffer, 0, sizeof buffer);
                size = sizeof buffer;
                if (vyr::Btsdk_UpdateRemoteDeviceName(static_cast<std::uint32_t>(handle), buffer, &size) !=
                    bs::BTSDK_OK)
                    return VYR_INTERNAL_ERROR;
            }
            name = DecodeStackText(buffer, sizeof buffer);
            return 0;
        }
        auto rec = BlueSoleilRecordEx(address_);
        if (vyr::BT_GetRemoteDeviceInfo(bsold::BT_INFO_NAME, &rec) != bsold::BT_SUCCESS)
            return VYR_INTERNAL_ERROR;
        name = DecodeStackText(rec.szName, sizeof rec.szName);
        return 0;
    }
    case baMicrosoft: {
        auto rec = MicrosoftRecord(address_);
        if (vyr::BluetoothGetDeviceInfo(nullptr, &rec) != ms::ERROR_SUCCESS)
            return VYR_INTERNAL_ERROR;
        name = WideField(rec.szName, ms::BLUETOOTH_MAX_NAME_SIZE);
        return 0;
    }
    case baToshiba: {
        std::uint8_t bytes[6];
        AddressBytes(address_, bytes);
        std::uint8_t buffer[tos::kNameBufferSize] = {};
        tos::BTSTATUS status = 0;
        if (!vyr::BtGetRemoteName(bytes, buffer, &status))
            return VYR_INTERNAL_ERROR;
        name = DecodeStackText(buffer, sizeof buffer);
        return 0;
    }
    case baWidComm: {
        std::uint8_t bytes[6];
        AddressBytes(address_, bytes);
        std::uint8_t buffer[wd::kNameSize] = {};
        if (!vyr::WD_GetRemoteDeviceName(bytes, buffer))
            return VYR_INTERNAL_ERROR;
        name = DecodeStackText(buffer, sizeof buffer);
        return 0;
    }
    }
    return VYR_INTERNAL_ERROR;
}

int TvyrBluetoothDevice::GetClassOfDevice(const TvyrBluetoothRadio* radio, int& classOfDevice) const {
    if (const int r = CheckRadio(radio))
        return r;
    switch (radio->Api()) {
    case baBlueSoleil: {
        bool newer = false;
        const int handle = BlueSoleilHandleIfNewer(address_, newer);
        if (newer) {
            if (!handle)
                return VYR_INTERNAL_ERROR;
            std::uint32_t value = 0;
            if (vyr::Btsdk_GetRemoteDeviceClass(static_cast<std::uint32_t>(handle), &value) != bs::BTSDK_OK)
                return VYR_INTERNAL_ERROR;
            classOfDevice = static_cast<int>(value);
            return 0;
        }
        auto rec = BlueSoleilRecordEx(address_);
        if (vyr::BT_GetRemoteDeviceInfo(bsold::BT_INFO_CLASS, &rec) != bsold::BT_SUCCESS)
            return VYR_INTERNAL_ERROR;
        classOfDevice = rec.classOfDevice[2] << 16 | rec.classOfDevice[1] << 8 | rec.classOfDevice[0];
        return 0;
    }
    case baMicrosoft: {
        auto rec = MicrosoftRecord(address_);
        if (vyr::BluetoothGetDeviceInfo(nullptr, &rec) != ms::ERROR_SUCCESS)
            return VYR_INTERNAL_ERROR;
        classOfDevice = static_cast<int>(rec.ulClassofDevice);
        return 0;
    }
    case baToshiba: {
        std::uint8_t bytes[6];
        AddressBytes(address_, bytes);
        std::uint32_t value = 0;
        tos::BTSTATUS status = 0;
        if (!vyr::BtGetRemoteClassOfDevice(bytes, &value, &status))
            return VYR_INTERNAL_ERROR;
        classOfDevice = static_cast<int>(value);
        return 0;
    }
    case baWidComm: {
        std::uint8_t bytes[6];
        AddressBytes(address_, bytes);
        std::uint8_t cod[wd::kClassOfDeviceSize] = {};
        if (!vyr::WD_GetRemoteDeviceCOD(bytes, cod))
            return VYR_INTERNAL_ERROR;
        classOfDevice = cod[0] << 16 | cod[1] << 8 | cod[2];
        return 0;
    }
    }
    return VYR_INTERNAL_ERROR;
}

int TvyrBluetoothDevice::Pair(const TvyrBluetoothRadio* radio, const std::u16string& pin) const {
    if (const int r = CheckRadio(radio))
        return r;
    if (pin.empty())
        throw vyrEInvalidArgument(vcl::Format(StrInvalidPin, pin));
    const std::string pin8 = vcl::Utf16ToUtf8(pin);
    switch (radio->Api()) {
    case baBlueSoleil: {
        bool newer = false;
        const int handle = BlueSoleilHandleIfNewer(address_, newer);
        if (newer) {
            if (vyr::Btsdk_SetFixedPinCode(pin8.c_str(), static_cast<std::uint16_t>(pin8.size())) != bs::BTSDK_OK)
                return VYR_INTERNAL_ERROR;
            switch (vyr::Btsdk_PairDevice(static_cast<std::uint32_t>(handle))) {
            case bs::BTSDK_OK:
                return 0;
            case bs::BTSDK_ER_PAIR_AUTH_FAILED:
                return VYR_AUTHENTICATION_FAILED;
            case bs::BTSDK_ER_PAIR_CANCELLED:
                return VYR_CANCELLED_BY_USER;
            case bs::BTSDK_ER_PAIR_DENIED:
                return VYR_ACCESS_DENIED;
            default:
                return VYR_INTERNAL_ERROR;
            }
        }
        const auto rec = BlueSoleilRecord(address_);
        switch (vyr::BT_PairDevice(&rec, static_cast<std::uint16_t>(pin8.size()), pin8.c_str(), 0, 0)) {
        case bsold::BT_SUCCESS:
            return 0;
        case bsold::BT_ERROR_ALREADY_PAIRED:
            return VYR_ALREADY_PAIRED;
        case bsold::BT_ERROR_PAIR_AUTH_FAILED:
            return VYR_AUTHENTICATION_FAILED;
        default:
            return VYR_INTERNAL_ERROR;
        }
    }
    case baMicrosoft: {
        auto rec = MicrosoftRecord(address_);
        switch (vyr::BluetoothAuthenticateDevice(nullptr, nullptr, &rec, pin.c_str(),
                                                 static_cast<std::uint32_t>(pin.size()))) {
        case ms::ERROR_SUCCESS:
            return 0;
        case ms::ERROR_ACCESS_DENIED:
            return VYR_ACCESS_DENIED;
        case ms::ERROR_NO_MORE_ITEMS:
            return VYR_ALREADY_PAIRED;
        case ms::ERROR_CANCELLED:
            return VYR_CANCELLED_BY_USER;
        case ms::ERROR_NOT_AUTHENTICATED:
            return VYR_AUTHENTICATION_FAILED;
        default:
            return VYR_INTERNAL_ERROR;
        }
    }
    case baToshiba:
        return ToshibaPair(address_, pin8);
    case baWidComm: {
        std::uint8_t bytes[6];
        AddressBytes(address_, bytes);
        return vyr::WD_Bond(bytes, pin8.c_str());
    }
    }
    return VYR_INTERNAL_ERROR;
}

int TvyrBluetoothDevice::Unpair(const TvyrBluetoothRadio* radio) const {
    if (const int r = CheckRadio(radio))
        return r;
    switch (radio->Api()) {
    case baBlueSoleil: {
        bool newer = false;
        const int handle = BlueSoleilHandleIfNewer(address_, newer);
        if (newer) {
            if (!handle)
                return VYR_INTERNAL_ERROR;
            return vyr::Btsdk_UnPairDevice(static_cast<std::uint32_t>(handle)) == bs::BTSDK_OK ? 0 : VYR_INTERNAL_ERROR;
        }
        const auto rec = BlueSoleilRecordEx(address_);
        return vyr::BT_UnpairDevice(rec.address) == bsold::BT_SUCCESS ? 0 : VYR_INTERNAL_ERROR;
    }
    case baMicrosoft: {
        const auto rec = MicrosoftRecord(address_);
        return vyr::BluetoothRemoveDevice(&rec.Address) == ms::ERROR_SUCCESS ? 0 : VYR_INTERNAL_ERROR;
    }
    case baToshiba:
        return ToshibaDeleteLinkKey(address_) ? 0 : VYR_INTERNAL_ERROR;
    case baWidComm: {
        std::uint8_t bytes[6];
        AddressBytes(address_, bytes);
        return vyr::WD_UnBond(bytes) ? 0 : VYR_INTERNAL_ERROR;
    }
    }
    return VYR_INTERNAL_ERROR;
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
