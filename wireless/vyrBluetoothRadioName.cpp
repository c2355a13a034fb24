// A new name for the Microsoft-driven radio: the stack keeps it as "Local Name" in the radio's device
// key, and the radio's driver is asked to read it again.
#include "vyrBluetoothStack.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMicrosoft.h"
#include "vcl/SysUtils.h"
#include "win32/DeviceRegistry.h"
#include "win32/Registry.h"
#include "win32/Windows.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

namespace vyr {
namespace {

namespace ms = stackabi::ms;

constexpr win::DWORD kDigcfPresentProfile = win::DIGCF_PRESENT | stackabi::sp::DIGCF_PROFILE; // 0x0A
// Most ids fit the first buffers; longer ones are read again into the size the system asks for. A
// property that keeps growing between the tries is given up on.
constexpr std::size_t kFirstHardwareIdBytes = 64;
constexpr std::size_t kFirstInstanceIdChars = 32;
constexpr int kGrowTries = 4;

bool Contains(const std::u16string& text, const char16_t* marker) {
    return text.find(marker) != std::u16string::npos;
}

// The device's first hardware id; nullopt when it cannot be read.
std::optional<std::u16string> FirstHardwareId(win::HDEVINFO set, win::SP_DEVINFO_DATA& device) {
    std::vector<win::BYTE> buffer(kFirstHardwareIdBytes);
    for (int i = 0; i < kGrowTries; ++i) {
        win::DWORD type = 0, required = 0;
        if (win::SetupDiGetDeviceRegistryPropertyW(set, &device, win::SPDRP_HARDWAREID, &type, buffer.data(),
                                                   static_cast<win::DWORD>(buffer.size()), &required)) {
            // The first string of the list, never past the bytes the buffer holds.
            const auto* text = reinterpret_cast<const char16_t*>(buffer.data());
            const std::size_t chars = std::min<std::size_t>(required, buffer.size()) / sizeof(char16_t);
            std::size_t n = 0;
            while (n < chars && text[n])
                ++n;
            return std::u16string(text, n);
        }
        if (win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER || required <= buffer.size())
            return std::nullopt;
        buffer.assign(required, 0);
    }
    return std::nullopt;
}

std::optional<std::u16string> InstanceId(win::HDEVINFO set, win::SP_DEVINFO_DATA& device) {
    std::vector<char16_t> buffer(kFirstInstanceIdChars);
    for (int i = 0; i < kGrowTries; ++i) {
        win::DWORD required = 0;
        if (win::SetupDiGetDeviceInstanceIdW(set, &device, buffer.data(), static_cast<win::DWORD>(buffer.size()),
                                             &required)) {
            std::size_t n = 0;
            while (n < buffer.size() && buffer[n])
                ++n;
            return std::u16string(buffer.data(), n);
        }
        if (win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER || required <= buffer.size())
            return std::nullopt;
        buffer.assign(required, 0);
    }
    return std::nullopt;
}

// The instance id of the first present Bluetooth-class device that is not the bus enumerator; empty
// when there is none. A device whose ids cannot be read is passed over.
std::u16string RadioInstanceId() {
    const win::GUID bluetoothClass = std::bit_cast<win::GUID>(stackabi::sp::GUID_DEVCLASS_BLUETOOTH);
    win::HDEVINFO set = win::SetupDiGetClassDevsW(&bluetoothClass, nullptr, nullptr, kDigcfPresentProfile);
    if (set == win::INVALID_HANDLE_VALUE)
        return {};
    std::u16string found;
    win::SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (win::DWORD index = 0; win::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        auto hardwareId = FirstHardwareId(set, device);
        if (!hardwareId || Contains(*hardwareId, ms::kEnumeratorMarker))
            continue;
        auto instanceId = InstanceId(set, device);
        if (!instanceId || instanceId->empty() || Contains(*instanceId, ms::kEnumeratorMarker))
            continue;
        found = *instanceId;
        break;
    }
    win::SetupDiDestroyDeviceInfoList(set);
    return found;
}

std::u16string ComputerName() {
    char16_t buffer[win::MAX_COMPUTERNAME_LENGTH + 1] = {};
    win::DWORD size = win::MAX_COMPUTERNAME_LENGTH + 1;
    if (!win::GetComputerNameW(buffer, &size))
        return {};
    return std::u16string(buffer, std::min<win::DWORD>(size, win::MAX_COMPUTERNAME_LENGTH));
}

// Closes what the rename opened, on every way out.
struct OpenedKey {
    win::HKEY key = nullptr;
    ~OpenedKey() {
        if (key)
            win::RegCloseKey(key);
    }
};
struct OpenedRadio {
    stackabi::Handle handle = nullptr;
    ~OpenedRadio() {
        if (handle)
            win::CloseHandle(handle);
    }
};

} // namespace

int MicrosoftWriteRadioName(const std::u16string& name) {
    const std::u16string instanceId = RadioInstanceId();
    if (instanceId.empty())
        return VYR_INTERNAL_ERROR;

    OpenedKey key;
    const std::u16string path = std::u16string(ms::kEnumKeyPrefix) + instanceId + ms::kDeviceParametersSuffix;
    if (win::RegOpenKeyW(win::HKEY_LOCAL_MACHINE, path.c_str(), &key.key) != win::ERROR_SUCCESS)
        return VYR_INTERNAL_ERROR;

    OpenedRadio radio;
    ms::BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    if (ms::HBLUETOOTH_RADIO_FIND find = vyr::BluetoothFindFirstRadio(&params, &radio.handle))
        vyr::BluetoothFindRadioClose(find);
    if (!radio.handle)
        return VYR_INTERNAL_ERROR;

    const std::u16string computerName = ComputerName();
    if (!name.empty() && name == computerName) {
        // Without its own name the radio goes by the computer's; a value already gone is that state too.
        const win::LONG rc = win::RegDeleteValueW(key.key, ms::kLocalNameValue);
        if (rc != win::ERROR_SUCCESS && rc != win::ERROR_FILE_NOT_FOUND)
            return VYR_INTERNAL_ERROR;
    } else {
        std::string utf8 = vcl::Utf16ToUtf8(name);
        utf8.push_back('\0');
        if (win::RegSetValueExW(key.key, ms::kLocalNameValue, 0, win::REG_BINARY,
                                reinterpret_cast<const win::BYTE*>(utf8.data()),
                                static_cast<win::DWORD>(utf8.size())) != win::ERROR_SUCCESS)
            return VYR_INTERNAL_ERROR;
    }

    std::uint32_t reload = ms::kReloadLocalNameInput;
    const win::DWORD code = IsVistaOrLater() ? ms::IOCTL_RELOAD_LOCAL_NAME : ms::IOCTL_RELOAD_LOCAL_NAME_BEFORE_VISTA;
    win::DWORD returned = 0;
    if (!win::DeviceIoControl(radio.handle, code, &reload, sizeof reload, nullptr, 0, &returned, nullptr))
        return VYR_INTERNAL_ERROR;
    return 0;
}

} // namespace vyr
