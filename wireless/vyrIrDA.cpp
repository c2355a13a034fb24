#include "vyrIrDA.h"

#include "win32/abi_devbroadcast.h"
#include "vyrMessages.h"
#include "win32/SetupApi.h"
#include "win32/Windows.h"

#include <bit>
#include <cstring>
#include <memory>

namespace vyr {
namespace dbt = stackabi::dbt;

namespace {

std::unique_ptr<TvyrIrDALoader>& Singleton() {
    static std::unique_ptr<TvyrIrDALoader> loader;
    return loader;
}

} // namespace

bool IrDAAdapterPresent() {
    const win::GUID infrared = std::bit_cast<win::GUID>(stackabi::sp::GUID_DEVCLASS_INFRARED);
    win::HDEVINFO set = win::SetupDiGetClassDevsW(&infrared, nullptr, nullptr, win::DIGCF_PRESENT);
    if (set == win::INVALID_HANDLE_VALUE)
        return false;
    win::SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    const bool present = win::SetupDiEnumDeviceInfo(set, 0, &data) != win::FALSE;
    // Destroyed whether or not it had a member, so no set is left behind.
    win::SetupDiDestroyDeviceInfoList(set);
    return present;
}

TvyrIrDALoader::TvyrIrDALoader(win::HWND apiWindow) {
    wnd_ = CreateHiddenWindow();
    if (!wnd_)
        return;
    dbt::DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = dbt::DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = dbt::GUID_DEVINTERFACE_USB_DEVICE;
    notify_ = win::RegisterDeviceNotificationW(wnd_, &filter, win::DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!notify_) {
        DestroyHiddenWindow(wnd_);
        return;
    }
    AttachHiddenWindow(wnd_, this);
    present_ = IrDAAdapterPresent();
    owner_ = apiWindow;
}

TvyrIrDALoader::~TvyrIrDALoader() {
    if (!notify_)
        return;
    owner_ = nullptr;
    win::UnregisterDeviceNotification(notify_);
    notify_ = nullptr;
    DestroyHiddenWindow(wnd_);
}

void TvyrIrDALoader::HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (msg != win::WM_DEVICECHANGE || (wParam != win::DBT_DEVICEARRIVAL && wParam != win::DBT_DEVICEREMOVECOMPLETE))
        return;
    const auto* header = reinterpret_cast<const dbt::DEV_BROADCAST_HDR*>(lParam);
    if (!header || header->dbch_size < dbt::kMinDeviceInterfaceBroadcastSize ||
        header->dbch_devicetype != dbt::DBT_DEVTYP_DEVICEINTERFACE)
        return;
    stackabi::AbiGuid cls;
    std::memcpy(&cls,
                reinterpret_cast<const unsigned char*>(lParam) +
                    offsetof(dbt::DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid),
                sizeof cls);
    if (cls != dbt::GUID_DEVINTERFACE_USB_DEVICE)
        return;
    // Any USB device may be the adapter: look again and report, changed or not.
    present_ = IrDAAdapterPresent();
    if (owner_)
        win::PostMessageW(owner_, WM_TRANSPORT_CHANGED, TRANSPORT_IRDA, present_ ? 1 : 0);
}

bool IrDALoaderPresent(win::HWND apiWindow) {
    auto& loader = Singleton();
    if (!loader)
        loader = std::make_unique<TvyrIrDALoader>(apiWindow);
    return loader->Present();
}

void FreeIrDALoader() {
    Singleton().reset();
}

} // namespace vyr
