#include "vyrBlueSoleil.h"

#include "vcl/Registry.h"
#include "vcl/SysUtils.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "win32/Windows.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

namespace vyr {
namespace bs = stackabi::bs;
namespace bsold = stackabi::bsold;

namespace {

// ---- The entry-point table: the newer interface's names, then the older one's ----
#define VYR_BS_INDEX(name) ix_##name,
#define VYR_BS_UNNAMED(n) ix_unnamed_##n,
enum EntryIndex : int { ABI_BSSDK_NAMES(VYR_BS_INDEX, VYR_BS_UNNAMED) ABI_BTFUNC_NAMES(VYR_BS_INDEX) kEntryCount };
#undef VYR_BS_INDEX
#undef VYR_BS_UNNAMED
static_assert(kEntryCount == 123 && ix_BT_InitializeLibrary == 95);

// Wrappers run on worker threads while the table is only written during load and unload.
std::array<std::atomic<win::FARPROC>, kEntryCount> gTable{};

template <typename Fn> Fn Entry(EntryIndex i) {
    return reinterpret_cast<Fn>(gTable[i].load(std::memory_order_acquire));
}

void ClearTable() {
    for (auto& p : gTable)
        p.store(nullptr, std::memory_order_release);
}

void Resolve(win::HMODULE module, int first, const char* const* names, int count) {
    for (int i = 0; i < count; ++i)
        if (names[i])
            gTable[first + i].store(win::GetProcAddress(module, names[i]), std::memory_order_release);
}

constexpr std::uint32_t kSdkDefault = bs::BTSDK_ER_NOT_AVAILABLE;
constexpr win::DWORD kPollMs = 1000;

std::u16string ReadInstalledVersion() {
    try {
        vcl::TRegistry reg(vcl::HKEY_LOCAL_MACHINE);
        if (!reg.OpenKeyReadOnly(BlueSoleilInstallKey))
            return {};
        std::u16string v = reg.ReadString(BlueSoleilVersionValue);
        // The stack's reader takes at most 256 wide characters, the terminator included.
        if (v.size() > 255)
            v.resize(255);
        return v;
    } catch (const std::exception&) {
        return {};
    }
}

// The stack calls this on a thread of its own.
void StackCallback(std::uint32_t, std::uint32_t value, std::uint8_t event) {
    try {
        switch (event) {
        case bsold::BT_EVENT_NOTIFY:
            BlueSoleilConnections().Notify(1, WM_BLUESOLEIL_NOTIFY, static_cast<win::LPARAM>(value));
            break;
        case bsold::BT_EVENT_KIND1_LINK_LOST:
            BlueSoleilConnections().Notify(1, WM_LINK_LOST, 0);
            break;
        case bsold::BT_EVENT_SPP_CLIENT_LINK_LOST:
            // Only the connection whose link this was: the others' pushes go on. A handle nobody holds
            // closes nothing; each connection's own serial port reports a real loss anyway.
            BlueSoleilConnections().NotifyHandle(0, static_cast<int>(value), WM_LINK_LOST);
            break;
        default:
            break;
        }
    } catch (...) {
        // Nothing may be thrown into the stack.
    }
}

// The detached stack calls still running.
struct DetachedCalls {
    std::mutex mu;
    std::condition_variable ended;
    int running = 0;
};

DetachedCalls& Detached() {
    static auto* calls = new DetachedCalls; // threads may still end while the process ends
    return *calls;
}

std::unique_ptr<TvyrBlueSoleilLoader>& Singleton() {
    static std::unique_ptr<TvyrBlueSoleilLoader> loader;
    return loader;
}

} // namespace

bool BlueSoleilVersionHasNewerInterface(const std::u16string& v) {
    if (v.empty())
        return false;
    // std::u16string compares code unit by code unit, a proper prefix being the smaller.
    return (v >= u"5.4.236.0" && v < u"6.0.0.0") || v >= u"6.4.236.0";
}

// ---------------------------------------------------------------- the loader

TvyrBlueSoleilLoader::TvyrBlueSoleilLoader(win::HWND apiWindow) {
    ClearTable();
    if (BlueSoleilVersionHasNewerInterface(ReadInstalledVersion())) {
        bssdk_ = win::LoadLibraryW(u"BsSdk.dll");
        if (bssdk_) {
            Resolve(bssdk_, 0, bs::kEntryPointNames, static_cast<int>(bs::kEntryPointCount));
            if (vyr::Btsdk_Init() == bs::BTSDK_OK) {
                newerInUse_ = true;
            } else {
                ClearTable();
                win::FreeLibrary(bssdk_);
                bssdk_ = nullptr;
            }
        }
    }

    btfunc_ = win::LoadLibraryW(u"btfunc.dll");
    if (btfunc_) {
        Resolve(btfunc_, ix_BT_InitializeLibrary, bsold::kEntryPointNames, static_cast<int>(bsold::kEntryPointCount));
        if (vyr::BT_InitializeLibrary() != 0) {
            vyr::BT_StartBluetooth();
            stopEvent_ = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
            if (stopEvent_) {
                poller_ = win::CreateThread(nullptr, 0, &PollerProc, this, win::CREATE_SUSPENDED, nullptr);
                if (poller_) {
                    ready_ = vyr::BT_IsBluetoothReady(0) != 0;
                    owner_ = apiWindow;
                    vyr::BT_RegisterCallback(bsold::BT_CALLBACK_KIND_CONNECTION, &StackCallback);
                    vyr::BT_RegisterCallback(bsold::BT_CALLBACK_KIND_SPPEX, &StackCallback);
                    win::ResumeThread(poller_);
                    return;
                }
                win::CloseHandle(stopEvent_);
                stopEvent_ = nullptr;
            }
            vyr::BT_UninitializeLibrary();
        }
    }
    // Loading failed: the stack counts as absent until the API loads again.
    if (newerInUse_)
        vyr::Btsdk_Done();
    Unload();
}

TvyrBlueSoleilLoader::~TvyrBlueSoleilLoader() {
    if (!poller_)
        return; // loading failed and released everything already
    {
        // Bounded by the stack's own call (a connect gives up on a silent phone by itself); such a call may
        // still need the stack to take down the link it made too late.
        std::unique_lock lk(Detached().mu);
        Detached().ended.wait(lk, [] { return Detached().running == 0; });
    }
    vyr::BT_UnregisterCallback(bsold::BT_CALLBACK_KIND_CONNECTION);
    vyr::BT_UnregisterCallback(bsold::BT_CALLBACK_KIND_SPPEX);
    owner_ = nullptr;
    win::SetEvent(stopEvent_);
    win::WaitForSingleObject(poller_, win::INFINITE);
    win::CloseHandle(stopEvent_);
    win::CloseHandle(poller_);
    stopEvent_ = poller_ = nullptr;
    if (newerInUse_)
        vyr::Btsdk_Done();
    vyr::BT_UninitializeLibrary();
    Unload();
}

void TvyrBlueSoleilLoader::Unload() {
    ClearTable();
    if (btfunc_)
        win::FreeLibrary(btfunc_);
    if (bssdk_)
        win::FreeLibrary(bssdk_);
    btfunc_ = bssdk_ = nullptr;
    newerInUse_ = false;
}

win::DWORD TvyrBlueSoleilLoader::PollerProc(win::LPVOID param) {
    auto* self = static_cast<TvyrBlueSoleilLoader*>(param);
    while (win::WaitForSingleObject(self->stopEvent_, kPollMs) == win::WAIT_TIMEOUT) {
        const bool r = vyr::BT_IsBluetoothReady(0) != 0;
        if (r != self->ready_.load()) {
            self->ready_ = r;
            if (win::HWND owner = self->owner_.load())
                win::PostMessageW(owner, WM_BLUETOOTH_API_CHANGED, 1, r ? 1 : 0);
        }
    }
    return 0;
}

bool BlueSoleilLoaderPresent(win::HWND apiWindow) {
    auto& loader = Singleton();
    if (!loader)
        loader = std::make_unique<TvyrBlueSoleilLoader>(apiWindow);
    return loader->Ready();
}

void FreeBlueSoleilLoader() {
    Singleton().reset();
}

void BeginDetachedBlueSoleilCall() {
    std::lock_guard lk(Detached().mu);
    ++Detached().running;
}

void EndDetachedBlueSoleilCall() {
    std::lock_guard lk(Detached().mu);
    if (--Detached().running == 0)
        Detached().ended.notify_all();
}

bool BlueSoleilUsesNewerInterface() {
    return Singleton() && Singleton()->NewerInterfaceInUse();
}

int BlueSoleilDeviceHandle(const std::u16string& address) {
    std::uint8_t bytes[6];
    try {
        AddressTextToBytes(address, bytes);
    } catch (const vcl::EConvertError&) {
        return 0;
    }
    std::reverse(std::begin(bytes), std::end(bytes));
    std::uint32_t h = vyr::Btsdk_GetRemoteDeviceHandle(bytes);
    if (h == 0)
        h = vyr::Btsdk_AddRemoteDevice(bytes);
    return static_cast<int>(h);
}

// ---------------------------------------------------------------- the connection registry

void TvyrBlueSoleilConnections::Register(int handle, std::uint8_t kind, win::HWND window) {
    TvyrSyncGuard guard(lock_);
    if (IndexOf(kind, window) < 0)
        items_.push_back({handle, kind, window});
}

void TvyrBlueSoleilConnections::Unregister(std::uint8_t kind, win::HWND window) {
    TvyrSyncGuard guard(lock_);
    const int i = IndexOf(kind, window);
    if (i >= 0)
        items_.erase(items_.begin() + i);
}

void TvyrBlueSoleilConnections::Notify(std::uint8_t kind, win::UINT msg, win::LPARAM lParam) {
    std::vector<TvyrBlueSoleilConnection> copy;
    {
        TvyrSyncGuard guard(lock_);
        copy = items_;
    }
    for (const auto& c : copy) {
        if (c.Kind != kind)
            continue;
        if (msg == WM_BLUESOLEIL_NOTIFY)
            win::SendMessageW(c.Window, msg, 0, lParam);
        else
            win::PostMessageW(c.Window, msg, 0, 0);
    }
}

void TvyrBlueSoleilConnections::NotifyHandle(std::uint8_t kind, int handle, win::UINT msg) {
    std::vector<win::HWND> windows;
    {
        TvyrSyncGuard guard(lock_);
        for (const auto& c : items_)
            if (c.Kind == kind && c.Handle == handle)
                windows.push_back(c.Window);
    }
    for (win::HWND w : windows)
        win::PostMessageW(w, msg, 0, 0);
}

int TvyrBlueSoleilConnections::IndexOf(std::uint8_t kind, win::HWND window) const {
    TvyrSyncGuard guard(lock_);
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Kind == kind && items_[i].Window == window)
            return static_cast<int>(i);
    return -1;
}

