// The BlueSoleil stack: its loader (two libraries, the newer one only for the stack versions that have
// it), the wrappers that are the library's only road to the stack, the readiness poller, and the
// registry that routes the stack's connection callbacks to the windows of the connections.
#pragma once

#include "stacks/bssdk.h"
#include "stacks/btfunc.h"
#include "vcl/Classes.h"
#include "vyrSync.h"
#include "win32/WinTypes.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vyr {

// Where the installed stack keeps its version (machine-wide).
inline constexpr char16_t BlueSoleilInstallKey[] = u"SOFTWARE\\IVT Corporation\\BlueSoleil\\Install";
inline constexpr char16_t BlueSoleilVersionValue[] = u"ProductVersion";

// Whether a stack of this version text has the newer interface: "5.4.236.0" <= v < "6.0.0.0" or
// v >= "6.4.236.0", compared as text code unit by code unit (so "10.2.0.0" counts as older, as the
// stack's own installers compare it). An empty text never does.
bool BlueSoleilVersionHasNewerInterface(const std::u16string& version);

class TvyrBlueSoleilLoader : public vcl::TObject {
public:
    // Loads the stack and starts the poller; on any failure the object stays with Ready() false and
    // everything released.
    explicit TvyrBlueSoleilLoader(win::HWND apiWindow);
    ~TvyrBlueSoleilLoader() override;
    TvyrBlueSoleilLoader(const TvyrBlueSoleilLoader&) = delete;
    TvyrBlueSoleilLoader& operator=(const TvyrBlueSoleilLoader&) = delete;

    bool Ready() const { return ready_.load(); }
    bool NewerInterfaceInUse() const { return newerInUse_; }

private:
    static win::DWORD PollerProc(win::LPVOID self);
    void Unload();

    std::atomic<bool> ready_{false};
    win::HANDLE stopEvent_ = nullptr;
    win::HMODULE btfunc_ = nullptr;
    bool newerInUse_ = false;
    win::HMODULE bssdk_ = nullptr;
    win::HANDLE poller_ = nullptr;
    // Read by the poller thread while the main thread clears it on destruction.
    std::atomic<win::HWND> owner_{nullptr};
};

// Probe and free (see vyrLoaders.h); the probe answers the ready flag.
bool BlueSoleilLoaderPresent(win::HWND apiWindow);
void FreeBlueSoleilLoader();
// A stack call made on a thread that nobody joins (an abandoned connect) is bracketed by these: the
// loader closes the stack only once every such call has come back, so none runs in a library that is gone.
void BeginDetachedBlueSoleilCall();
void EndDetachedBlueSoleilCall();
// True while a loader exists and uses the newer interface.
bool BlueSoleilUsesNewerInterface();
// The stack's handle of the device with this address text, adding the device when the stack does not
// know it; 0 when neither works (or the text is not an address).
int BlueSoleilDeviceHandle(const std::u16string& address);

// ---- The connection registry ----
struct TvyrBlueSoleilConnection {
    int Handle = 0;        // the stack's connection handle
    std::uint8_t Kind = 0; // 0: client connections (SPP)
    win::HWND Window = nullptr;
};

class TvyrBlueSoleilConnections : public vcl::TObject {
public:
    // Appends unless an entry of the same kind and window exists (the first handle stays).
    void Register(int handle, std::uint8_t kind, win::HWND window);
    // Removes the first entry of that kind and window.
    void Unregister(std::uint8_t kind, win::HWND window);
    // To every window of `kind` registered when the call begins: WM_BLUESOLEIL_NOTIFY is sent (0, lParam),
    // any other message posted (0, 0). No lock is held while delivering.
    void Notify(std::uint8_t kind, win::UINT msg, win::LPARAM lParam);
    // Posts msg (0, 0) to the windows of `kind` registered under `handle` only; none when no entry has it.
    void NotifyHandle(std::uint8_t kind, int handle, win::UINT msg);
    int IndexOf(std::uint8_t kind, win::HWND window) const;
    int Count() const;
    // A copy of entry `index`; raises vcl::Exception out of range.
    TvyrBlueSoleilConnection Item(int index) const;

private:
    mutable TvyrSync lock_;
    std::vector<TvyrBlueSoleilConnection> items_;
};

// The one registry of the process.
TvyrBlueSoleilConnections& BlueSoleilConnections();
void RegisterBlueSoleilWindow(int handle, std::uint8_t kind, win::HWND window);
void UnregisterBlueSoleilWindow(std::uint8_t kind, win::HWND window);

