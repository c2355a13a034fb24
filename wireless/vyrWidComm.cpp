#include "vyrWidComm.h"

#include "vyrAPI.h"
#include "vyrErrors.h"
#include "vyrLoaderTable.h"
#include "vyrLoaders.h"
#include "vyrMessages.h"
#include "win32/Windows.h"

#include <atomic>
#include <memory>

namespace vyr {
namespace {

enum WdEntry : std::size_t {
#define VYR_WD_INDEX(name) wd_##name,
    ABI_WD_NAMES(VYR_WD_INDEX)
#undef VYR_WD_INDEX
};

struct UnitState {
    TvyrEntryTable<wd::kEntryPointCount> table;
    std::unique_ptr<TvyrWidCommLoader> loader;
    // Read by connection workers when their last client goes; set and cleared on the main thread.
    std::atomic<win::HWND> apiWindow{nullptr};
    std::atomic<std::int32_t> clients{0};
};

// Never freed: workers may still destroy clients while the process ends.
UnitState& U() {
    static auto* state = new UnitState;
    return *state;
}

} // namespace

TvyrWidCommLoader::TvyrWidCommLoader(win::HWND apiWindow) {
    // The stack's own library only tells whether WidComm is installed.
    win::HMODULE marker = win::LoadLibraryW(u"wbtapi.dll");
    if (!marker)
        return;
    win::FreeLibrary(marker);

    bridge_ = win::LoadLibraryW(u"vyr2wbt.dll");
    if (!bridge_) {
        U().table.Clear();
        return;
    }
    U().table.Resolve(bridge_, wd::kEntryPointNames);
    std::u16string version = GetLibraryVersion();
    if (vyr::WD_Init(apiWindow, version.c_str()) == 0) {
        U().table.Clear();
        win::FreeLibrary(bridge_);
        bridge_ = nullptr;
    }
}

TvyrWidCommLoader::~TvyrWidCommLoader() {
    if (!bridge_)
        return;
    vyr::WD_Uninit();
    U().table.Clear();
    win::FreeLibrary(bridge_);
    bridge_ = nullptr;
}

bool WidCommLoaderPresent(win::HWND apiWindow) {
    if (!U().loader) {
        U().loader = std::make_unique<TvyrWidCommLoader>(apiWindow);
        U().apiWindow = apiWindow;
    }
    return U().loader->Loaded() && vyr::WD_IsDeviceReady() != 0;
}

void FreeWidCommLoader() {
    U().loader.reset();
    U().apiWindow = nullptr;
}

std::int32_t WidCommClientCount() {
    return U().clients.load();
}

// ---------------------------------------------------------------- wrappers

stackabi::Bool32 WD_Init(stackabi::Hwnd apiWindow, const char16_t* version) {
    auto fn = U().table.Get<wd::PFN_WD_Init>(wd_WD_Init);
    return fn ? fn(apiWindow, version) : 0;
}

stackabi::Bool32 WD_Uninit() {
    auto fn = U().table.Get<wd::PFN_WD_Uninit>(wd_WD_Uninit);
    return fn ? fn() : 0;
}

stackabi::Bool32 WD_IsDeviceReady() {
    auto fn = U().table.Get<wd::PFN_WD_IsDeviceReady>(wd_WD_IsDeviceReady);
    return fn ? fn() : 0;
}

stackabi::Bool32 WD_GetLocalDeviceVersionInfo(wd::WD_DEV_VERSION_INFO* info) {
    auto fn = U().table.Get<wd::PFN_WD_GetLocalDeviceVersionInfo>(wd_WD_GetLocalDeviceVersionInfo);
    return fn ? fn(info) : 0;
}

stackabi::Bool32 WD_SetLocalDeviceName(const std::uint8_t* name) {
    auto fn = U().table.Get<wd::PFN_WD_SetLocalDeviceName>(wd_WD_SetLocalDeviceName);
    return fn ? fn(name) : 0;
}

std::int32_t WD_Bond(const std::uint8_t* bdAddr, const char* pin) {
    auto fn = U().table.Get<wd::PFN_WD_Bond>(wd_WD_Bond);
    return fn ? fn(bdAddr, pin) : VYR_BLUETOOTH_API_NOT_AVAILABLE;
}

stackabi::Bool32 WD_UnBond(const std::uint8_t* bdAddr) {
    auto fn = U().table.Get<wd::PFN_WD_UnBond>(wd_WD_UnBond);
    return fn ? fn(bdAddr) : 0;
}

std::int32_t WD_Discovery(stackabi::Hwnd window) {
    auto fn = U().table.Get<wd::PFN_WD_Discovery>(wd_WD_Discovery);
    return fn ? fn(window) : VYR_BLUETOOTH_API_NOT_AVAILABLE;
}

void WD_Terminate() {
    if (auto fn = U().table.Get<wd::PFN_WD_Terminate>(wd_WD_Terminate))
        fn();
}

stackabi::Bool32 WD_GetRemoteDeviceName(const std::uint8_t* bdAddr, std::uint8_t* name) {
    auto fn = U().table.Get<wd::PFN_WD_GetRemoteDeviceName>(wd_WD_GetRemoteDeviceName);
    return fn ? fn(bdAddr, name) : 0;
}

stackabi::Bool32 WD_GetRemoteDeviceCOD(const std::uint8_t* bdAddr, std::uint8_t* cod) {
    auto fn = U().table.Get<wd::PFN_WD_GetRemoteDeviceCOD>(wd_WD_GetRemoteDeviceCOD);
    return fn ? fn(bdAddr, cod) : 0;
}

stackabi::Bool32 WD_EnumServices(const std::uint8_t* bdAddr, const stackabi::AbiGuid* serviceClass,
                                 wd::WD_SERVICES* services) {
    auto fn = U().table.Get<wd::PFN_WD_EnumServices>(wd_WD_EnumServices);
    return fn ? fn(bdAddr, serviceClass, services) : 0;
}

wd::WD_CLIENT WD_CreateRfCommClient(stackabi::Hwnd window) {
    auto fn = U().table.Get<wd::PFN_WD_CreateRfCommClient>(wd_WD_CreateRfCommClient);
    if (!fn)
        return nullptr;
    wd::WD_CLIENT client = fn(window);
    if (client)
        U().clients.fetch_add(1);
    return client;
}

std::int32_t WD_OpenRfCommClient(wd::WD_CLIENT client, const std::uint8_t* bdAddr, std::uint8_t channel,
                                 stackabi::AbiGuid serviceClass, const char* serviceName, stackabi::Bool32 authenticate,
                                 stackabi::Bool32 encrypt) {
    auto fn = U().table.Get<wd::PFN_WD_OpenRfCommClient>(wd_WD_OpenRfCommClient);
    return fn ? fn(client, bdAddr, channel, serviceClass, serviceName, authenticate, encrypt)
              : VYR_BLUETOOTH_API_NOT_AVAILABLE;
}

stackabi::Bool32 WD_WriteRfCommClient(wd::WD_CLIENT client, const void* data, std::uint32_t size) {
    auto fn = U().table.Get<wd::PFN_WD_WriteRfCommClient>(wd_WD_WriteRfCommClient);
    return fn ? fn(client, data, size) : 0;
}

void WD_CloseRfCommClient(wd::WD_CLIENT client) {
    if (auto fn = U().table.Get<wd::PFN_WD_CloseRfCommClient>(wd_WD_CloseRfCommClient))
        fn(client);
}

void WD_DestroyRfCommClient(wd::WD_CLIENT client) {
    auto fn = U().table.Get<wd::PFN_WD_DestroyRfCommClient>(wd_WD_DestroyRfCommClient);
    if (!fn)
        return;
    fn(client);
    // Posted, never sent: this runs on a connection worker and the API window lives on the main thread.
    if (U().clients.fetch_sub(1) == 1)
        if (win::HWND api = U().apiWindow.load())
            win::PostMessageW(api, WM_WIDCOMM_CLIENTS_RELEASED, 0, 0);
}

} // namespace vyr
