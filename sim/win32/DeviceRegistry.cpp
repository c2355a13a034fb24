#include "win32/DeviceRegistry.h"

#include "vcl/Registry.h"
#include "vcl/SysUtils.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace win {
namespace {

struct NodeIdentity {
    DWORD devInst;
    std::vector<std::u16string> hardwareIds;
    std::u16string instanceId;
};

const NodeIdentity* IdentityOf(DWORD devInst) {
    static const NodeIdentity kNodes[] = {
        {detail::kIrdaDevInst, {u"USB\\VID_066F&PID_4200"}, u"USB\\VID_066F&PID_4200\\IRDA0001"},
        {detail::kBluetoothEnumeratorDevInst, {u"BTH\\MS_BTHBRB"}, u"BTH\\MS_BTHBRB\\7&1C8F2A&0&1"},
        {detail::kBluetoothRadioDevInst,
         {u"USB\\VID_0A12&PID_0001", u"USB\\Class_E0&SubClass_01&Prot_01"},
         u"USB\\VID_0A12&PID_0001\\5&2A3B4C5D&0&2"},
    };
    for (const auto& node : kNodes)
        if (node.devInst == devInst)
            return &node;
    return nullptr;
}

// The node a call names, or the error to report for it.
const NodeIdentity* FindNode(HDEVINFO set, const SP_DEVINFO_DATA* device, DWORD& error) {
    if (!device || device->cbSize != sizeof(SP_DEVINFO_DATA)) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    bool setExists = false;
    if (!detail::DeviceInSet(set, device->DevInst, &setExists)) {
        error = setExists ? ERROR_NO_SUCH_DEVINST : ERROR_INVALID_HANDLE;
        return nullptr;
    }
    const NodeIdentity* node = IdentityOf(device->DevInst);
    if (!node)
        error = ERROR_NO_SUCH_DEVINST;
    return node;
}

std::string HexBytes(const void* data, DWORD size) {
    std::string out;
    char pair[3];
    const auto* p = static_cast<const unsigned char*>(data);
    for (DWORD i = 0; p && i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", p[i]);
        out += pair;
    }
    return out;
}

struct ComputerNameState {
    std::mutex mu;
    std::u16string testName;
};

ComputerNameState& CN() {
    static ComputerNameState* s = new ComputerNameState;
    return *s;
}

std::u16string HostComputerName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};
    std::string name(host);
    name = name.substr(0, name.find('.'));
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    std::u16string wide = vcl::Utf8ToUtf16(name);
    if (wide.size() > MAX_COMPUTERNAME_LENGTH)
        wide.resize(MAX_COMPUTERNAME_LENGTH);
    return wide;
}

} // namespace

DeviceObject::~DeviceObject() = default;

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, DWORD* regType,
                                       BYTE* buffer, DWORD bufferSize, DWORD* requiredSize) {
    test::Record("SetupDiGetDeviceRegistryPropertyW", "devinst=" + std::to_string(device ? device->DevInst : 0) +
                                                          " property=" + std::to_string(property) +
                                                          " size=" + std::to_string(bufferSize));
    if (test::ShouldFail("SetupDiGetDeviceRegistryPropertyW")) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    DWORD error = ERROR_SUCCESS;
    const NodeIdentity* node = FindNode(set, device, error);
    if (!node) {
        SetLastError(error);
        return FALSE;
    }
    if (property != SPDRP_HARDWAREID) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    std::u16string multi;
    for (const auto& id : node->hardwareIds)
        multi += id + u'\0';
    multi += u'\0';
    const DWORD needed = static_cast<DWORD>(multi.size() * sizeof(char16_t));
    if (requiredSize)
        *requiredSize = needed;
    if (!buffer || bufferSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (regType)
        *regType = REG_MULTI_SZ;
    std::memcpy(buffer, multi.data(), needed);
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO set, SP_DEVINFO_DATA* device, LPWSTR buffer, DWORD bufferChars,
                                 DWORD* requiredChars) {
    test::Record("SetupDiGetDeviceInstanceIdW",
                 "devinst=" + std::to_string(device ? device->DevInst : 0) + " size=" + std::to_string(bufferChars));
    if (test::ShouldFail("SetupDiGetDeviceInstanceIdW")) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    DWORD error = ERROR_SUCCESS;
    const NodeIdentity* node = FindNode(set, device, error);
    if (!node) {
        SetLastError(error);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(node->instanceId.size() + 1);
    if (requiredChars)
        *requiredChars = needed;
    if (!buffer || bufferChars < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, node->instanceId.c_str(), needed * sizeof(char16_t));
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, DWORD* returned,
                     void*) {
    char codeText[16];
    std::snprintf(codeText, sizeof codeText, "0x%08X", code);
    test::Record("DeviceIoControl", std::string("code=") + codeText + " in=" + HexBytes(in, in ? inSize : 0));
    if (returned)
        *returned = 0;
    if (test::ShouldFail("DeviceIoControl")) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    auto target = LookupHandleAs<DeviceObject>(device);
    if (!target) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD done = 0;
    const DWORD error = target->IoControl(code, in, in ? inSize : 0, out, out ? outSize : 0, &done);
    if (returned)
        *returned = done;
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL GetComputerNameW(LPWSTR buffer, DWORD* size) {
    test::Record("GetComputerNameW");
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (test::ShouldFail("GetComputerNameW")) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    std::u16string name;
    {
        std::lock_guard lock(CN().mu);
        name = CN().testName;
    }
    if (name.empty())
        name = HostComputerName();
    if (!buffer || *size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(char16_t));
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

std::u16string MicrosoftRadioInstanceId() {
    return IdentityOf(detail::kBluetoothRadioDevInst)->instanceId;
}

namespace detail {

void InstallBluetoothRadioKey() {
    const std::u16string key =
        u"\\SYSTEM\\CurrentControlSet\\Enum\\" + MicrosoftRadioInstanceId() + u"\\Device Parameters";
    try {
        vcl::TRegistry reg(vcl::HKEY_LOCAL_MACHINE);
        if (!reg.KeyExists(key))
            reg.OpenKey(key, true);
    } catch (const vcl::Exception&) {
        // A store that cannot be written leaves the key missing; opening it then fails, as it would.
    }
}

void ResetComputerNameForTests() {
    std::lock_guard lock(CN().mu);
    CN().testName.clear();
}

} // namespace detail

namespace test {
void SetComputerName(const std::u16string& name) {
    std::lock_guard lock(CN().mu);
    CN().testName = name;
}
} // namespace test
} // namespace win
