// What the proximity sender needs of the radio and discovery units: remote devices (Address, Assign,
// Unpair), their list, and the discovery component (Discover, Terminate and its two events). Once those
// units are in the tree this header only includes them; until then the small classes below stand in with
// exactly that surface, rendering the simulated air directly, so the sender builds and runs on its own.
#pragma once

#include "vyrConnectionsRadio.h"

#if __has_include("vyrDiscoveryComponent.h")
#include "vyrBluetoothDiscovery.h"
#include "vyrDiscoveryComponent.h"
#else
#include "vcl/Classes.h"
#include "vyrAPI.h"
#include "vyrErrors.h"
#include "vyrObjectList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vyr {

#if !__has_include("vyrBluetoothDiscovery.h")
class TvyrBluetoothDevice : public vcl::TObject {
public:
    TvyrBluetoothDevice() = default;
    const std::u16string& Address() const { return address_; }
    void SetAddress(const std::u16string& value) { address_ = value; }
    void Assign(const TvyrBluetoothDevice* device) {
        if (!device)
            throw vyrEInvalidArgument(StrDeviceNotValid);
        address_ = device->address_;
    }
    int Unpair(const TvyrBluetoothRadio* radio) const;

private:
    std::u16string address_ = u"(00:00:00:00:00:00)";
};

class TvyrBluetoothDevices : public TvyrObjectList<TvyrBluetoothDevice> {
public:
    int Add(std::unique_ptr<TvyrBluetoothDevice> item) {
        Append(std::move(item));
        return Count() - 1;
    }
};
#endif

using TvyrBluetoothDiscoveryCompleteEvent =
    std::function<void(vcl::TObject* sender, TvyrBluetoothRadio* radio, TvyrBluetoothDevices* devices)>;
using TvyrBluetoothDiscoveryStartedEvent = std::function<void(vcl::TObject* sender, TvyrBluetoothRadio* radio)>;

class TvyrBluetoothDiscovery : public vcl::TComponent, private TvyrHiddenWindowOwner {
public:
    explicit TvyrBluetoothDiscovery(vcl::TComponent* owner = nullptr);
    ~TvyrBluetoothDiscovery() override;

    // 0 started; 21 running; 13 no Bluetooth; 14 no such stack; 1 no window. Null raises.
    int Discover(const TvyrBluetoothRadio* radio, std::uint8_t timeout);
    // 20 when idle; else OnDiscoveryComplete with null before it returns.
    int Terminate();

    TvyrBluetoothDiscoveryCompleteEvent OnDiscoveryComplete;
    TvyrBluetoothDiscoveryStartedEvent OnDiscoveryStarted;

private:
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;
    void TearDown();
    void Finish(bool withList);

    TvyrBluetoothRadio radio_;
    TvyrBluetoothDevices found_;
    TvyrBluetoothDevices result_;
    win::HWND wnd_ = nullptr;
};

} // namespace vyr
#endif
