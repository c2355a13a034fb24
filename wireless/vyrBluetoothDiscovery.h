// The library's model of Bluetooth radios, remote devices and their services, and the operations that ask
// a stack about them (the local radio's address and name; a device's name, class of device, pairing and
// services). A radio is nothing but the stack that drives it: the library always talks to that stack's
// default radio. A radio picks its stack's backend (vyrBackend.h) when its kind is set; every operation
// checks its arguments here and forwards to that backend, which calls the stack only through its loader's
// wrappers.
//
// Results are library error codes: 0 success, 1 no hidden window (or memory), 2 the stack refused or
// failed, 13 no Bluetooth transport, 14 the radio's stack is not present, 30..33 pairing results, 44 the
// asked service was not found. Argument faults raise; stack faults leave the out-parameters unchanged.
#pragma once

#include "vcl/Classes.h"
#include "vyrAPI.h"
#include "vyrErrors.h"
#include "vyrObjectList.h"
#include "win32/WinTypes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vyr {

// 00000000-0000-1000-8000-00805F9B34FB: a 16- or 32-bit Bluetooth UUID lives in Data1 of this.
inline constexpr win::GUID BluetoothBaseUuid = {
    0x00000000, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
inline win::GUID BluetoothUuid(std::uint32_t shortUuid) {
    win::GUID g = BluetoothBaseUuid;
    g.Data1 = shortUuid;
    return g;
}

class TvyrBluetoothServices;
class TvyrBluetoothBackend;

class TvyrBluetoothRadio : public vcl::TObject {
public:
    TvyrBluetoothRadio();
    explicit TvyrBluetoothRadio(TvyrBluetoothApi api);

    TvyrBluetoothApi Api() const { return api_; }
    // The backend of the radio's stack; only after CheckRadio said 0.
    const TvyrBluetoothBackend& Backend() const { return *backend_; }
    // Copies the stack kind; null raises "Radio parameter is not valid.".
    void Assign(const TvyrBluetoothRadio* radio);

    // The radio's address text "(XX:XX:XX:XX:XX:XX)". Address is left alone on failure.
    int GetAddress(std::u16string& address) const;
    // The radio's friendly name, sent as UTF-8 (cut to the stack's limit where it has one).
    int SetName(const std::u16string& name) const;

private:
    TvyrBluetoothApi api_ = baBlueSoleil;
    const TvyrBluetoothBackend* backend_ = nullptr; // null for a kind no backend serves
};

class TvyrBluetoothDevice : public vcl::TObject {
public:
    TvyrBluetoothDevice() = default;

    const std::u16string& Address() const { return address_; }
    // An equal value does nothing; a text that is no address raises vyrEInvalidAddress.
    void SetAddress(const std::u16string& value);
    // Copies the address; null raises "Device parameter is not valid.".
    void Assign(const TvyrBluetoothDevice* device);

    int GetName(const TvyrBluetoothRadio* radio, std::u16string& name) const;
    // The 24-bit class of device in the low bits.
    int GetClassOfDevice(const TvyrBluetoothRadio* radio, int& classOfDevice) const;
    // An empty PIN raises vyrEInvalidArgument after the radio checks.
    int Pair(const TvyrBluetoothRadio* radio, const std::u16string& pin) const;
    int Unpair(const TvyrBluetoothRadio* radio) const;
    // The device's services (uuid null: all of them). On 0 the list holds exactly the services found.
    int EnumServices(const TvyrBluetoothRadio* radio, TvyrBluetoothServices* services, const win::GUID* uuid) const;

private:
    std::u16string address_ = u"(00:00:00:00:00:00)";
};

class TvyrBluetoothService : public vcl::TObject {
public:
    std::uint8_t Channel() const { return channel_; }
    void SetChannel(std::uint8_t v) { channel_ = v; }
    const std::u16string& Comment() const { return comment_; }
    void SetComment(const std::u16string& v) { comment_ = v; }
    std::uint32_t Handle() const { return handle_; }
    void SetHandle(std::uint32_t v) { handle_ = v; }
    const std::u16string& Name() const { return name_; }
    void SetName(const std::u16string& v) { name_ = v; }
    const win::GUID& Uuid() const { return uuid_; }
    void SetUuid(const win::GUID& v) { uuid_ = v; }

private:
    std::uint8_t channel_ = 0;
    std::u16string comment_;
    std::uint32_t handle_ = 0;
    std::u16string name_;
    win::GUID uuid_ = BluetoothBaseUuid;
};

// The three owning lists. Add takes ownership and returns the index; a null item raises.
template <typename T, const char16_t* const* NilMessage> class TvyrBluetoothList : public TvyrObjectList<T> {
public:
    int Add(T* item) {
        if (!item)
            throw vyrEInvalidArgument(*NilMessage);
        this->Append(std::unique_ptr<T>(item));
        return this->Count() - 1;
    }
    int Add(std::unique_ptr<T> item) { return Add(item.release()); }
};

class TvyrBluetoothRadios : public TvyrBluetoothList<TvyrBluetoothRadio, &StrRadioNotValid> {};
class TvyrBluetoothServices : public TvyrBluetoothList<TvyrBluetoothService, &StrServiceNotValid> {};
class TvyrBluetoothDevices : public TvyrBluetoothList<TvyrBluetoothDevice, &StrDeviceNotValid> {
public:
    // A deep copy of the source's addresses, in order; null raises, a list assigned to itself stays.
    void Assign(const TvyrBluetoothDevices* devices);
};

// Bounds of the waits on a stack's notices (clock milliseconds); a wait that runs out gives 2.
inline constexpr win::DWORD ToshibaPairingWaitMs = 60000;
inline constexpr win::DWORD ToshibaServiceWaitMs = 30000;

// The common checks: a null radio raises, then 13 without a Bluetooth transport, then 14 without the
// radio's stack; 0 when the stack may be asked.
int CheckRadio(const TvyrBluetoothRadio* radio);

} // namespace vyr

// The discovery component lives in its own file pair.
#include "vyrDiscoveryComponent.h"
