// The Microsoft stack's backend: radio and device calls through the stack's library, inquiries and service
// searches through Winsock's service lookup, and a new radio name the stack's own way (it keeps the name as
// "Local Name" in the radio's device key, and the radio's driver is asked to read it again).
#include "vyrBackend.h"

#include "vcl/SysUtils.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMicrosoft.h"
#include "vyrSDPParser.h"
#include "win32/DeviceRegistry.h"
#include "win32/LookupService.h"
#include "win32/Registry.h"
#include "win32/WinSockLookup.h"
#include "win32/Windows.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

namespace vyr {
namespace {

namespace ms = stackabi::ms;
namespace ws = stackabi::ws;

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

// The registry road of a new radio name (device node, "Local Name", reload request).
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

// ---- Radio ----

// The radio's handle (the search handle is closed at once); null when there is none.
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

int MicrosoftSetRadioName(const std::u16string& name) {
    // The radio already carrying this name needs nothing.
    stackabi::Handle radio = nullptr;
    {
        ms::BLUETOOTH_FIND_RADIO_PARAMS params{};
        params.dwSize = sizeof params;
        ms::HBLUETOOTH_RADIO_FIND find = vyr::BluetoothFindFirstRadio(&params, &radio);
        if (find)
            vyr::BluetoothFindRadioClose(find);
    }
    if (radio) {
        ms::BLUETOOTH_RADIO_INFO info{};
        info.dwSize = sizeof info;
        const bool ok = vyr::BluetoothGetRadioInfo(radio, &info) == ms::ERROR_SUCCESS;
        win::CloseHandle(radio);
        if (ok) {
            std::size_t n = 0;
            while (n < ms::BLUETOOTH_MAX_NAME_SIZE && info.szName[n])
                ++n;
            if (std::u16string(info.szName, n) == name)
                return 0;
        }
    }
    return MicrosoftWriteRadioName(name);
}

// ---- Device ----

ms::BLUETOOTH_DEVICE_INFO MicrosoftRecord(const std::u16string& address) {
    ms::BLUETOOTH_DEVICE_INFO rec{};
    rec.dwSize = sizeof rec;
    AddressTextToMsDeviceInfo(address, &rec);
    return rec;
}

// ---- Services: raw SDP records through Winsock's service lookup ----

constexpr std::uint32_t MicrosoftResultBufferSize = 61440;

int EnumMicrosoft(const std::u16string& address, TvyrBluetoothServices* services, const win::GUID* uuid) {
    std::vector<std::uint8_t> buffer;
    try {
        buffer.assign(MicrosoftResultBufferSize, 0);
    } catch (const std::bad_alloc&) {
        return VYR_OUT_OF_RESOURCES;
    }
    stackabi::AbiGuid classId = ws::L2CAP_PROTOCOL_UUID;
    if (uuid)
        std::memcpy(&classId, uuid, sizeof classId);
    std::u16string context = address;
    win::WSAQUERYSETW query{};
    query.dwSize = sizeof query;
    query.lpServiceClassId = &classId;
    query.dwNameSpace = ws::NS_BTH;
    query.lpszContext = context.data();

    win::HANDLE lookup = nullptr;
    if (win::WSALookupServiceBeginW(&query, ws::kServiceSearchFlags, &lookup) != 0) {
        if (win::WSAGetLastError() != ws::WSASERVICE_NOT_FOUND)
            return VYR_INTERNAL_ERROR;
        // The device may answer only once it is bonded: authenticate without a passkey and ask again.
        ms::BLUETOOTH_DEVICE_INFO rec{};
        rec.dwSize = sizeof rec;
        AddressTextToMsDeviceInfo(address, &rec);
        if (vyr::BluetoothAuthenticateDevice(nullptr, nullptr, &rec, u"", 0) != ms::ERROR_SUCCESS)
            return VYR_INTERNAL_ERROR;
        if (win::WSALookupServiceBeginW(&query, ws::kServiceSearchFlags, &lookup) != 0)
            return VYR_INTERNAL_ERROR;
    }
    services->Clear();
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        win::DWORD length = MicrosoftResultBufferSize;
        auto* result = reinterpret_cast<win::WSAQUERYSETW*>(buffer.data());
        if (win::WSALookupServiceNextW(lookup, 0, &length, result) != 0)
            break;
        if (!result->lpBlob || !result->lpBlob->pBlobData || result->lpBlob->cbSize == 0)
            continue;
        const std::uint32_t size = std::min<std::uint32_t>(result->lpBlob->cbSize, MicrosoftResultBufferSize);
        TvyrSDPParser parser(result->lpBlob->pBlobData, static_cast<int>(size));
        if (parser.Records()->Count() > 0)
            if (auto service = ServiceFromRecord(*parser.Records()->Items(0)))
                services->Add(std::move(service));
    }
    win::WSALookupServiceEnd(lookup);
    return 0;
}

// ---- Inquiry: a device inquiry through Winsock's service lookup, on a worker ----

constexpr std::size_t kMsResultBufferSize = 102400;

std::unique_ptr<TvyrBluetoothDevices> MicrosoftInquiry(win::HWND, std::uint8_t timeout) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kMsResultBufferSize]);
    if (!buffer)
        return nullptr;
    ws::BTH_QUERY_DEVICE query{0, timeout};
    ws::BLOB blob{sizeof query, reinterpret_cast<std::uint8_t*>(&query)};
    ws::WSAQUERYSETW restrictions{};
    restrictions.dwSize = sizeof restrictions;
    restrictions.dwNameSpace = ws::NS_BTH;
    restrictions.lpBlob = &blob;
    win::HANDLE lookup = nullptr;
    if (win::WSALookupServiceBeginW(&restrictions, ws::kDeviceInquiryFlags, &lookup) != 0) {
        // "Nothing found" is an empty result, anything else a failed inquiry.
        if (win::WSAGetLastError() == ws::WSASERVICE_NOT_FOUND)
            return std::make_unique<TvyrBluetoothDevices>();
        return nullptr;
    }
    auto list = std::make_unique<TvyrBluetoothDevices>();
    for (;;) {
        std::memset(buffer.get(), 0, kMsResultBufferSize);
        win::DWORD length = kMsResultBufferSize;
        auto* result = reinterpret_cast<ws::WSAQUERYSETW*>(buffer.get());
        if (win::WSALookupServiceNextW(lookup, ws::kDeviceInquiryFlags, &length, result) != 0)
            break;
        if (!result->lpcsaBuffer || !result->lpcsaBuffer->RemoteAddr.lpSockaddr)
            continue;
        char16_t text[256] = {};
        win::DWORD textLength = 256;
        if (win::WSAAddressToStringW(result->lpcsaBuffer->RemoteAddr.lpSockaddr,
                                     static_cast<win::DWORD>(result->lpcsaBuffer->RemoteAddr.iSockaddrLength), nullptr,
                                     text, &textLength) != 0)
            continue;
        text[255] = 0;
        std::u16string address(text);
        const auto close = address.find(u')');
        if (close != std::u16string::npos)
            address.resize(close + 1);
        AddInquiredDevice(*list, address);
    }
    win::WSALookupServiceEnd(lookup);
    return list;
}