int TvyrBlueSoleilConnections::Count() const {
    TvyrSyncGuard guard(lock_);
    return static_cast<int>(items_.size());
}

TvyrBlueSoleilConnection TvyrBlueSoleilConnections::Item(int index) const {
    TvyrSyncGuard guard(lock_);
    if (index < 0 || index >= static_cast<int>(items_.size()))
        throw vcl::Exception(vcl::Format(u"List index out of bounds (%d)", index));
    return items_[static_cast<size_t>(index)];
}

TvyrBlueSoleilConnections& BlueSoleilConnections() {
    // Lives to the end of the process: stack threads may still call back while it ends.
    static auto* registry = new TvyrBlueSoleilConnections;
    return *registry;
}

void RegisterBlueSoleilWindow(int handle, std::uint8_t kind, win::HWND window) {
    BlueSoleilConnections().Register(handle, kind, window);
}

void UnregisterBlueSoleilWindow(std::uint8_t kind, win::HWND window) {
    BlueSoleilConnections().Unregister(kind, window);
}

// ---------------------------------------------------------------- wrappers

#define VYR_CALL(name, fallback, ...)                                                                                  \
    do {                                                                                                               \
        if (auto fn = Entry<NS::PFN_##name>(ix_##name))                                                                \
            return fn(__VA_ARGS__);                                                                                    \
        return fallback;                                                                                               \
    } while (0)

#define NS bs
std::uint32_t Btsdk_Init() {
    VYR_CALL(Btsdk_Init, kSdkDefault);
}
std::uint32_t Btsdk_Done() {
    VYR_CALL(Btsdk_Done, kSdkDefault);
}
std::uint32_t Btsdk_RegisterCallback4ThirdParty(const bs::BtSdkCallbackStru* callback) {
    VYR_CALL(Btsdk_RegisterCallback4ThirdParty, kSdkDefault, callback);
}
std::uint32_t Btsdk_SetFixedPinCode(const char* pin, std::uint16_t size) {
    VYR_CALL(Btsdk_SetFixedPinCode, kSdkDefault, pin, size);
}
std::uint32_t Btsdk_StartDeviceDiscovery(std::uint32_t classFilter, std::uint16_t maxDevices, std::uint16_t duration) {
    VYR_CALL(Btsdk_StartDeviceDiscovery, kSdkDefault, classFilter, maxDevices, duration);
}
std::uint32_t Btsdk_StopDeviceDiscovery() {
    VYR_CALL(Btsdk_StopDeviceDiscovery, kSdkDefault);
}
std::uint32_t Btsdk_UpdateRemoteDeviceName(std::uint32_t device, std::uint8_t* name, std::uint16_t* size) {
    VYR_CALL(Btsdk_UpdateRemoteDeviceName, kSdkDefault, device, name, size);
}
std::uint32_t Btsdk_PairDevice(std::uint32_t device) {
    VYR_CALL(Btsdk_PairDevice, kSdkDefault, device);
}
std::uint32_t Btsdk_UnPairDevice(std::uint32_t device) {
    VYR_CALL(Btsdk_UnPairDevice, kSdkDefault, device);
}
std::uint32_t Btsdk_GetRemoteDeviceHandle(const std::uint8_t* bdAddr) {
    VYR_CALL(Btsdk_GetRemoteDeviceHandle, 0u, bdAddr);
}
std::uint32_t Btsdk_AddRemoteDevice(const std::uint8_t* bdAddr) {
    VYR_CALL(Btsdk_AddRemoteDevice, 0u, bdAddr);
}
std::uint32_t Btsdk_GetInquiredDevices(std::uint32_t* handles, std::uint32_t maxCount) {
    VYR_CALL(Btsdk_GetInquiredDevices, 0u, handles, maxCount);
}
std::uint32_t Btsdk_GetRemoteDeviceAddress(std::uint32_t device, std::uint8_t* bdAddr) {
    VYR_CALL(Btsdk_GetRemoteDeviceAddress, kSdkDefault, device, bdAddr);
}
std::uint32_t Btsdk_GetRemoteDeviceName(std::uint32_t device, std::uint8_t* name, std::uint16_t* size) {
    VYR_CALL(Btsdk_GetRemoteDeviceName, kSdkDefault, device, name, size);
}
std::uint32_t Btsdk_GetRemoteDeviceClass(std::uint32_t device, std::uint32_t* classOfDevice) {
    VYR_CALL(Btsdk_GetRemoteDeviceClass, kSdkDefault, device, classOfDevice);
}
#undef NS

#define NS bsold
std::int32_t BT_InitializeLibrary() {
    VYR_CALL(BT_InitializeLibrary, 0);
}
void BT_UninitializeLibrary() {
    if (auto fn = Entry<bsold::PFN_BT_UninitializeLibrary>(ix_BT_UninitializeLibrary))
        fn();
}
std::int32_t BT_IsBluetoothReady(std::uint32_t reserved) {
    VYR_CALL(BT_IsBluetoothReady, 0, reserved);
}
std::uint32_t BT_StartBluetooth() {
    VYR_CALL(BT_StartBluetooth, 0u);
}
std::uint32_t BT_GetLocalDeviceInfo(std::uint32_t mask, bsold::BLUETOOTH_DEVICE_INFO_EX* info) {
    VYR_CALL(BT_GetLocalDeviceInfo, 0u, mask, info);
}
std::uint32_t BT_SetLocalDeviceInfo(std::uint32_t mask, const bsold::BLUETOOTH_DEVICE_INFO* info) {
    VYR_CALL(BT_SetLocalDeviceInfo, 0u, mask, info);
}
std::uint32_t BT_GetRemoteDeviceInfo(std::uint32_t mask, bsold::BLUETOOTH_DEVICE_INFO_EX* info) {
    VYR_CALL(BT_GetRemoteDeviceInfo, 0u, mask, info);
}
std::uint32_t BT_PairDevice(const bsold::BLUETOOTH_DEVICE_INFO* device, std::uint16_t pinLength, const char* pin,
                            std::uint32_t reserved1, std::uint32_t reserved2) {
    VYR_CALL(BT_PairDevice, 0u, device, pinLength, pin, reserved1, reserved2);
}
std::uint32_t BT_UnpairDevice(const std::uint8_t* address) {
    VYR_CALL(BT_UnpairDevice, 0u, address);
}
std::uint32_t BT_InquireDevices(std::uint8_t inquiryMode, std::uint8_t timeout, std::uint32_t* length,
                                bsold::BLUETOOTH_DEVICE_INFO* devices) {
    VYR_CALL(BT_InquireDevices, 0u, inquiryMode, timeout, length, devices);
}
std::uint32_t BT_CancelInquiry() {
    VYR_CALL(BT_CancelInquiry, 0u);
}
std::uint32_t BT_BrowseServices(const bsold::BLUETOOTH_DEVICE_INFO* device, std::int32_t browseAll,
                                std::uint32_t* length, bsold::GENERAL_SERVICE_INFO* services) {
    VYR_CALL(BT_BrowseServices, 0u, device, browseAll, length, services);
}
std::uint32_t BT_SearchSPPExServices(const bsold::BLUETOOTH_DEVICE_INFO* device, std::uint32_t* length,
                                     bsold::SPPEX_SERVICE_INFO* service) {
    VYR_CALL(BT_SearchSPPExServices, 0u, device, length, service);
}
std::uint32_t BT_GetConnectInfo(std::uint32_t connection, std::uint32_t* serviceClass, std::uint16_t* role,
                                std::uint8_t* remoteAddress, std::uint32_t* infoSize, bsold::SPPEX_CONNECT_INFO* info) {
    VYR_CALL(BT_GetConnectInfo, 0u, connection, serviceClass, role, remoteAddress, infoSize, info);
}
std::uint32_t BT_ConnectSPPExService(const bsold::BLUETOOTH_DEVICE_INFO* device, bsold::SPPEX_SERVICE_INFO* service,
                                     std::uint32_t* connection) {
    VYR_CALL(BT_ConnectSPPExService, 0u, device, service, connection);
}
std::uint32_t BT_DisconnectSPPExService(std::uint32_t connection) {
    VYR_CALL(BT_DisconnectSPPExService, 0u, connection);
}
std::uint32_t BT_RegisterCallback(std::uint8_t kind, bsold::BT_CALLBACK callback) {
    VYR_CALL(BT_RegisterCallback, 0u, kind, callback);
}
std::uint32_t BT_UnregisterCallback(std::uint8_t kind) {
    VYR_CALL(BT_UnregisterCallback, 0u, kind);
}
#undef NS
#undef VYR_CALL

} // namespace vyr
