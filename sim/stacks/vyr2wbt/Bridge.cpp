// Start-up, shut-down and presence of the bridge. While initialised it watches the air and reports the
// WidComm radio coming and going to the window given to WD_Init, also after a reload, so the library sees
// the radio return without any client of its own.
#include "Internal.h"

#include "vcl/SysUtils.h"
#include "win32/Windows.h"

#include <cstring>

namespace vyr2wbt {

BridgeState& State() {
    static auto* state = new BridgeState;
    return *state;
}

namespace {

void OnAir(const air::Notice& n) {
    if (n.stack != kStackKind)
        return;
    if (n.event != air::AirEvent::RadioArrived && n.event != air::AirEvent::RadioRemoved)
        return;
    stackabi::Hwnd window;
    {
        std::lock_guard lk(State().mu);
        if (!State().initialised)
            return;
        window = State().apiWindow;
    }
    win::PostMessageW(static_cast<win::HWND>(window), stackabi::wd::WM_BLUETOOTH_API_CHANGED,
                      stackabi::wd::kApiChangedWidComm, n.event == air::AirEvent::RadioArrived ? 1 : 0);
}

void StopWatching() {
    int token;
    {
        std::lock_guard lk(State().mu);
        token = State().airToken;
        State().airToken = 0;
        State().initialised = false;
        State().apiWindow = nullptr;
        State().clients.clear();
    }
    if (token)
        air::Air::Instance().Unsubscribe(token);
}

} // namespace
} // namespace vyr2wbt

namespace stackabi::wd {
using namespace vyr2wbt;

extern "C" Bool32 WD_Init(Hwnd apiWindow, const char16_t* version) {
    Record("WD_Init", win::test::HandleText(apiWindow) + " " + vcl::Utf16ToUtf8(version ? version : u"(null)"));
    StopWatching(); // a second init starts afresh
    if (ShouldFail("WD_Init") || !apiWindow)
        return 0;
    {
        std::lock_guard lk(State().mu);
        State().initialised = true;
        State().apiWindow = apiWindow;
    }
    int token = air::Air::Instance().Subscribe(OnAir);
    std::lock_guard lk(State().mu);
    State().airToken = token;
    return 1;
}

extern "C" Bool32 WD_Uninit() {
    Record("WD_Uninit");
    bool was = Initialised();
    StopWatching();
    return was ? 1 : 0;
}

extern "C" Bool32 WD_IsDeviceReady() {
    Record("WD_IsDeviceReady");
    if (!Initialised() || ShouldFail("WD_IsDeviceReady"))
        return 0;
    return air::Air::Instance().RadioPresent(kStackKind) ? 1 : 0;
}

extern "C" Bool32 WD_GetLocalDeviceVersionInfo(WD_DEV_VERSION_INFO* info) {
    Record("WD_GetLocalDeviceVersionInfo");
    if (!info || !Initialised() || ShouldFail("WD_GetLocalDeviceVersionInfo"))
        return 0;
    air::Radio radio = air::Air::Instance().GetRadio(kStackKind);
    if (!radio.present)
        return 0;
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->BdAddr, radio.address.data(), BD_ADDR_SIZE);
    return 1;
}

} // namespace stackabi::wd
