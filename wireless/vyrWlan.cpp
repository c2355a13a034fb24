#include "vyrWlan.h"

#include "vyrFuncs.h"
#include "win32/Windows.h"

#include <array>
#include <atomic>
#include <memory>

namespace vyr {
namespace wlan = stackabi::wlan;

namespace {

#define VYR_WLAN_INDEX(name) ix_##name,
enum EntryIndex : int { ABI_WLAN_NAMES(VYR_WLAN_INDEX) kEntryCount };
#undef VYR_WLAN_INDEX
static_assert(kEntryCount == 37);

std::array<std::atomic<win::FARPROC>, kEntryCount> gTable{};

void ClearTable() {
    for (auto& p : gTable)
        p.store(nullptr, std::memory_order_release);
}

std::unique_ptr<TvyrWiFiLoader>& Singleton() {
    static std::unique_ptr<TvyrWiFiLoader> loader;
    return loader;
}

} // namespace

TvyrWiFiLoader::TvyrWiFiLoader(win::HWND apiWindow) {
    module_ = win::LoadLibraryW(u"wlanapi.dll");
    if (!module_)
        return;
    for (int i = 0; i < kEntryCount; ++i)
        gTable[i].store(win::GetProcAddress(module_, wlan::kEntryPointNames[i]), std::memory_order_release);
    const std::uint32_t version = IsVistaOrLater() ? wlan::WLAN_CLIENT_VERSION_VISTA : wlan::WLAN_CLIENT_VERSION_XP;
    std::uint32_t negotiated = 0;
    stackabi::Handle client = nullptr;
    if (vyr::WlanOpenHandle(version, nullptr, &negotiated, &client) == wlan::ERROR_SUCCESS) {
        present_ = true;
        owner_ = apiWindow;
        vyr::WlanCloseHandle(client, nullptr);
        return;
    }
    ClearTable();
    win::FreeLibrary(module_);
    module_ = nullptr;
}

TvyrWiFiLoader::~TvyrWiFiLoader() {
    if (!module_)
        return;
    owner_ = nullptr;
    ClearTable();
    win::FreeLibrary(module_);
    module_ = nullptr;
}

bool WiFiLoaderPresent(win::HWND apiWindow) {
    auto& loader = Singleton();
    if (!loader)
        loader = std::make_unique<TvyrWiFiLoader>(apiWindow);
    return loader->Present();
}

void FreeWiFiLoader() {
    Singleton().reset();
}

std::uint32_t WlanOpenHandle(std::uint32_t clientVersion, void* reserved, std::uint32_t* negotiatedVersion,
                             stackabi::Handle* clientHandle) {
    if (auto fn = reinterpret_cast<wlan::PFN_WlanOpenHandle>(gTable[ix_WlanOpenHandle].load(std::memory_order_acquire)))
        return fn(clientVersion, reserved, negotiatedVersion, clientHandle);
    return wlan::kMissingEntryPointResult;
}

std::uint32_t WlanCloseHandle(stackabi::Handle clientHandle, void* reserved) {
    if (auto fn =
            reinterpret_cast<wlan::PFN_WlanCloseHandle>(gTable[ix_WlanCloseHandle].load(std::memory_order_acquire)))
        return fn(clientHandle, reserved);
    return wlan::kMissingEntryPointResult;
}

} // namespace vyr
