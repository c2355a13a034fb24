// IrDA presence: an infrared adapter among the system's devices, re-checked whenever a USB device comes
// or goes, reported to the API window as transport 2.
#pragma once

#include "vcl/Classes.h"
#include "vyrAPI.h"
#include "win32/WinTypes.h"

#include <atomic>

namespace vyr {

class TvyrIrDALoader : public vcl::TObject, private TvyrHiddenWindowOwner {
public:
    explicit TvyrIrDALoader(win::HWND apiWindow);
    ~TvyrIrDALoader() override;
    TvyrIrDALoader(const TvyrIrDALoader&) = delete;
    TvyrIrDALoader& operator=(const TvyrIrDALoader&) = delete;

    bool Present() const { return present_; }

private:
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

    bool present_ = false;
    win::HWND owner_ = nullptr;
    win::HWND wnd_ = nullptr;
    win::HDEVNOTIFY notify_ = nullptr;
};

// An infrared adapter is among the present devices.
bool IrDAAdapterPresent();

bool IrDALoaderPresent(win::HWND apiWindow);
void FreeIrDALoader();

} // namespace vyr
