// The radio entry points, and the device-interface broadcast the system raises when the air attaches or
// detaches the Microsoft radio.
#include "Internal.h"

#include "vcl/SysUtils.h"
#include "win32/Windows.h"
#include "win32/abi_devbroadcast.h"

#include <cstring>
#include <vector>

namespace bthprops {
namespace ms = stackabi::ms;

void CopyName(const std::string& utf8, char16_t* field, size_t fieldChars) {
    std::u16string wide = vcl::Utf8ToUtf16(utf8);
    if (wide.size() >= fieldChars)
        wide.resize(fieldChars - 1);
    std::memset(field, 0, fieldChars * sizeof(char16_t));
    std::memcpy(field, wide.data(), wide.size() * sizeof(char16_t));
}

namespace {

// The same sources serve "bthprops" and "irprops"; when both are loaded only bthprops raises the
// broadcast, so a registered window hears each change once.
bool ThisModuleBroadcasts() {
    const std::string self = TAVLIN_STACK_STEM;
    if (win::test::ModuleLoadCount(self) == 0)
        return false;
    return self == "bthprops" || win::test::ModuleLoadCount("bthprops") == 0;
}

void BroadcastRadio(bool arrived) {
    namespace dbt = stackabi::dbt;
    static const char16_t kName[] = u"\\\\?\\BTHENUM#{0850302a-b344-4fda-9be9-90576b8d46f0}#RADIO";
    std::vector<unsigned char> record(offsetof(dbt::DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + sizeof kName);
    dbt::DEV_BROADCAST_DEVICEINTERFACE_W head{};
    head.dbcc_size = static_cast<uint32_t>(record.size());
    head.dbcc_devicetype = dbt::DBT_DEVTYP_DEVICEINTERFACE;
    head.dbcc_classguid = ms::GUID_BTHPORT_DEVICE_INTERFACE;
    std::memcpy(record.data(), &head, offsetof(dbt::DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
    std::memcpy(record.data() + offsetof(dbt::DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), kName, sizeof kName);
    Record("BroadcastRadio", arrived ? "arrival" : "removal");
    win::BroadcastDeviceChange(arrived ? win::DBT_DEVICEARRIVAL : win::DBT_DEVICEREMOVECOMPLETE, record.data(),
                               record.size());
}

// Modules stay mapped once loaded, so this runs once per process and the subscription lasts as long.
__attribute__((constructor)) void WatchTheAir() {
    air::Air::Instance().Subscribe([](const air::Notice& n) {
        if (n.stack != kStackKind)
            return;
        if (n.event != air::AirEvent::RadioArrived && n.event != air::AirEvent::RadioRemoved)
            return;
        if (ThisModuleBroadcasts())
            BroadcastRadio(n.event == air::AirEvent::RadioArrived);
    });
}

} // namespace
} // namespace bthprops

namespace stackabi::ms {
using namespace bthprops;

extern "C" HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* pbtfrp, Handle* phRadio) {
    Record("BluetoothFindFirstRadio", pbtfrp ? "size=" + std::to_string(pbtfrp->dwSize) : "params=null");
    if (!pbtfrp || pbtfrp->dwSize != sizeof(BLUETOOTH_FIND_RADIO_PARAMS) || !phRadio) {
        win::SetLastError(win::ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (ShouldFail("BluetoothFindFirstRadio") || !air::Air::Instance().RadioPresent(kStackKind)) {
        win::SetLastError(ERROR_NO_MORE_ITEMS);
        return nullptr;
    }
    *phRadio = win::RegisterHandle(std::make_shared<RadioObject>());
    return win::RegisterHandle(std::make_shared<RadioFindObject>());
}

extern "C" Bool32 BluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND hFind) {
    Record("BluetoothFindRadioClose", win::test::HandleText(hFind));
    if (!win::LookupHandleAs<RadioFindObject>(hFind)) {
        win::SetLastError(win::ERROR_INVALID_HANDLE);
        return 0;
    }
    return win::CloseHandle(hFind);
}

extern "C" uint32_t BluetoothGetRadioInfo(Handle hRadio, BLUETOOTH_RADIO_INFO* pRadioInfo) {
    Record("BluetoothGetRadioInfo", win::test::HandleText(hRadio));
    if (!win::LookupHandleAs<RadioObject>(hRadio))
        return win::ERROR_INVALID_HANDLE;
    if (!pRadioInfo || pRadioInfo->dwSize != sizeof(BLUETOOTH_RADIO_INFO))
        return win::ERROR_INVALID_PARAMETER;
    if (ShouldFail("BluetoothGetRadioInfo"))
        return static_cast<uint32_t>(win::test::Value("BluetoothGetRadioInfo", win::ERROR_NOT_SUPPORTED));
    air::Radio radio = air::Air::Instance().GetRadio(kStackKind);
    if (!radio.present)
        return win::ERROR_INVALID_HANDLE; // the radio behind the handle is gone
    ToBthAddress(radio.address, pRadioInfo->address);
    CopyName(radio.name, pRadioInfo->szName, BLUETOOTH_MAX_NAME_SIZE);
    pRadioInfo->ulClassofDevice = radio.classOfDevice;
    pRadioInfo->lmpSubversion = 0;
    pRadioInfo->manufacturer = 0;
    return ERROR_SUCCESS;
}

} // namespace stackabi::ms
