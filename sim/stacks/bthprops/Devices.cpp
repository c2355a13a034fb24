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

} // namespace stackabi::ms