class TvyrMicrosoftInquiry : public TvyrBluetoothInquiry {
public:
    int Start(win::HWND wnd, std::uint8_t timeout) override {
        return StartInquiryWorker(wnd, timeout, &MicrosoftInquiry);
    }
    void Cancel() override {} // the inquiry cannot be cut short; its worker ends unheard
};

class TvyrMicrosoftBackend : public TvyrBluetoothBackend {
public:
    TvyrRoadKind RoadKind() const override { return TvyrRoadKind::Microsoft; }
    bool OneAttemptAtATime() const override { return false; }

    int GetRadioAddress(std::u16string& address) const override {
        ms::BLUETOOTH_RADIO_INFO info{};
        if (!MicrosoftRadioInfo(info))
            return VYR_INTERNAL_ERROR;
        address = BytesToAddressText(info.address.rgBytes, 6, true);
        return 0;
    }

    int SetRadioName(const std::u16string& name) const override { return MicrosoftSetRadioName(name); }

    int GetDeviceName(const std::u16string& address, std::u16string& name) const override {
        auto rec = MicrosoftRecord(address);
        if (vyr::BluetoothGetDeviceInfo(nullptr, &rec) != ms::ERROR_SUCCESS)
            return VYR_INTERNAL_ERROR;
        name = WideField(rec.szName, ms::BLUETOOTH_MAX_NAME_SIZE);
        return 0;
    }

    int GetClassOfDevice(const std::u16string& address, int& classOfDevice) const override {
        auto rec = MicrosoftRecord(address);
        if (vyr::BluetoothGetDeviceInfo(nullptr, &rec) != ms::ERROR_SUCCESS)
            return VYR_INTERNAL_ERROR;
        classOfDevice = static_cast<int>(rec.ulClassofDevice);
        return 0;
    }

    int Pair(const std::u16string& address, const std::u16string& pin) const override {
        auto rec = MicrosoftRecord(address);
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

    int Unpair(const std::u16string& address) const override {
        const auto rec = MicrosoftRecord(address);
        return vyr::BluetoothRemoveDevice(&rec.Address) == ms::ERROR_SUCCESS ? 0 : VYR_INTERNAL_ERROR;
    }

    int EnumServices(const std::u16string& address, TvyrBluetoothServices* services,
                     const win::GUID* uuid) const override {
        return EnumMicrosoft(address, services, uuid);
    }

    std::unique_ptr<TvyrBluetoothInquiry> CreateInquiry() const override {
        return std::unique_ptr<TvyrBluetoothInquiry>(new (std::nothrow) TvyrMicrosoftInquiry);
    }
};

} // namespace

const TvyrBluetoothBackend& MicrosoftBackend() {
    static const TvyrMicrosoftBackend backend;
    return backend;
}

} // namespace vyr
