// The discovery component: lists the local radios and runs one inquiry for nearby devices at a time on
// one radio's stack. The inquiry runs in the background, as the stack's backend runs it; the component
// reports its start and its end on the thread that started it, the end exactly
// once per started discovery, with the devices found or with nil.
//
// Include it through vyrBluetoothDiscovery.h.
#pragma once

#include "vcl/Classes.h"
#include "vyrAPI.h"
#include "win32/WinTypes.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace vyr {

class TvyrBluetoothRadio;
class TvyrBluetoothRadios;
class TvyrBluetoothDevices;
class TvyrBluetoothInquiry;

using TvyrBluetoothDiscoveryStartedEvent = std::function<void(vcl::TObject* sender, TvyrBluetoothRadio* radio)>;
using TvyrBluetoothDiscoveryCompleteEvent =
    std::function<void(vcl::TObject* sender, TvyrBluetoothRadio* radio, TvyrBluetoothDevices* devices)>;

// Longest a Toshiba inquiry may run past the requested time before it counts as failed (clock ms): the
// stack may never say it is done.
inline constexpr win::DWORD ToshibaDiscoveryGraceMs = 10000;
// The Toshiba stack is asked with its own defaults, and then inquires for 8 units of 1.28 s whatever
// time-out the caller gave (clock ms).
inline constexpr win::DWORD ToshibaStackInquiryMs = 8 * 1280;

class TvyrBluetoothDiscovery : public vcl::TComponent, private TvyrHiddenWindowOwner {
public:
    explicit TvyrBluetoothDiscovery(vcl::TComponent* owner = nullptr);
    // Ends a running discovery without an event: its handlers belong to an owner that is going away too.
    ~TvyrBluetoothDiscovery() override;

    // One radio per present stack, in stack-kind order. Null raises; 13 (the list untouched) without a
    // Bluetooth transport; else 0. Needs no window and may run during a discovery.
    int EnumRadios(TvyrBluetoothRadios* radios);
    // Starts an inquiry of about `timeout` seconds on the radio's stack. 0: started, OnDiscoveryComplete
    // follows exactly once. 21 already running (or another component's BlueSoleil inquiry runs); a null
    // radio raises; 13 no Bluetooth transport; 14 the radio's stack is not present; 1 no window or
    // worker; 2 the stack refused; on WidComm the bridge's own code. No event follows a non-zero result.
    int Discover(const TvyrBluetoothRadio* radio, std::uint8_t timeout);
    // 20 when idle; else the discovery ends at once, OnDiscoveryComplete(nil) fires before the return, 0.
    int Terminate();

    bool Running() const { return wnd_ != nullptr; }

    TvyrBluetoothDiscoveryStartedEvent OnDiscoveryStarted;
    TvyrBluetoothDiscoveryCompleteEvent OnDiscoveryComplete;

private:
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;
    int End(bool fire);
    void TearDown();
    void Completed(const TvyrBluetoothDevices* found);
    void FireComplete(TvyrBluetoothDevices* devices);

    std::unique_ptr<TvyrBluetoothRadio> radio_;
    std::uint8_t timeout_ = 0;
    win::HWND wnd_ = nullptr;
    std::unique_ptr<TvyrBluetoothDevices> devices_;
    // The running (or last) discovery's inquiry, from the radio's backend.
    std::unique_ptr<TvyrBluetoothInquiry> inquiry_;
    // A list has been taken and the finish notice is on its way: later completions are stale.
    bool finishing_ = false;
};

} // namespace vyr
