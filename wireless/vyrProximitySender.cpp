// The proximity sender's cycle: discovery, the owner's choices, the send delay, the pool of devices,
// the sleep, and stopping cleanly from anywhere.
#include "vyrProximitySender.h"

#include "vyrBackend.h"
#include "vyrErrors.h"
#include "vyrMessages.h"
#include "win32/WinUser.h"

#include <algorithm>

namespace vyr {

namespace {
// Stacks held by running senders of this process; touched only on the GUI thread.
TvyrSet8 stacksInUse;

bool OneAttemptAtATime(const TvyrBluetoothRadio* radio) {
    // Some stacks take one connection attempt at a time; connected devices keep sending meanwhile.
    const TvyrBluetoothBackend* backend = radio ? BluetoothBackend(radio->Api()) : nullptr;
    return backend && backend->OneAttemptAtATime();
}
} // namespace

TvyrSet8 TvyrProximitySender::StacksInUse() {
    return stacksInUse;
}

TvyrProximitySender::TvyrProximitySender(vcl::TComponent* owner)
    : vcl::TComponent(owner), discovery_(std::make_unique<TvyrBluetoothDiscovery>()) {
    discovery_->OnDiscoveryStarted = [this](vcl::TObject*, auto*) { DiscoveryStarted(); };
    discovery_->OnDiscoveryComplete = [this](vcl::TObject*, auto*, auto* devices) { DiscoveryComplete(devices); };
}

TvyrProximitySender::~TvyrProximitySender() {
    Stop();
    Release(); // an owner that deleted the sender inside one of Stop's own events cut Stop short
    discovery_->OnDiscoveryStarted = nullptr;
    discovery_->OnDiscoveryComplete = nullptr;
    ForgetDevices();
}

void TvyrProximitySender::ForgetDevices() {
    for (auto& d : devices_) {
        d->OnSendComplete = nullptr;
        d->OnLinkClosed = nullptr;
    }
    devices_.clear();
}

// ---- Properties ----

void TvyrProximitySender::SetMaxConnections(std::uint8_t value) {
    if (value == maxConnections_)
        return;
    if (value == 0)
        throw vyrEInvalidArgument(StrMaxConnections);
    maxConnections_ = value;
}

void TvyrProximitySender::SetSendDelay(std::uint8_t value) {
    if (value == sendDelay_)
        return;
    if (value == 0)
        throw vyrEInvalidArgument(StrSendDelay);
    sendDelay_ = value;
}

void TvyrProximitySender::SetSleepInterval(std::uint8_t value) {
    if (value == sleepInterval_)
        return;
    if (value == 0)
        throw vyrEInvalidArgument(StrSleepInterval);
    sleepInterval_ = value;
}

void TvyrProximitySender::SetTimeout(std::uint8_t value) {
    if (value == timeout_)
        return;
    if (value == 0)
        throw vyrEInvalidArgument(StrTimeoutPositive);
    timeout_ = value;
}

void TvyrProximitySender::SetSendRadio(const TvyrBluetoothRadio* value) {
    SetRadio(sendRadio_, value);
}

void TvyrProximitySender::SetDiscoveryRadio(const TvyrBluetoothRadio* value) {
    SetRadio(discoveryRadio_, value);
}

void TvyrProximitySender::SetRadio(std::unique_ptr<TvyrBluetoothRadio>& slot, const TvyrBluetoothRadio* value) {
    if (value && value == slot.get())
        return;
    if (!value && active_)
        throw vyrEProximitySenderActive(StrProximitySenderActive);
    auto fresh = value ? std::make_unique<TvyrBluetoothRadio>() : nullptr;
    if (fresh)
        fresh->Assign(value); // may raise: nothing has changed yet
    if (slot && active_)
        ReleaseStack(slot.get(), &slot == &sendRadio_ ? discoveryRadio_.get() : sendRadio_.get());
    slot = std::move(fresh);
    if (slot && active_)
        stacksInUse.Include(slot->Api());
}

void TvyrProximitySender::ReleaseStack(const TvyrBluetoothRadio* leaving, const TvyrBluetoothRadio* staying) {
    // The radio that stays may drive the same stack; the stack stays taken while it does.
    if (staying && staying->Api() == leaving->Api())
        return;
    stacksInUse.Exclude(leaving->Api());
}

// ---- Start and Stop ----

int TvyrProximitySender::Start() {
    if (active_)
        return VYR_PROXIMITY_STARTED;
    if (!sendRadio_)
        return VYR_PROXIMITY_NO_SEND_RADIO;
    if (!discoveryRadio_)
        return VYR_PROXIMITY_NO_DISCOVERY_RADIO;
    if (stacksInUse.Contains(sendRadio_->Api()) || stacksInUse.Contains(discoveryRadio_->Api()))
        return VYR_PROXIMITY_RUNNING;
    if (!IsTransportAvailable(TRANSPORT_BLUETOOTH))
        return VYR_TRANSPORT_NOT_AVAILABLE;
    if (!IsApiAvailable(sendRadio_->Api()) || !IsApiAvailable(discoveryRadio_->Api()))
        return VYR_BLUETOOTH_API_NOT_AVAILABLE;
    wnd_ = CreateHiddenWindow();
    if (!wnd_)
        return VYR_OUT_OF_RESOURCES;

    active_ = true;
    ++run_;
    holdsStacks_ = true;
    RegisterListenerWindow(wnd_);
    AttachHiddenWindow(wnd_, this);
    stacksInUse.Include(sendRadio_->Api());
    stacksInUse.Include(discoveryRadio_->Api());

    Alive alive = alive_;
    const unsigned run = run_;
    if (!Notify(OnStarted) || !Running(alive, run))
        return VYR_SUCCESS;
    StartDiscovery();
    return VYR_SUCCESS;
}

void TvyrProximitySender::Stop() {
    if (!active_)
        return;
    active_ = false;
    Alive alive = alive_;
    discovery_->Terminate();
    // Every device in progress closes its link and is unpaired; none reports to the owner.
    std::vector<DevicePtr> devices = devices_;
    for (auto& d : devices)
        d->Stop();
    if (alive.expired())
        return;
    KillDelayTimer();
    if (alive.expired())
        return;
    KillSleepTimer();
    if (alive.expired())
        return;
    Release();
    Notify(OnStopped);
}

void TvyrProximitySender::Release() {
    if (wnd_) {
        UnregisterListenerWindow(wnd_);
        DestroyHiddenWindow(wnd_);
    }
    if (!holdsStacks_)
        return;
    holdsStacks_ = false;
    if (sendRadio_)
        stacksInUse.Exclude(sendRadio_->Api());
    if (discoveryRadio_)
        stacksInUse.Exclude(discoveryRadio_->Api());
}

bool TvyrProximitySender::Notify(const vcl::TNotifyEvent& event) {
    if (!event)
        return true;
    Alive alive = alive_;
    vcl::TNotifyEvent call = event; // the handler may rebind the event
    call(this);
    return !alive.expired();
}

// ---- The cycle ----

void TvyrProximitySender::StartDiscovery() {
    if (discovery_->Discover(discoveryRadio_.get(), discoverTimeout_) != VYR_SUCCESS)
        StartSleep(); // tried again after the sleep
}

void TvyrProximitySender::DiscoveryStarted() {
    if (active_)
        Notify(OnDiscoveryStarted);
}

void TvyrProximitySender::DiscoveryComplete(TvyrBluetoothDevices* found) {
    if (!active_)
        return;
    Alive alive = alive_;
    const unsigned run = run_;
    ForgetDevices(); // the previous cycle is over

    if (found) {
        if (OnDevicesFound) {
            auto call = OnDevicesFound;
            call(this, found);
            if (!Running(alive, run))
                return;
        }
        // Every device is asked before any files are: an owner may decide on the whole set. The list
        // is the discovery's; a copy of the addresses keeps the loop safe from whatever the owner does.
        std::vector<std::unique_ptr<TvyrBluetoothDevice>> candidates;
        for (int i = 0; i < found->Count(); ++i) {
            auto copy = std::make_unique<TvyrBluetoothDevice>();
            copy->Assign(found->Items(i));
            candidates.push_back(std::move(copy));
        }
        std::vector<std::unique_ptr<TvyrBluetoothDevice>> accepted;
        for (auto& candidate : candidates) {
            bool accept = false;
            if (OnAcceptDevice) {
                auto call = OnAcceptDevice;
                call(this, candidate.get(), accept);
                if (!Running(alive, run))
                    return;
            }
            if (accept)
                accepted.push_back(std::move(candidate));
        }
        TvyrFileList files;
        for (auto& device : accepted) {
            files.clear();
            if (OnGetFiles) {
                auto call = OnGetFiles;
                call(this, device.get(), files);
                if (!Running(alive, run))
                    return;
            }
            if (files.empty())
                continue; // neither connected nor unpaired
            auto proximity =
                std::make_shared<TvyrProximityDevice>(device.get(), sendRadio_.get(), files, timeout_, secure_);
            Bind(*proximity);
            devices_.push_back(std::move(proximity));
        }
    }
    if (!Notify(OnDiscoveryComplete) || !Running(alive, run))
        return;
    if (devices_.empty())
        StartSleep();
    else
        StartDelay();
}

void TvyrProximitySender::StartDelay() {
    delayTimerId_ = static_cast<std::uint16_t>(
        win::SetTimer(wnd_, SEND_DELAY_TIMER_ID, static_cast<win::UINT>(sendDelay_) * 1000, nullptr));
    if (delayTimerId_ == 0)
        win::PostMessageW(wnd_, win::WM_TIMER, SEND_DELAY_TIMER_ID, 0);
    Notify(OnStartDelay);
}

void TvyrProximitySender::StartSleep() {
    sleepTimerId_ = static_cast<std::uint16_t>(
        win::SetTimer(wnd_, SLEEP_TIMER_ID, static_cast<win::UINT>(sleepInterval_) * 1000, nullptr));
    if (sleepTimerId_ == 0)
        win::PostMessageW(wnd_, win::WM_TIMER, SLEEP_TIMER_ID, 0);
    Notify(OnStartSleep);
}

void TvyrProximitySender::KillDelayTimer() {
    if (delayTimerId_ == 0)
        return;
    win::KillTimer(wnd_, SEND_DELAY_TIMER_ID);
    delayTimerId_ = 0;
    Notify(OnStopDelay);
}

void TvyrProximitySender::KillSleepTimer() {
    if (sleepTimerId_ == 0)
        return;
    win::KillTimer(wnd_, SLEEP_TIMER_ID);
    sleepTimerId_ = 0;
    Notify(OnStopSleep);
}

void TvyrProximitySender::BeginSending() {
    if (devices_.empty()) {
        StartSleep();
        return;
    }
    nextDevice_ = 0;
    activeConnections_ = 0;
    Pump();
}

void TvyrProximitySender::Pump() {
    if (!active_)
        return;
    Alive alive = alive_;
    const unsigned run = run_;
    // A completion may call here while another device is still connecting: on the stacks that take
    // one attempt at a time the next device waits for that attempt.
    const bool oneAtATime = OneAttemptAtATime(sendRadio_.get());
    if (oneAtATime && AttemptRunning())
        return;
    while (activeConnections_ < maxConnections_ && nextDevice_ < DeviceCount()) {
        // Counted before the start: an owner that pumps messages in OnSendStarted may see the device
        // complete, or this loop run again, before Start returns.
        DevicePtr device = devices_[static_cast<size_t>(nextDevice_++)];
        ++activeConnections_;
        int result = device->Start();
        if (!Running(alive, run))
            return;
        if (result != VYR_SUCCESS) {
            --activeConnections_; // passed over for this cycle: no event, no unpairing
            continue;
        }
        if (oneAtATime)
            return; // the next starts when this one is connected or done
    }
    if (activeConnections_ == 0 && nextDevice_ >= DeviceCount())
        StartSleep();
}

bool TvyrProximitySender::AttemptRunning() const {
    return std::any_of(devices_.begin(), devices_.end(),
                       [](const DevicePtr& d) { return d->Busy() && d->Client()->State() == csConnecting; });
}

void TvyrProximitySender::Bind(TvyrProximityDevice& device) {
    device.OnConnected = [this](vcl::TObject*) {
        if (active_)
            Pump();
    };
    device.OnSendStarted = [this](vcl::TObject*, TvyrBluetoothDevice* d) {
        if (active_ && OnSendStarted) {
            auto call = OnSendStarted;
            call(this, d);
        }
    };
    device.OnFileSendStarted = [this](vcl::TObject*, TvyrBluetoothDevice* d, const std::u16string& name) {
        if (active_ && OnFileSendStarted) {
            auto call = OnFileSendStarted;
            call(this, d, name);
        }
    };
    device.OnProgress = [this](vcl::TObject*, TvyrBluetoothDevice* d, const std::u16string& name,
                               std::uint32_t position, std::uint32_t size) {
        if (active_ && OnProgress) {
            auto call = OnProgress;
            call(this, d, name, position, size);
        }
    };
    device.OnFileSendComplete = [this](vcl::TObject*, TvyrBluetoothDevice* d, const std::u16string& name, int error) {
        if (active_ && OnFileSendComplete) {
            auto call = OnFileSendComplete;
            call(this, d, name, error);
        }
    };
    device.OnSendComplete = [this](vcl::TObject* sender, TvyrBluetoothDevice*, int error) {
        DeviceComplete(static_cast<TvyrProximityDevice*>(sender), error);
    };
    device.OnLinkClosed = [this](vcl::TObject* sender) { DeviceLinkClosed(static_cast<TvyrProximityDevice*>(sender)); };
}

TvyrProximitySender::DevicePtr TvyrProximitySender::Keep(TvyrProximityDevice* device) const {
    for (auto& d : devices_)
        if (d.get() == device)
            return d;
    return nullptr;
}

void TvyrProximitySender::DeviceComplete(TvyrProximityDevice* device, int error) {
    // Keep the device alive through the owner's event, which may end this cycle and free the list.
    DevicePtr keep = Keep(device);
    TvyrBluetoothDevice remote;
    remote.Assign(device->Device());
    // A push that went out in full is reported while its link closes; the link counts against
    // MaxConnections until it is down (DeviceLinkClosed, perhaps already during the owner's event).
    const bool linkHeld = device->HoldsLink();
    Alive alive = alive_;
    const unsigned run = run_;
    if (active_ && OnSendComplete) {
        auto call = OnSendComplete;
        call(this, device->Device(), error);
        if (alive.expired())
            return;
    }
    if (!linkHeld)
        ConnectionFree(remote, alive, run);
}

void TvyrProximitySender::DeviceLinkClosed(TvyrProximityDevice* device) {
    DevicePtr keep = Keep(device);
    TvyrBluetoothDevice remote;
    remote.Assign(device->Device());
    ConnectionFree(remote, alive_, run_);
}

void TvyrProximitySender::ConnectionFree(const TvyrBluetoothDevice& remote, const Alive& alive, unsigned run) {
    if (Running(alive, run)) {
        if (activeConnections_ > 0)
            --activeConnections_;
        Pump(); // sleeps once the last device is done
        if (alive.expired())
            return;
    }
    // Bonds made for the push are not left behind, also for a device interrupted by Stop.
    if (sendRadio_)
        remote.Unpair(sendRadio_.get());
}

// ---- Window ----

void TvyrProximitySender::HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM) {
    if (msg == win::WM_TIMER) {
        if (wParam == SEND_DELAY_TIMER_ID) {
            Alive alive = alive_;
            const unsigned run = run_;
            KillDelayTimer();
            nextDevice_ = 0;
            if (Running(alive, run))
                BeginSending();
        } else if (wParam == SLEEP_TIMER_ID) {
            Alive alive = alive_;
            const unsigned run = run_;
            KillSleepTimer();
            if (Running(alive, run))
                StartDiscovery();
        }
    } else if (msg == WM_API_UNLOADED) {
        Stop();
    } else if (msg == WM_API_CHANGED) {
        if (!active_)
            return;
        if (!IsTransportAvailable(TRANSPORT_BLUETOOTH) || !IsApiAvailable(discoveryRadio_->Api()) ||
            !IsApiAvailable(sendRadio_->Api()))
            Stop();
    }
}

} // namespace vyr
