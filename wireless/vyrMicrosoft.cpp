#include "vyrMicrosoft.h"

#include "vyrLoaderTable.h"
#include "vyrLoaders.h"
#include "vyrMessages.h"
#include "win32/Windows.h"
#include "win32/abi_devbroadcast.h"

#include <cstring>
#include <memory>

namespace vyr {
namespace {

enum MsEntry : std::size_t {
#define VYR_MS_INDEX(name) ms_##name,
    ABI_MS_NAMES(VYR_MS_INDEX)
#undef VYR_MS_INDEX
};

TvyrEntryTable<ms::kEntryPointCount>& Table() {
    static auto* table = new TvyrEntryTable<ms::kEntryPointCount>;
    return *table;
}

std::unique_ptr<TvyrMicrosoftLoader>& Singleton() {
    static auto* loader = new std::unique_ptr<TvyrMicrosoftLoader>;
    return *loader;
}

bool IsRadioInterface(win::LPARAM lParam) {
    namespace dbt = stackabi::dbt;
    if (lParam == 0)
        return false;
    const auto* hdr = reinterpret_cast<const dbt::DEV_BROADCAST_HDR*>(lParam);
    // Only a device-interface record long enough to hold its class may be read as one.
    if (hdr->dbch_devicetype != dbt::DBT_DEVTYP_DEVICEINTERFACE ||
        hdr->dbch_size < dbt::kMinDeviceInterfaceBroadcastSize)
        return false;
    stackabi::AbiGuid guid;
    std::memcpy(&guid, reinterpret_cast<const std::uint8_t*>(lParam) + 12, sizeof guid);
    return guid == ms::GUID_BTHPORT_DEVICE_INTERFACE;
}

} // namespace

TvyrMicrosoftLoader::TvyrMicrosoftLoader(win::HWND apiWindow) {
    library_ = win::LoadLibraryW(u"bthprops.cpl");
    if (!library_)
        library_ = win::LoadLibraryW(u"irprops.cpl");
    if (!library_)
        return;
    Table().Resolve(library_, ms::kEntryPointNames);

    auto undoLibrary = [this] {
        Table().Clear();
        win::FreeLibrary(library_);
        library_ = nullptr;
    };
    window_ = CreateHiddenWindow();
    if (!window_) {
        undoLibrary();
        return;
    }
    stackabi::dbt::DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = stackabi::dbt::DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = ms::GUID_BTHPORT_DEVICE_INTERFACE;
    notification_ = win::RegisterDeviceNotificationW(window_, &filter, win::DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!notification_) {
        DestroyHiddenWindow(window_);
        undoLibrary();
        return;
    }
    AttachHiddenWindow(window_, this);
    present_ = RadioAttached();
    owner_ = apiWindow;
}

TvyrMicrosoftLoader::~TvyrMicrosoftLoader() {
    if (!notification_)
        return; // construction was undone, or never got this far
    owner_ = nullptr;
    win::UnregisterDeviceNotification(notification_);
    notification_ = nullptr;
    DestroyHiddenWindow(window_);
    Table().Clear();
    win::FreeLibrary(library_);
    library_ = nullptr;
}

bool TvyrMicrosoftLoader::RadioAttached() {
    ms::BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    stackabi::Handle radio = nullptr;
    ms::HBLUETOOTH_RADIO_FIND find = vyr::BluetoothFindFirstRadio(&params, &radio);
    if (!find)
        return false;
    if (radio)
        win::CloseHandle(radio);
    vyr::BluetoothFindRadioClose(find);
    return true;
}

void TvyrMicrosoftLoader::HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (msg != win::WM_DEVICECHANGE)
        return;
    if (wParam != win::DBT_DEVICEARRIVAL && wParam != win::DBT_DEVICEREMOVECOMPLETE)
        return;
    if (!IsRadioInterface(lParam))
        return;
    // The notice alone decides: the radio is not asked again.
    bool arrived = wParam == win::DBT_DEVICEARRIVAL;
    present_ = arrived;
    if (win::HWND owner = owner_.load())
        win::PostMessageW(owner, WM_BLUETOOTH_API_CHANGED, baMicrosoft + 1, arrived ? 1 : 0);
}

bool MicrosoftLoaderPresent(win::HWND apiWindow) {
    auto& loader = Singleton();
    if (!loader)
        loader = std::make_unique<TvyrMicrosoftLoader>(apiWindow);
    return loader->Present();
}

void FreeMicrosoftLoader() {
    Singleton().reset();
}

// ---------------------------------------------------------------- wrappers

ms::HBLUETOOTH_RADIO_FIND BluetoothFindFirstRadio(const ms::BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                  stackabi::Handle* radio) {
    auto fn = Table().Get<ms::PFN_BluetoothFindFirstRadio>(ms_BluetoothFindFirstRadio);
    return fn ? fn(params, radio) : nullptr;
}

stackabi::Bool32 BluetoothFindRadioClose(ms::HBLUETOOTH_RADIO_FIND find) {
    auto fn = Table().Get<ms::PFN_BluetoothFindRadioClose>(ms_BluetoothFindRadioClose);
    return fn ? fn(find) : win::FALSE;
}

std::uint32_t BluetoothGetRadioInfo(stackabi::Handle radio, ms::BLUETOOTH_RADIO_INFO* info) {
    auto fn = Table().Get<ms::PFN_BluetoothGetRadioInfo>(ms_BluetoothGetRadioInfo);
    return fn ? fn(radio, info) : ms::kMissingEntryPointResult;
}

std::uint32_t BluetoothGetDeviceInfo(stackabi::Handle radio, ms::BLUETOOTH_DEVICE_INFO* info) {
    auto fn = Table().Get<ms::PFN_BluetoothGetDeviceInfo>(ms_BluetoothGetDeviceInfo);
    return fn ? fn(radio, info) : ms::kMissingEntryPointResult;
}

std::uint32_t BluetoothRemoveDevice(const ms::BLUETOOTH_ADDRESS* address) {
    auto fn = Table().Get<ms::PFN_BluetoothRemoveDevice>(ms_BluetoothRemoveDevice);
    return fn ? fn(address) : ms::kMissingEntryPointResult;
}

std::uint32_t BluetoothAuthenticateDevice(stackabi::Hwnd parent, stackabi::Handle radio,
                                          ms::BLUETOOTH_DEVICE_INFO* info, const char16_t* passkey,
                                          std::uint32_t passkeyLength) {
    auto fn = Table().Get<ms::PFN_BluetoothAuthenticateDevice>(ms_BluetoothAuthenticateDevice);
    return fn ? fn(parent, radio, info, passkey, passkeyLength) : ms::kMissingEntryPointResult;
}

} // namespace vyr
