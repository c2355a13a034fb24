// The proximity sender: a push engine that, once started on a radio, repeats one cycle without end:
// discover, let the owner accept devices and choose their files, wait SendDelay seconds, push the files
// to up to MaxConnections devices at a time over OBEX Object Push, unpair each device when it is done,
// sleep SleepInterval seconds and discover again. The proximity device pushes one file list to one
// remote device.
//
// Everything runs on the thread that starts the sender, driven by its hidden window. Owner events may
// pump messages and may stop the sender; after every event that hands control to the owner the sender
// checks that it is still running and leaves the step cleanly when it is not.
#pragma once

#include "vcl/Classes.h"
#include "vyrAPI.h"
#include "vyrOBEX.h"
#include "vyrBluetoothDiscovery.h"
#include "win32/WinTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vyr {

// File paths as the owner gives them: 8-bit text in the system code page (UTF-8 here).
using TvyrFileList = std::vector<std::string>;

class TvyrProximityDevice;

// ---- Proximity device notifications (Sender is the TvyrProximityDevice, Device its own copy) ----
using TvyrProximityDeviceEvent = std::function<void(vcl::TObject* sender, TvyrBluetoothDevice* device)>;
using TvyrProximityFileStartedEvent =
    std::function<void(vcl::TObject* sender, TvyrBluetoothDevice* device, const std::u16string& fileName)>;
using TvyrProximityFileCompleteEvent =
    std::function<void(vcl::TObject* sender, TvyrBluetoothDevice* device, const std::u16string& fileName, int error)>;
using TvyrProximityFileProgressEvent =
    std::function<void(vcl::TObject* sender, TvyrBluetoothDevice* device, const std::u16string& fileName,
                       std::uint32_t position, std::uint32_t size)>;
using TvyrProximityCompleteEvent = std::function<void(vcl::TObject* sender, TvyrBluetoothDevice* device, int error)>;

// Pushes one list of files to one remote device over one OBEX session: transport connect, OBEX
// CONNECT, one PUT per file in list order (named after the file's own name), DISCONNECT. A device
// that refuses an unauthenticated link (33) is tried once more with authentication.
//
// Each Start that returns 0 is followed by exactly one OnSendComplete: 0 when every file went out,
// 404 a file could not be opened, 5 an empty file, 46 the link dropped before any PUT, 47 it dropped
// during a PUT, else the connect, OBEX CONNECT or PUT code. Once every file was acknowledged the push
// has succeeded, whatever the link does next: the device completes with 0 as the DISCONNECT goes out,
// and its link may stay up until the phone answers or the OBEX time-out ends it. OnLinkClosed then
// tells that the link is down, so the sender can keep counting it until it really is free.
class TvyrProximityDevice : public vcl::TObject {
public:
    // Copies device and files; the client gets the radio, the device's address, Authentication = secure
    // and both time-outs timeout × 1000 ms.
    TvyrProximityDevice(const TvyrBluetoothDevice* device, const TvyrBluetoothRadio* radio, const TvyrFileList& files,
                        std::uint8_t timeout, bool secure);
    ~TvyrProximityDevice() override;
    TvyrProximityDevice(const TvyrProximityDevice&) = delete;
    TvyrProximityDevice& operator=(const TvyrProximityDevice&) = delete;

    // 400 while busy; else the client's Connect result (0: OnSendStarted has fired).
    int Start();
    // While busy: closes the link and completes with the current Error. After a completion whose link
    // is still up: closes it, with OnLinkClosed.
    void Stop();

    bool Busy() const { return busy_; }
    // Completed, and the link is still closing.
    bool HoldsLink() const { return closing_; }
    TvyrBluetoothDevice* Device() const { return device_.get(); }
    int Error() const { return error_; }
    int FileIndex() const { return fileIndex_; }
    const TvyrFileList& Files() const { return files_; }
    TvyrOPPClient* Client() const { return client_.get(); }

    // The name a path is pushed under: the text after its last "\", ":" or "/".
    static std::u16string PushName(const std::u16string& path);

