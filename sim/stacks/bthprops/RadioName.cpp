// The radio's name reload: after the name in the radio's "Device Parameters" key has changed, the
// driver is asked to read it again. It takes the control code of the running system only, reads
// "Local Name" (UTF-8 up to its first NUL) and gives the radio that name; without the value the radio
// goes back to the computer's name.
#include "Internal.h"

#include "vcl/SysUtils.h"
#include "win32/Registry.h"
#include "win32/WinBase.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace bthprops {
namespace ms = stackabi::ms;

namespace {

bool SystemIsVistaOrLater() {
    win::OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return win::GetVersionExA(&info) && info.dwPlatformId == win::VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 6;
}

// The name the registry gives the radio now; false when the key cannot be read.
bool ConfiguredName(std::string& name) {
    const std::u16string key =
        std::u16string(ms::kEnumKeyPrefix) + win::MicrosoftRadioInstanceId() + ms::kDeviceParametersSuffix;
    win::HKEY hkey = nullptr;
    if (win::RegOpenKeyW(win::HKEY_LOCAL_MACHINE, key.c_str(), &hkey) != win::ERROR_SUCCESS)
        return false;
    win::DWORD type = 0, size = 0;
    win::LONG rc = win::RegQueryValueExW(hkey, ms::kLocalNameValue, nullptr, &type, nullptr, &size);
    std::vector<win::BYTE> data;
    if (rc == win::ERROR_SUCCESS && type == win::REG_BINARY) {
        data.resize(size);
        rc = win::RegQueryValueExW(hkey, ms::kLocalNameValue, nullptr, &type, data.data(), &size);
        data.resize(rc == win::ERROR_SUCCESS ? size : 0);
    }
    win::RegCloseKey(hkey);
    if (rc == win::ERROR_FILE_NOT_FOUND || (rc == win::ERROR_SUCCESS && type != win::REG_BINARY)) {
        // No usable value: the radio is known by the computer's name.
        char16_t buffer[win::MAX_COMPUTERNAME_LENGTH + 1] = {};
        win::DWORD chars = win::MAX_COMPUTERNAME_LENGTH + 1;
        name = win::GetComputerNameW(buffer, &chars) ? vcl::Utf16ToUtf8(std::u16string(buffer, chars)) : "";
        return true;
    }
    if (rc != win::ERROR_SUCCESS)
        return false;
    const auto nul = std::find(data.begin(), data.end(), win::BYTE{0});
    name.assign(data.begin(), nul);
    return true;
}

} // namespace

win::DWORD RadioObject::IoControl(win::DWORD code, const void* in, win::DWORD inSize, void*, win::DWORD,
                                  win::DWORD* returned) {
    if (returned)
        *returned = 0;
    const win::DWORD expected =
        SystemIsVistaOrLater() ? ms::IOCTL_RELOAD_LOCAL_NAME : ms::IOCTL_RELOAD_LOCAL_NAME_BEFORE_VISTA;
    if (code != expected)
        return win::ERROR_INVALID_FUNCTION;
    std::uint32_t request = 0;
    if (!in || inSize != sizeof request)
        return win::ERROR_INVALID_PARAMETER;
    std::memcpy(&request, in, sizeof request);
    if (request != ms::kReloadLocalNameInput)
        return win::ERROR_INVALID_PARAMETER;
    if (!air::Air::Instance().RadioPresent(kStackKind))
        return win::ERROR_DEVICE_NOT_CONNECTED;
    std::string name;
    if (!ConfiguredName(name))
        return win::ERROR_FILE_NOT_FOUND;
    air::Air::Instance().SetRadioName(kStackKind, name);
    return win::ERROR_SUCCESS;
}

} // namespace bthprops
