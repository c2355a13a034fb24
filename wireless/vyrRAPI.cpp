#include "vyrRAPI.h"

#include "vyrAPI.h"
#include "vyrMessages.h"
#include "win32/ComRegistry.h"
#include "win32/Windows.h"

#include <array>
#include <bit>

namespace vyr {
namespace rapi = stackabi::rapi;

namespace {

#define VYR_RAPI_INDEX(name) ix_##name,
enum EntryIndex : int { ABI_RAPI_NAMES(VYR_RAPI_INDEX) kEntryCount };
#undef VYR_RAPI_INDEX
static_assert(kEntryCount == 82);

std::array<std::atomic<win::FARPROC>, kEntryCount> gTable{};

void ClearTable() {
    for (auto& p : gTable)
        p.store(nullptr, std::memory_order_release);
}

TvyrRapiLoader* gLoader = nullptr; // the unit's reference

// The device link reports itself as transport 1, which the API window files under the device-link bit.
constexpr win::WPARAM kDeviceLinkReport = 1;

} // namespace

TvyrRapiLoader* TvyrRapiLoader::Create(win::HWND apiWindow) {
    return new TvyrRapiLoader(apiWindow);
}

TvyrRapiLoader::TvyrRapiLoader(win::HWND apiWindow) {
    win::HMODULE marker = win::LoadLibraryW(u"ceutil.dll");
    if (!marker)
        return;
    win::FreeLibrary(marker);
    module_ = win::LoadLibraryW(u"rapi.dll");
    if (!module_)
        return;
    for (int i = 0; i < kEntryCount; ++i)
        gTable[i].store(win::GetProcAddress(module_, rapi::kEntryPointNames[i]), std::memory_order_release);
    void* manager = nullptr;
    if (win::FAILED(win::CoCreateInstance(std::bit_cast<win::GUID>(rapi::CLSID_DccMan), nullptr,
                                          rapi::CLSCTX_INPROC_SERVER, std::bit_cast<win::GUID>(rapi::IID_IDccMan),
                                          &manager)) ||
        !manager) {
        ReleaseLibrary();
        return;
    }
    manager_ = static_cast<rapi::IDccMan*>(manager);
    owner_ = apiWindow;
    if (manager_->Advise(this, &cookie_) != rapi::S_OK) {
        owner_ = nullptr;
        manager_->Release();
        manager_ = nullptr;
        if (connected_.exchange(false))
            vyr::CeRapiUninit();
        ReleaseLibrary();
    }
}

TvyrRapiLoader::~TvyrRapiLoader() {
    Shutdown();
}

void TvyrRapiLoader::ReleaseLibrary() {
    ClearTable();
    if (module_)
        win::FreeLibrary(module_);
    module_ = nullptr;
}

void TvyrRapiLoader::Shutdown() {
    if (!owner_.exchange(nullptr))
        return;
    // After Unadvise the manager calls the sink no more, so the session can be closed safely.
    manager_->Unadvise(cookie_);
    manager_->Release();
    manager_ = nullptr;
    if (connected_.exchange(false))
        vyr::CeRapiUninit();
    ReleaseLibrary();
}

stackabi::HResult TvyrRapiLoader::QueryInterface(const stackabi::AbiGuid& iid, void** object) {
    if (!object)
        return rapi::E_FAIL;
    if (iid == rapi::IID_IUnknown) {
        AddRef();
        *object = static_cast<rapi::IDccManSink*>(this);
        return rapi::S_OK;
    }
    *object = nullptr;
    return rapi::E_NOINTERFACE;
}

std::uint32_t TvyrRapiLoader::AddRef() {
    return ++refs_;
}

std::uint32_t TvyrRapiLoader::Release() {
    const std::uint32_t left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

stackabi::HResult TvyrRapiLoader::OnLogActive() {
    if (vyr::CeRapiInit() == rapi::S_OK) {
        connected_ = true;
        if (win::HWND owner = owner_.load())
            win::PostMessageW(owner, WM_TRANSPORT_CHANGED, kDeviceLinkReport, 1);
    }
    return rapi::S_OK;
}

stackabi::HResult TvyrRapiLoader::OnLogDisconnection() {
    if (connected_.exchange(false)) {
        vyr::CeRapiUninit();
        if (win::HWND owner = owner_.load())
            win::PostMessageW(owner, WM_TRANSPORT_CHANGED, kDeviceLinkReport, 0);
    }
    return rapi::S_OK;
}

stackabi::HResult TvyrRapiLoader::OnLogIpAddr(std::uint32_t) {
    return rapi::S_OK;
}
stackabi::HResult TvyrRapiLoader::OnLogTerminated() {
    return rapi::S_OK;
}
stackabi::HResult TvyrRapiLoader::OnLogInactive() {
    return rapi::S_OK;
}
stackabi::HResult TvyrRapiLoader::OnLogAnswered() {
    return rapi::S_OK;
}
stackabi::HResult TvyrRapiLoader::OnLogListen() {
    return rapi::S_OK;
}
stackabi::HResult TvyrRapiLoader::OnLogError() {
    return rapi::S_OK;
}

bool RapiLoaderPresent(win::HWND apiWindow) {
    if (!gLoader)
        gLoader = TvyrRapiLoader::Create(apiWindow);
    return gLoader->Connected();
}

void FreeRapiLoader() {
    if (!gLoader)
        return;
    TvyrRapiLoader* loader = gLoader;
    gLoader = nullptr;
    loader->Shutdown();
    loader->Release();
}

stackabi::HResult CeRapiInit() {
    if (auto fn = reinterpret_cast<rapi::PFN_CeRapiInit>(gTable[ix_CeRapiInit].load(std::memory_order_acquire)))
        return fn();
    return rapi::E_FAIL;
}

stackabi::HResult CeRapiUninit() {
    if (auto fn = reinterpret_cast<rapi::PFN_CeRapiUninit>(gTable[ix_CeRapiUninit].load(std::memory_order_acquire)))
        return fn();
    return rapi::E_FAIL;
}

} // namespace vyr
