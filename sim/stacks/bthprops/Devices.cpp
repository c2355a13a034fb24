// The remote-device entry points: what the system knows of a phone, rendered from the air.
#include "Internal.h"

#include "win32/Windows.h"

namespace stackabi::ms {
using namespace bthprops;

namespace {
constexpr uint32_t kErrorNotFound = 1168; // ERROR_NOT_FOUND
}

extern "C" uint32_t BluetoothGetDeviceInfo(Handle hRadio, BLUETOOTH_DEVICE_INFO* pbtdi) {
    Record("BluetoothGetDeviceInfo", win::test::HandleText(hRadio));
    if (hRadio && !win::LookupHandleAs<RadioObject>(hRadio))
        return win::ERROR_INVALID_HANDLE;
    if (!pbtdi || pbtdi->dwSize != sizeof(BLUETOOTH_DEVICE_INFO))
        return win::ERROR_INVALID_PARAMETER;
    if (ShouldFail("BluetoothGetDeviceInfo"))
        return static_cast<uint32_t>(win::test::Value("BluetoothGetDeviceInfo", kErrorNotFound));
    auto& theAir = air::Air::Instance();
    if (!theAir.RadioPresent(kStackKind))
        return kErrorNotFound;
    const air::Address address = FromBthAddress(pbtdi->Address);
    auto phone = theAir.FindPhone(address);
    if (!phone || !phone->ReachableFrom(kStackKind))
        return kErrorNotFound;
    pbtdi->ulClassofDevice = phone->classOfDevice;
    pbtdi->fConnected = 0;
    pbtdi->fRemembered = phone->pairing.paired ? 1 : 0;
    pbtdi->fAuthenticated = phone->pairing.paired ? 1 : 0;
    pbtdi->stLastSeen = {};
    pbtdi->stLastUsed = {};
    std::string name;
    // A name the phone does not give yet leaves the field empty, as the system's cache would.
    if (theAir.ReadName(address, name) != air::NameResult::Ok)
        name.clear();
    CopyName(name, pbtdi->szName, BLUETOOTH_MAX_NAME_SIZE);
    return ERROR_SUCCESS;
}

extern "C" uint32_t BluetoothRemoveDevice(const BLUETOOTH_ADDRESS* pAddress) {
    Record("BluetoothRemoveDevice", pAddress ? air::AddressToText(FromBthAddress(*pAddress)) : "null");
    if (!pAddress)
        return win::ERROR_INVALID_PARAMETER;
    if (ShouldFail("BluetoothRemoveDevice"))
        return static_cast<uint32_t>(win::test::Value("BluetoothRemoveDevice", kErrorNotFound));
    return air::Air::Instance().Unpair(FromBthAddress(*pAddress)) ? ERROR_SUCCESS : kErrorNotFound;
}

// Pairing as the system's own dialog-less call does it: the passkey is UTF-16 of ulPasskeyLength
// characters; the phone's answer decides the result.
extern "C" uint32_t BluetoothAuthenticateDevice(Hwnd hwndParent, Handle hRadio, BLUETOOTH_DEVICE_INFO* pbtbi,
                                                const char16_t* pszPasskey, uint32_t ulPasskeyLength) {
    (void)hwndParent;
    Record("BluetoothAuthenticateDevice",
           pbtbi ? air::AddressToText(FromBthAddress(pbtbi->Address)) + " len=" + std::to_string(ulPasskeyLength)
                 : "null");
    if (hRadio && !win::LookupHandleAs<RadioObject>(hRadio))
        return win::ERROR_INVALID_HANDLE;
    if (!pbtbi || pbtbi->dwSize != sizeof(BLUETOOTH_DEVICE_INFO) || (ulPasskeyLength && !pszPasskey) ||
        ulPasskeyLength > 16)
        return win::ERROR_INVALID_PARAMETER;
    if (ShouldFail("BluetoothAuthenticateDevice"))
        return static_cast<uint32_t>(win::test::Value("BluetoothAuthenticateDevice", ERROR_CANCELLED));
    auto& theAir = air::Air::Instance();
    if (!theAir.RadioPresent(kStackKind))
        return kErrorNotFound;
    const air::Address address = FromBthAddress(pbtbi->Address);
    if (theAir.IsPaired(address))
        return ERROR_NO_MORE_ITEMS;
    std::string pin;
    for (uint32_t i = 0; i < ulPasskeyLength; ++i)
        pin += pszPasskey[i] < 0x80 ? static_cast<char>(pszPasskey[i]) : '?';
    switch (theAir.Pair(kStackKind, address, pin)) {
    case air::PairResult::Paired:
        pbtbi->fAuthenticated = 1;
        pbtbi->fRemembered = 1;
        return ERROR_SUCCESS;
    case air::PairResult::WrongPin:
        return ERROR_NOT_AUTHENTICATED;
    case air::PairResult::Refused:
        return ERROR_ACCESS_DENIED;
    case air::PairResult::Timeout:
        return ERROR_CANCELLED;
    case air::PairResult::NotFound:
        break;
    }
    return kErrorNotFound;
}

} // namespace stackabi::ms
