// Pairing entry points: bonding with a phone of the air and forgetting the bond.
#include "Internal.h"

#include "vcl/SysUtils.h"
#include "win32/Windows.h"

namespace stackabi::ms {
using namespace bthprops;

namespace {
constexpr uint32_t kErrorNotFound = 1168; // ERROR_NOT_FOUND
}

extern "C" uint32_t BluetoothAuthenticateDevice(Hwnd, Handle hRadio, BLUETOOTH_DEVICE_INFO* pbtbi,
                                                const char16_t* pszPasskey, uint32_t ulPasskeyLength) {
    const std::u16string passkey = pszPasskey ? std::u16string(pszPasskey, ulPasskeyLength) : std::u16string();
    Record("BluetoothAuthenticateDevice", vcl::Utf16ToUtf8(passkey) + " len=" + std::to_string(ulPasskeyLength));
    if (hRadio && !win::LookupHandleAs<RadioObject>(hRadio))
        return win::ERROR_INVALID_HANDLE;
    if (!pbtbi || pbtbi->dwSize != sizeof(BLUETOOTH_DEVICE_INFO))
        return win::ERROR_INVALID_PARAMETER;
    if (ShouldFail("BluetoothAuthenticateDevice"))
        return static_cast<uint32_t>(win::test::Value("BluetoothAuthenticateDevice", ERROR_CANCELLED));
    auto& theAir = air::Air::Instance();
    const air::Address address = FromBthAddress(pbtbi->Address);
    if (theAir.IsPaired(address))
        return ERROR_NO_MORE_ITEMS;
    switch (theAir.Pair(kStackKind, address, vcl::Utf16ToUtf8(passkey))) {
    case air::PairResult::Paired:
        pbtbi->fAuthenticated = pbtbi->fRemembered = 1;
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

extern "C" uint32_t BluetoothRemoveDevice(const BLUETOOTH_ADDRESS* pAddress) {
    Record("BluetoothRemoveDevice");
    if (!pAddress)
        return win::ERROR_INVALID_PARAMETER;
    if (ShouldFail("BluetoothRemoveDevice"))
        return static_cast<uint32_t>(win::test::Value("BluetoothRemoveDevice", kErrorNotFound));
    // The system forgets a device it never knew with ERROR_NOT_FOUND.
    return air::Air::Instance().Unpair(FromBthAddress(*pAddress)) ? ERROR_SUCCESS : kErrorNotFound;
}

} // namespace stackabi::ms