// ---- Wrappers: the entry point's result, or the default when the stack does not export it ----
// Newer interface (default 771 unless said).
std::uint32_t Btsdk_Init();
std::uint32_t Btsdk_Done();
std::uint32_t Btsdk_RegisterCallback4ThirdParty(const stackabi::bs::BtSdkCallbackStru* callback);
std::uint32_t Btsdk_SetFixedPinCode(const char* pin, std::uint16_t size);
std::uint32_t Btsdk_StartDeviceDiscovery(std::uint32_t classFilter, std::uint16_t maxDevices, std::uint16_t duration);
std::uint32_t Btsdk_StopDeviceDiscovery();
std::uint32_t Btsdk_UpdateRemoteDeviceName(std::uint32_t device, std::uint8_t* name, std::uint16_t* size);
std::uint32_t Btsdk_PairDevice(std::uint32_t device);
std::uint32_t Btsdk_UnPairDevice(std::uint32_t device);
std::uint32_t Btsdk_GetRemoteDeviceHandle(const std::uint8_t* bdAddr);                  // default 0
std::uint32_t Btsdk_AddRemoteDevice(const std::uint8_t* bdAddr);                        // default 0
std::uint32_t Btsdk_GetInquiredDevices(std::uint32_t* handles, std::uint32_t maxCount); // default 0
std::uint32_t Btsdk_GetRemoteDeviceAddress(std::uint32_t device, std::uint8_t* bdAddr);
std::uint32_t Btsdk_GetRemoteDeviceName(std::uint32_t device, std::uint8_t* name, std::uint16_t* size);
std::uint32_t Btsdk_GetRemoteDeviceClass(std::uint32_t device, std::uint32_t* classOfDevice);
// Older interface (default 0; BT_UninitializeLibrary does nothing when missing).
std::int32_t BT_InitializeLibrary();
void BT_UninitializeLibrary();
std::int32_t BT_IsBluetoothReady(std::uint32_t reserved);
std::uint32_t BT_StartBluetooth();
std::uint32_t BT_GetLocalDeviceInfo(std::uint32_t mask, stackabi::bsold::BLUETOOTH_DEVICE_INFO_EX* info);
std::uint32_t BT_SetLocalDeviceInfo(std::uint32_t mask, const stackabi::bsold::BLUETOOTH_DEVICE_INFO* info);
std::uint32_t BT_GetRemoteDeviceInfo(std::uint32_t mask, stackabi::bsold::BLUETOOTH_DEVICE_INFO_EX* info);
std::uint32_t BT_PairDevice(const stackabi::bsold::BLUETOOTH_DEVICE_INFO* device, std::uint16_t pinLength,
                            const char* pin, std::uint32_t reserved1, std::uint32_t reserved2);
std::uint32_t BT_UnpairDevice(const std::uint8_t* address);
std::uint32_t BT_InquireDevices(std::uint8_t inquiryMode, std::uint8_t timeout, std::uint32_t* length,
                                stackabi::bsold::BLUETOOTH_DEVICE_INFO* devices);
std::uint32_t BT_CancelInquiry();
std::uint32_t BT_BrowseServices(const stackabi::bsold::BLUETOOTH_DEVICE_INFO* device, std::int32_t browseAll,
                                std::uint32_t* length, stackabi::bsold::GENERAL_SERVICE_INFO* services);
std::uint32_t BT_SearchSPPExServices(const stackabi::bsold::BLUETOOTH_DEVICE_INFO* device, std::uint32_t* length,
                                     stackabi::bsold::SPPEX_SERVICE_INFO* service);
std::uint32_t BT_GetConnectInfo(std::uint32_t connection, std::uint32_t* serviceClass, std::uint16_t* role,
                                std::uint8_t* remoteAddress, std::uint32_t* infoSize,
                                stackabi::bsold::SPPEX_CONNECT_INFO* info);
std::uint32_t BT_ConnectSPPExService(const stackabi::bsold::BLUETOOTH_DEVICE_INFO* device,
                                     stackabi::bsold::SPPEX_SERVICE_INFO* service, std::uint32_t* connection);
std::uint32_t BT_DisconnectSPPExService(std::uint32_t connection);
std::uint32_t BT_RegisterCallback(std::uint8_t kind, stackabi::bsold::BT_CALLBACK callback);
std::uint32_t BT_UnregisterCallback(std::uint8_t kind);

} // namespace vyr
