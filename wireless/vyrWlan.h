// Wi-Fi presence: the Wi-Fi client can be opened (transport 5), decided once per load.
#pragma once

#include "stacks/wlanapi.h"
#include "vcl/Classes.h"
#include "win32/WinTypes.h"

#include <cstdint>

namespace vyr {

class TvyrWiFiLoader : public vcl::TObject {
public:
    explicit TvyrWiFiLoader(win::HWND apiWindow);
    ~TvyrWiFiLoader() override;
    TvyrWiFiLoader(const TvyrWiFiLoader&) = delete;
    TvyrWiFiLoader& operator=(const TvyrWiFiLoader&) = delete;

    bool Present() const { return present_; }

private:
    bool present_ = false;
    win::HMODULE module_ = nullptr;
    win::HWND owner_ = nullptr;
};

bool WiFiLoaderPresent(win::HWND apiWindow);
void FreeWiFiLoader();

// Wrappers (default 1 when the library does not export the entry point).
std::uint32_t WlanOpenHandle(std::uint32_t clientVersion, void* reserved, std::uint32_t* negotiatedVersion,
                             stackabi::Handle* clientHandle);
std::uint32_t WlanCloseHandle(stackabi::Handle clientHandle, void* reserved);

} // namespace vyr
