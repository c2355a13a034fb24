#include "win32/SetupApi.h"

#include "win32/abi_devbroadcast.h"
#include "sim/air/Air.h"
#include "win32/DeviceRegistry.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"
#include "win32/WinUser.h"

#include <bit>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace win {
namespace {

struct DeviceNode {
    GUID classGuid;
    DWORD devInst;
};

using detail::kBluetoothEnumeratorDevInst;
using detail::kBluetoothRadioDevInst;
using detail::kIrdaDevInst;

GUID ToGuid(const stackabi::AbiGuid& g) {
    return std::bit_cast<GUID>(g);
}

std::vector<DeviceNode> CurrentNodes() {
    std::vector<DeviceNode> nodes;
    auto& air = air::Air::Instance();
    if (air.IrdaPresent())
        nodes.push_back({ToGuid(stackabi::sp::GUID_DEVCLASS_INFRARED), kIrdaDevInst});
    if (air.RadioPresent(static_cast<int>(air::StackKind::Microsoft))) {
        // The bus enumerator comes first, as the system lists it; a radio search has to pass over it.
        nodes.push_back({ToGuid(stackabi::sp::GUID_DEVCLASS_BLUETOOTH), kBluetoothEnumeratorDevInst});
        nodes.push_back({ToGuid(stackabi::sp::GUID_DEVCLASS_BLUETOOTH), kBluetoothRadioDevInst});
    }
    return nodes;
}

struct Sets {
    std::mutex mu;
    std::map<std::uintptr_t, std::vector<DeviceNode>> open;
    std::uintptr_t next = 0x5E700;
};

Sets& S() {
    static Sets* s = new Sets;
    return *s;
}

// A USB device-interface broadcast with a device path after the fixed part, as the system sends it.
void BroadcastUsb(bool arrival, const std::u16string& path) {
    std::vector<unsigned char> record(stackabi::dbt::kMinDeviceInterfaceBroadcastSize + (path.size() + 1) * 2, 0);
    stackabi::dbt::DEV_BROADCAST_DEVICEINTERFACE_W head{};
    head.dbcc_size = static_cast<std::uint32_t>(record.size());
    head.dbcc_devicetype = stackabi::dbt::DBT_DEVTYP_DEVICEINTERFACE;
    head.dbcc_classguid = stackabi::dbt::GUID_DEVINTERFACE_USB_DEVICE;
    std::memcpy(record.data(), &head, stackabi::dbt::kMinDeviceInterfaceBroadcastSize);
    std::memcpy(record.data() + stackabi::dbt::kMinDeviceInterfaceBroadcastSize, path.c_str(), path.size() * 2);
    BroadcastDeviceChange(arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, record.data(), record.size());
}

// The device manager watches the air from its first use to the end of the process.
void StartWatching() {
    static std::once_flag once;
    std::call_once(once, [] {
        air::Air::Instance().Subscribe([](const air::Notice& n) {
            switch (n.event) {
            case air::AirEvent::IrdaArrived:
            case air::AirEvent::IrdaRemoved:
                BroadcastUsb(n.event == air::AirEvent::IrdaArrived, u"\\\\?\\USB#VID_066F&PID_4200#IRDA0001");
                break;
            case air::AirEvent::RadioArrived:
            case air::AirEvent::RadioRemoved:
                if (n.stack == static_cast<int>(air::StackKind::Microsoft))
                    BroadcastUsb(n.event == air::AirEvent::RadioArrived, u"\\\\?\\USB#VID_0A12&PID_0001#BTRADIO1");
                break;
            default:
                break;
            }
        });
    });
}

} // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR, HWND, DWORD flags) {
    test::Record("SetupDiGetClassDevsW", "flags=" + std::to_string(flags));
    StartWatching();
    if (test::ShouldFail("SetupDiGetClassDevsW") || (!classGuid && !(flags & DIGCF_ALLCLASSES))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<DeviceNode> members;
    for (const auto& node : CurrentNodes())
        if ((flags & DIGCF_ALLCLASSES) || node.classGuid == *classGuid) {
            if (node.devInst == kBluetoothRadioDevInst)
                detail::InstallBluetoothRadioKey();
            members.push_back(node);
        }
    std::lock_guard lock(S().mu);
    const std::uintptr_t id = S().next++;
    S().open.emplace(id, std::move(members));
    return reinterpret_cast<HDEVINFO>(id);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) {
    test::Record("SetupDiEnumDeviceInfo", std::to_string(index));
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(S().mu);
    auto it = S().open.find(reinterpret_cast<std::uintptr_t>(set));
    if (it == S().open.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (index >= it->second.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const DeviceNode& node = it->second[index];
    data->ClassGuid = std::bit_cast<stackabi::AbiGuid>(node.classGuid);
    data->DevInst = node.devInst;
    data->Reserved = 0;
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    test::Record("SetupDiDestroyDeviceInfoList");
    std::lock_guard lock(S().mu);
    if (S().open.erase(reinterpret_cast<std::uintptr_t>(set)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

namespace detail {
bool DeviceInSet(HDEVINFO set, DWORD devInst, bool* setExists) {
    std::lock_guard lock(S().mu);
    auto it = S().open.find(reinterpret_cast<std::uintptr_t>(set));
    if (setExists)
        *setExists = it != S().open.end();
    if (it == S().open.end())
        return false;
    for (const auto& node : it->second)
        if (node.devInst == devInst)
            return true;
    return false;
}
} // namespace detail

namespace test {

int OpenDeviceInfoSetCount() {
    std::lock_guard lock(S().mu);
    return static_cast<int>(S().open.size());
}

void RaiseForeignUsbDevice(bool arrival) {
    BroadcastUsb(arrival, u"\\\\?\\USB#VID_0781&PID_5567#STICK0001");
}

} // namespace test
} // namespace win
