// Device-link presence: a handheld connected through the desktop connection manager (transport 0).
// The loader is the manager's advise sink; the manager tells it when a device connects or goes.
#pragma once

#include "stacks/rapi.h"
#include "win32/WinTypes.h"

#include <atomic>
#include <cstdint>

namespace vyr {

// Reference counted: the unit holds one reference from the probe to FreeRapiLoader, the manager holds
// another while the sink is advised. The unit's is released last, so the object never goes while its own
// shut-down runs and never stays behind when the manager refused the sink.
class TvyrRapiLoader final : public stackabi::rapi::IDccManSink {
public:
    // A new loader with one reference, owned by the caller.
    static TvyrRapiLoader* Create(win::HWND apiWindow);

    bool Connected() const { return connected_.load(); }
    // Stops the advice and releases the manager and the library; further calls do nothing.
    void Shutdown();

    stackabi::HResult QueryInterface(const stackabi::AbiGuid& iid, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    stackabi::HResult OnLogIpAddr(std::uint32_t ipAddress) override;
    stackabi::HResult OnLogTerminated() override;
    stackabi::HResult OnLogActive() override;
    stackabi::HResult OnLogInactive() override;
    stackabi::HResult OnLogAnswered() override;
    stackabi::HResult OnLogListen() override;
    stackabi::HResult OnLogDisconnection() override;
    stackabi::HResult OnLogError() override;

private:
    explicit TvyrRapiLoader(win::HWND apiWindow);
    ~TvyrRapiLoader();
    void ReleaseLibrary();

    std::atomic<std::uint32_t> refs_{1};
    std::atomic<bool> connected_{false};
    std::uint32_t cookie_ = 0;
    stackabi::rapi::IDccMan* manager_ = nullptr;
    win::HMODULE module_ = nullptr;
    std::atomic<win::HWND> owner_{nullptr};
};

// The probe answers the connected flag.
bool RapiLoaderPresent(win::HWND apiWindow);
void FreeRapiLoader();

// Wrappers (default E_FAIL when the library does not export the entry point).
stackabi::HResult CeRapiInit();
stackabi::HResult CeRapiUninit();

} // namespace vyr