    vcl::TNotifyEvent OnConnected; // the transport is up and OBEX CONNECT went out
    TvyrProximityFileCompleteEvent OnFileSendComplete;
    TvyrProximityFileStartedEvent OnFileSendStarted;
    TvyrProximityFileProgressEvent OnProgress;
    TvyrProximityCompleteEvent OnSendComplete;
    TvyrProximityDeviceEvent OnSendStarted;
    vcl::TNotifyEvent OnLinkClosed; // the link of a device that completed with it still up is down

private:
    using Alive = std::weak_ptr<bool>;

    void ClientConnect(int error);
    void ClientDisconnect();
    void ClientOBEXConnect(int error);
    void ClientOBEXProgress(std::uint32_t position, std::uint32_t size);
    void ClientOBEXPutComplete(int error);
    void ClientOBEXDisconnect();
    void SendNextFile();
    // Busy := false and OnSendComplete with Error; false when this object was deleted by a handler.
    bool Complete();
    // Ends with error: closes the link, reports the file when one was under way, then completes.
    void Fail(int error, bool reportFile);
    // The link held after the completion is down.
    void LinkClosed();
    std::u16string CurrentFileName() const;

    bool busy_ = false;
    bool closing_ = false; // every file was acknowledged; the link is still up
    std::unique_ptr<TvyrBluetoothDevice> device_;
    int error_ = 0;
    int fileIndex_ = 0;
    TvyrFileList files_;
    std::unique_ptr<TvyrOPPClient> client_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// ---- Proximity sender events (Sender is the TvyrProximitySender) ----
using TvyrProximityAcceptDeviceEvent =
    std::function<void(vcl::TObject* sender, TvyrBluetoothDevice* device, bool& accept)>;
using TvyrProximityDevicesFoundEvent = std::function<void(vcl::TObject* sender, TvyrBluetoothDevices* devices)>;
using TvyrProximityFileSendCompleteEvent = TvyrProximityFileCompleteEvent;
using TvyrProximityFileSendStartedEvent = TvyrProximityFileStartedEvent;
using TvyrProximityGetFilesEvent =
    std::function<void(vcl::TObject* sender, TvyrBluetoothDevice* device, TvyrFileList& files)>;
using TvyrProximityProgressEvent = TvyrProximityFileProgressEvent;
using TvyrProximitySendCompleteEvent = TvyrProximityCompleteEvent;
using TvyrProximitySendStartedEvent = TvyrProximityDeviceEvent;

class TvyrProximitySender : public vcl::TComponent, private TvyrHiddenWindowOwner {
public:
    explicit TvyrProximitySender(vcl::TComponent* owner = nullptr);
    ~TvyrProximitySender() override; // stops first

    // 0 started; 400 already started; 402 no send radio; 403 no discovery radio; 401 a radio's stack is
    // used by a running sender; 13 no Bluetooth transport; 14 a radio's stack is gone; 1 no window.
    // A failed Start changes nothing.
    int Start();
    // Ends the cycle from any state with OnStopped; devices in progress are closed and unpaired but
    // report no OnSendComplete. Nothing happens while not active.
    void Stop();

    bool Active() const { return active_; }
    std::uint8_t ActiveConnections() const { return activeConnections_; }
    int DeviceCount() const { return static_cast<int>(devices_.size()); }
    TvyrProximityDevice* Devices(int index) const { return devices_.at(static_cast<size_t>(index)).get(); }
    TvyrBluetoothDiscovery* Discovery() const { return discovery_.get(); }

    // Each value is read where it is used, so a change while running governs what comes next.
    std::uint8_t DiscoverTimeout() const { return discoverTimeout_; }
    void SetDiscoverTimeout(std::uint8_t value) { discoverTimeout_ = value; }
    std::uint8_t MaxConnections() const { return maxConnections_; }
    void SetMaxConnections(std::uint8_t value); // 0 raises vyrEInvalidArgument
    bool Secure() const { return secure_; }
    void SetSecure(bool value) { secure_ = value; }
    std::uint8_t SendDelay() const { return sendDelay_; }
    void SetSendDelay(std::uint8_t value); // seconds; 0 raises
    std::uint8_t SleepInterval() const { return sleepInterval_; }
    void SetSleepInterval(std::uint8_t value); // seconds; 0 raises
    std::uint8_t Timeout() const { return timeout_; }
    void SetTimeout(std::uint8_t value); // seconds; 0 raises

