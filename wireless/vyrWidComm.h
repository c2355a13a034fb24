// The WidComm stack's loader: the library reaches the stack through its own bridge "vyr2wbt.dll", loaded
// only when the stack's "wbtapi.dll" is installed. Presence is asked of the bridge at every probe. The
// unit counts the bridge's RFCOMM clients so that a bridge whose radio went away is reloaded only once
// no client uses it any more.
#pragma once

#include "stacks/vyr2wbt.h"
#include "win32/WinTypes.h"

#include <cstdint>

namespace vyr {

namespace wd = stackabi::wd;

class TvyrWidCommLoader {
public:
    // Loads the bridge and calls WD_Init(apiWindow, library version); a failing WD_Init frees it.
    explicit TvyrWidCommLoader(win::HWND apiWindow);
    ~TvyrWidCommLoader(); // WD_Uninit, then the bridge is freed
    TvyrWidCommLoader(const TvyrWidCommLoader&) = delete;
    TvyrWidCommLoader& operator=(const TvyrWidCommLoader&) = delete;

    bool Loaded() const { return bridge_ != nullptr; }

private:
    win::HMODULE bridge_ = nullptr;
};

// Builds the loader on first use and keeps apiWindow; true when the bridge is loaded and a WidComm radio
// is ready (asked on every call).
bool WidCommLoaderPresent(win::HWND apiWindow);
// Frees the loader and forgets the kept API window.
void FreeWidCommLoader();
// Bridge RFCOMM clients alive now, across reloads.
std::int32_t WidCommClientCount();

// Call the wrappers qualified (vyr::Name): the records' namespace brings the stack's own declaration of
// the same name into an unqualified call, which the compiler then rejects as ambiguous.
// Wrappers. The three returning library codes default to 14 (the API is not available); the Boolean
// ones to 0; those without a result make no call.
stackabi::Bool32 WD_Init(stackabi::Hwnd apiWindow, const char16_t* version);
stackabi::Bool32 WD_Uninit();
stackabi::Bool32 WD_IsDeviceReady();
stackabi::Bool32 WD_GetLocalDeviceVersionInfo(wd::WD_DEV_VERSION_INFO* info);
stackabi::Bool32 WD_SetLocalDeviceName(const std::uint8_t* name);
std::int32_t WD_Bond(const std::uint8_t* bdAddr, const char* pin);
stackabi::Bool32 WD_UnBond(const std::uint8_t* bdAddr);
std::int32_t WD_Discovery(stackabi::Hwnd window);
void WD_Terminate();
stackabi::Bool32 WD_GetRemoteDeviceName(const std::uint8_t* bdAddr, std::uint8_t* name);
stackabi::Bool32 WD_GetRemoteDeviceCOD(const std::uint8_t* bdAddr, std::uint8_t* cod);
stackabi::Bool32 WD_EnumServices(const std::uint8_t* bdAddr, const stackabi::AbiGuid* serviceClass,
                                 wd::WD_SERVICES* services);
// Counts a non-null client.
wd::WD_CLIENT WD_CreateRfCommClient(stackabi::Hwnd window);
std::int32_t WD_OpenRfCommClient(wd::WD_CLIENT client, const std::uint8_t* bdAddr, std::uint8_t channel,
                                 stackabi::AbiGuid serviceClass, const char* serviceName, stackabi::Bool32 authenticate,
                                 stackabi::Bool32 encrypt);
stackabi::Bool32 WD_WriteRfCommClient(wd::WD_CLIENT client, const void* data, std::uint32_t size);
void WD_CloseRfCommClient(wd::WD_CLIENT client);
// Uncounts the client; the last one gone posts WM_WIDCOMM_CLIENTS_RELEASED to the kept API window.
void WD_DestroyRfCommClient(wd::WD_CLIENT client);

} // namespace vyr