    // The sender keeps its own copies. Null while active raises vyrEProximitySenderActive.
    TvyrBluetoothRadio* SendRadio() const { return sendRadio_.get(); }
    void SetSendRadio(const TvyrBluetoothRadio* value);
    TvyrBluetoothRadio* DiscoveryRadio() const { return discoveryRadio_.get(); }
    void SetDiscoveryRadio(const TvyrBluetoothRadio* value);

    TvyrProximityAcceptDeviceEvent OnAcceptDevice; // accept comes in false
    TvyrProximityDevicesFoundEvent OnDevicesFound;
    vcl::TNotifyEvent OnDiscoveryComplete;
    vcl::TNotifyEvent OnDiscoveryStarted;
    TvyrProximityFileSendCompleteEvent OnFileSendComplete;
    TvyrProximityFileSendStartedEvent OnFileSendStarted;
    TvyrProximityGetFilesEvent OnGetFiles; // files come in empty
    TvyrProximityProgressEvent OnProgress;
    vcl::TNotifyEvent OnStartDelay;
    vcl::TNotifyEvent OnStarted;
    vcl::TNotifyEvent OnStartSleep;
    TvyrProximitySendCompleteEvent OnSendComplete;
    TvyrProximitySendStartedEvent OnSendStarted;
    vcl::TNotifyEvent OnStopDelay;
    vcl::TNotifyEvent OnStopped;
    vcl::TNotifyEvent OnStopSleep;

    // The stacks used by running senders of this process (bit n = stack kind n).
    static TvyrSet8 StacksInUse();

private:
    using Alive = std::weak_ptr<bool>;
    using DevicePtr = std::shared_ptr<TvyrProximityDevice>;

    void SetRadio(std::unique_ptr<TvyrBluetoothRadio>& slot, const TvyrBluetoothRadio* value);
    // A running sender's radio leaves its slot; staying is the radio of the other slot.
    void ReleaseStack(const TvyrBluetoothRadio* leaving, const TvyrBluetoothRadio* staying);
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) override;

    void StartDiscovery();
    void DiscoveryStarted();
    void DiscoveryComplete(TvyrBluetoothDevices* found);
    void StartDelay();
    void StartSleep();
    void KillDelayTimer();
    void KillSleepTimer();
    void BeginSending();
    void Pump();
    bool AttemptRunning() const; // a device of this cycle is still connecting
    void Bind(TvyrProximityDevice& device);
    void DeviceComplete(TvyrProximityDevice* device, int error);
    void DeviceLinkClosed(TvyrProximityDevice* device);
    // A device's connection is free: the next device may start; the device is unpaired.
    void ConnectionFree(const TvyrBluetoothDevice& remote, const Alive& alive, unsigned run);
    DevicePtr Keep(TvyrProximityDevice* device) const;
    // Drops the cycle's devices, which report nothing more.
    void ForgetDevices();

    // Fires a plain notification; false when the sender was deleted by the handler.
    bool Notify(const vcl::TNotifyEvent& event);
    // Still the same run after an owner event: not deleted, not stopped (nor stopped and restarted).
    bool Running(const Alive& alive, unsigned run) const { return !alive.expired() && active_ && run_ == run; }
    // Destroys the window and gives the stacks back; safe to repeat.
    void Release();

    bool active_ = false;
    bool holdsStacks_ = false;
    unsigned run_ = 0;
    std::uint8_t discoverTimeout_ = 15;
    std::unique_ptr<TvyrBluetoothRadio> discoveryRadio_;
    std::uint8_t maxConnections_ = 7;
    bool secure_ = false;
    std::uint8_t sendDelay_ = 2;
    std::unique_ptr<TvyrBluetoothRadio> sendRadio_;
    std::uint8_t sleepInterval_ = 5;
    std::uint8_t timeout_ = 20;
    std::uint8_t activeConnections_ = 0;
    std::vector<DevicePtr> devices_;
    std::unique_ptr<TvyrBluetoothDiscovery> discovery_;
    int nextDevice_ = 0;
    std::uint16_t delayTimerId_ = 0;
    std::uint16_t sleepTimerId_ = 0;
    win::HWND wnd_ = nullptr;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace vyr
