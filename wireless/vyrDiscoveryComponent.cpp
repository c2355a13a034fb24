// The discovery component and its stack roads: a worker thread per inquiry on the Microsoft stack, the
// BlueSoleil older interface and the Toshiba stack, a stack callback on the BlueSoleil newer interface,
// and the bridge's result message on WidComm.
//
// Workers and the callback touch nothing of the component: they only send to its window, and the list
// they send stays theirs (the handler copies it). A window that is gone makes their sends return 0, so
// a worker that ends after the discovery was terminated reaches nobody.
#include "vyrBluetoothDiscovery.h"

#include "vyrBlueSoleil.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrMicrosoft.h"
#include "vyrToshiba.h"
#include "vyrWidComm.h"
#include "win32/LookupService.h"
#include "win32/Windows.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace vyr {
namespace {

namespace ws = stackabi::ws;
namespace bs = stackabi::bs;
namespace bsold = stackabi::bsold;

// The window whose inquiry runs on the BlueSoleil newer interface; null while none does. One per process:
// the stack's inquiry callback carries no context.
std::atomic<win::HWND> g_blueSoleilSlot{nullptr};

constexpr std::size_t kMsResultBufferSize = 102400;
constexpr std::uint32_t kBsInquiryBufferSize = 8400;
constexpr std::uint32_t kBsMaxRecords = kBsInquiryBufferSize / sizeof(bsold::BLUETOOTH_DEVICE_INFO);

// Appends a device of that address text; a text that is no address is the stack's fault and is skipped
// (a raise here would end the process on a worker or stack thread). Some stacks mark unused entries
// with the empty address.
void AddDevice(TvyrBluetoothDevices& list, const std::u16string& address, bool skipEmpty = false) {
    if (!IsValidBluetoothAddressText(address) || (skipEmpty && address == EmptyBluetoothAddress))
        return;
    auto device = std::make_unique<TvyrBluetoothDevice>();
    device->SetAddress(address);
    list.Add(std::move(device));
}

void SendStarted(win::HWND wnd) {
    win::SendMessageW(wnd, WM_DISCOVERY_STARTED, 0, 0);
}

void SendCompleted(win::HWND wnd, const TvyrBluetoothDevices* list) {
    win::SendMessageW(wnd, WM_DISCOVERY_COMPLETED, reinterpret_cast<win::WPARAM>(list), 0);
}

// ---- Microsoft: a device inquiry through Winsock's service lookup ----
std::unique_ptr<TvyrBluetoothDevices> MicrosoftInquiry(win::HWND, std::uint8_t timeout) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kMsResultBufferSize]);
    if (!buffer)
        return nullptr;
    ws::BTH_QUERY_DEVICE query{0, timeout};
    ws::BLOB blob{sizeof query, reinterpret_cast<std::uint8_t*>(&query)};
    ws::WSAQUERYSETW restrictions{};
    restrictions.dwSize = sizeof restrictions;
    restrictions.dwNameSpace = ws::NS_BTH;
    restrictions.lpBlob = &blob;
    win::HANDLE lookup = nullptr;
    if (win::WSALookupServiceBeginW(&restrictions, ws::kDeviceInquiryFlags, &lookup) != 0) {
        // "Nothing found" is an empty result, anything else a failed inquiry.
        if (win::WSAGetLastError() == ws::WSASERVICE_NOT_FOUND)
            return std::make_unique<TvyrBluetoothDevices>();
        return nullptr;
    }
    auto list = std::make_unique<TvyrBluetoothDevices>();
    for (;;) {
        std::memset(buffer.get(), 0, kMsResultBufferSize);
        win::DWORD length = kMsResultBufferSize;
        auto* result = reinterpret_cast<ws::WSAQUERYSETW*>(buffer.get());
        if (win::WSALookupServiceNextW(lookup, ws::kDeviceInquiryFlags, &length, result) != 0)
            break;
        if (!result->lpcsaBuffer || !result->lpcsaBuffer->RemoteAddr.lpSockaddr)
            continue;
        char16_t text[256] = {};
        win::DWORD textLength = 256;
        if (win::WSAAddressToStringW(result->lpcsaBuffer->RemoteAddr.lpSockaddr,
                                     static_cast<win::DWORD>(result->lpcsaBuffer->RemoteAddr.iSockaddrLength), nullptr,
                                     text, &textLength) != 0)
            continue;
        text[255] = 0;
        std::u16string address(text);
        const auto close = address.find(u')');
        if (close != std::u16string::npos)
            address.resize(close + 1);
        AddDevice(*list, address);
    }
    win::WSALookupServiceEnd(lookup);
    return list;
}

// ---- BlueSoleil older interface: one blocking inquiry ----
std::unique_ptr<TvyrBluetoothDevices> BlueSoleilOlderInquiry(win::HWND, std::uint8_t timeout) {
    std::unique_ptr<bsold::BLUETOOTH_DEVICE_INFO[]> records(new (std::nothrow)
                                                                bsold::BLUETOOTH_DEVICE_INFO[kBsMaxRecords]());
    if (!records)
        return nullptr;
    records[0].dwSize = sizeof(bsold::BLUETOOTH_DEVICE_INFO);
    std::uint32_t length = kBsInquiryBufferSize;
    if (vyr::BT_InquireDevices(bsold::BT_INQUIRY_MODE, timeout, &length, records.get()) != bsold::BT_SUCCESS)
        return nullptr;
    // The stack's length is trusted no further than the buffer reaches.
    constexpr std::uint64_t record = sizeof(bsold::BLUETOOTH_DEVICE_INFO);
    const auto count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kBsMaxRecords, (length + record / 2) / record));
    auto list = std::make_unique<TvyrBluetoothDevices>();
    for (std::uint32_t i = 0; i < count; ++i)
        AddDevice(*list, BytesToAddressText(records[i].address, 6, true));
    return list;
}

// ---- Toshiba: the stack notifies a window of the worker's own ----
// Takes the end notice out of the worker's queue, if the stack has posted it.
bool TakeToshibaEnd(win::HWND wnd) {
    win::MSG msg{};
    while (win::PeekMessageW(&msg, wnd, WM_TOSHIBA_DISCOVERY_NOTIFY, WM_TOSHIBA_DISCOVERY_NOTIFY, win::PM_REMOVE))
        if (msg.wParam == tos::BTNOTIFY_DISCOVERY_END)
            return true;
    return false;
}

std::unique_ptr<TvyrBluetoothDevices> ToshibaInquiry(win::HWND owner, std::uint8_t timeout) {
    win::HWND wnd = CreateHiddenWindow();
    if (!wnd)
        return nullptr;
    // The stack writes the list into the slot from its own thread and then posts its end notice: the slot
    // and the list are freed only after that notice. Should it never come, the slot is left to the stack
    // rather than freed under it.
    auto* slot = new (std::nothrow) tos::BTDEVINFOLIST*(nullptr);
    if (!slot) {
        win::DestroyWindow(wnd);
        return nullptr;
    }
    tos::BTSTATUS status = 0;
    bool failed = !vyr::BtDiscoverRemoteDevice2(slot, 0, 0, &status, wnd, WM_TOSHIBA_DISCOVERY_NOTIFY);
    bool ended = failed;
    // A discovery terminated before this inquiry was registered cancelled nothing: cancel it here, or it
    // runs on (and writes into the slot) for nobody.
    if (!ended && !win::IsWindow(owner))
        vyr::BtCancelDiscoverRemoteDevice(&status);
    // The stack inquires for its own length, not the caller's: a shorter time-out must not cut it short.
    const win::DWORD limit =
        std::max<win::DWORD>(static_cast<win::DWORD>(timeout) * 1000, ToshibaStackInquiryMs) + ToshibaDiscoveryGraceMs;
    const win::ULONGLONG deadline = win::GetTickCount64() + limit;
    while (!ended) {
        win::MSG msg{};
        if (win::PeekMessageW(&msg, nullptr, 0, 0, win::PM_REMOVE)) {
            if (msg.message == win::WM_QUIT) {
                // Not the end of the inquiry: the slot stays with the stack.
                win::PostQuitMessage(static_cast<int>(msg.wParam)); // for the thread's own loop
                break;
            } else if (msg.hwnd == wnd && msg.message == WM_TOSHIBA_DISCOVERY_NOTIFY) {
                if (msg.wParam == tos::BTNOTIFY_DISCOVERY_FAILED)
                    failed = true;
                else if (msg.wParam == tos::BTNOTIFY_DISCOVERY_END)
                    ended = true;
            } else {
                win::DispatchMessageW(&msg);
            }
            continue;
        }
        const win::ULONGLONG now = win::GetTickCount64();
        if (now >= deadline)
            break;
        win::MsgWaitForMultipleObjects(0, nullptr, win::FALSE, static_cast<win::DWORD>(deadline - now),
                                       win::QS_ALLINPUT);
    }
    if (!ended) {
        vyr::BtCancelDiscoverRemoteDevice(&status);
        // A stack whose cancel ends the inquiry at once has posted its end by now; otherwise the slot (and
        // whatever it will point to) stays with the stack.
        if (!TakeToshibaEnd(wnd)) {
            win::DestroyWindow(wnd);
            return nullptr;
        }
        failed = true;
    }
    std::unique_ptr<TvyrBluetoothDevices> list;
    tos::BTDEVINFOLIST* found = *slot;
    delete slot;
    if (!failed) {
        list = std::make_unique<TvyrBluetoothDevices>();
        if (found)
            for (std::uint32_t i = 0; i < found->Count; ++i)
                AddDevice(*list, BytesToAddressText(tos::BtDevInfoListEntry(found, i)->BdAddr), true);
    }
    if (found)
        vyr::BtMemFree(found);
    win::DestroyWindow(wnd);
    return list;
}

template <std::unique_ptr<TvyrBluetoothDevices> (*Inquiry)(win::HWND, std::uint8_t)>
void RunWorker(win::HWND wnd, std::uint8_t timeout) {
    SendStarted(wnd);
    std::unique_ptr<TvyrBluetoothDevices> list;
    try {
        list = Inquiry(wnd, timeout);
    } catch (...) {
        list.reset(); // out of memory: a failed inquiry
    }
    SendCompleted(wnd, list.get());
}

// ---- BlueSoleil newer interface: the stack's inquiry-complete callback, on a stack thread ----
void BlueSoleilInquiryComplete() {
    const win::HWND wnd = g_blueSoleilSlot.load();
    if (!wnd)
        return;
    std::unique_ptr<TvyrBluetoothDevices> list;
    try {
        list = std::make_unique<TvyrBluetoothDevices>();
        const std::uint32_t n = vyr::Btsdk_GetInquiredDevices(nullptr, 0);
        if (n > 0) {
            std::vector<std::uint32_t> handles(n, 0);
            const std::uint32_t filled = std::min(n, vyr::Btsdk_GetInquiredDevices(handles.data(), n));
            for (std::uint32_t i = 0; i < filled; ++i) {
                std::uint8_t address[6] = {};
                if (vyr::Btsdk_GetRemoteDeviceAddress(handles[i], address) == bs::BTSDK_OK)
                    AddDevice(*list, BytesToAddressText(address, 6, true), true);
            }
        }
    } catch (...) {
        list = std::make_unique<TvyrBluetoothDevices>();
    }
    SendCompleted(wnd, list.get());
}

void RegisterBlueSoleilCallback(bool on) {
    bs::BtSdkCallbackStru callback{};
    callback.type = bs::BTSDK_CB_INQUIRY_COMPLETE;
    callback.func = on ? &BlueSoleilInquiryComplete : nullptr;
    vyr::Btsdk_RegisterCallback4ThirdParty(&callback);
}

// Seconds to the stack's units of 1.28 s, to the nearest, ties to even.
std::uint16_t BlueSoleilInquiryUnits(std::uint8_t seconds) {
    const unsigned scaled = seconds * 25u; // seconds / 1.28 == seconds * 25 / 32
    unsigned units = scaled / 32;
    const unsigned rest = scaled % 32;
    if (rest > 16 || (rest == 16 && (units & 1)))
        ++units;
    return static_cast<std::uint16_t>(units);
}

} // namespace

TvyrBluetoothDiscovery::TvyrBluetoothDiscovery(vcl::TComponent* owner)
    : vcl::TComponent(owner), radio_(std::make_unique<TvyrBluetoothRadio>()),
      devices_(std::make_unique<TvyrBluetoothDevices>()) {}

TvyrBluetoothDiscovery::~TvyrBluetoothDiscovery() {
    End(false);
}

int TvyrBluetoothDiscovery::EnumRadios(TvyrBluetoothRadios* radios) {
    if (!radios)
        throw vyrEInvalidArgument(StrRadiosNotValid);
    if (!IsTransportAvailable(TRANSPORT_BLUETOOTH))
        return VYR_TRANSPORT_NOT_AVAILABLE;
    radios->Clear();
    for (std::uint8_t kind = baBlueSoleil; kind <= baWidComm; ++kind)
        if (IsApiAvailable(kind))
            radios->Add(std::make_unique<TvyrBluetoothRadio>(static_cast<TvyrBluetoothApi>(kind)));
    return 0;
}

int TvyrBluetoothDiscovery::Discover(const TvyrBluetoothRadio* radio, std::uint8_t timeout) {
    if (wnd_)
        return VYR_DISCOVERY_ACTIVE;
    if (!radio)
        throw vyrEInvalidArgument(StrRadioNotValid);
    if (!IsTransportAvailable(TRANSPORT_BLUETOOTH))
        return VYR_TRANSPORT_NOT_AVAILABLE;
    if (!IsApiAvailable(radio->Api()))
        return VYR_BLUETOOTH_API_NOT_AVAILABLE;
    wnd_ = CreateHiddenWindow();
    if (!wnd_)
        return VYR_OUT_OF_RESOURCES;
    RegisterListenerWindow(wnd_);
    AttachHiddenWindow(wnd_, this);
    radio_->Assign(radio);
    timeout_ = timeout;
    finishing_ = false;
    newerBlueSoleil_ = radio_->Api() == baBlueSoleil && BlueSoleilUsesNewerInterface();
    int result;
    try {
        result = StartOnStack();
    } catch (...) {
        TearDown();
        throw;
    }
    if (result != 0)
        TearDown();
    return result;
}

int TvyrBluetoothDiscovery::StartOnStack() {
    switch (radio_->Api()) {
    case baBlueSoleil:
        if (!newerBlueSoleil_)
            return StartWorker(&RunWorker<&BlueSoleilOlderInquiry>);
        {
            win::HWND expected = nullptr;
            if (!g_blueSoleilSlot.compare_exchange_strong(expected, wnd_))
                return VYR_DISCOVERY_ACTIVE;
        }
        {
            bs::BtSdkCallbackStru callback{};
            callback.type = bs::BTSDK_CB_INQUIRY_COMPLETE;
            callback.func = &BlueSoleilInquiryComplete;
            if (vyr::Btsdk_RegisterCallback4ThirdParty(&callback) != bs::BTSDK_OK) {
                ReleaseBlueSoleilSlot();
                return VYR_INTERNAL_ERROR;
            }
        }
        if (vyr::Btsdk_StartDeviceDiscovery(0, 0, BlueSoleilInquiryUnits(timeout_)) != bs::BTSDK_OK) {
            RegisterBlueSoleilCallback(false);
            ReleaseBlueSoleilSlot();
            return VYR_INTERNAL_ERROR;
        }
        win::PostMessageW(wnd_, WM_DISCOVERY_STARTED, 0, 0);
        return 0;
    case baMicrosoft:
        return StartWorker(&RunWorker<&MicrosoftInquiry>);
    case baToshiba:
        return StartWorker(&RunWorker<&ToshibaInquiry>);
    case baWidComm:
        return vyr::WD_Discovery(wnd_);
    }
    return VYR_INTERNAL_ERROR;
}

int TvyrBluetoothDiscovery::StartWorker(void (*worker)(win::HWND, std::uint8_t)) {
    const win::HWND wnd = wnd_;
    const std::uint8_t timeout = timeout_;
    // The thread runs on by itself; only its messages come back.
    win::HANDLE thread = win::CreateThread([worker, wnd, timeout]() -> win::DWORD {
        worker(wnd, timeout);
        return 0;
    });
    if (!thread)
        return VYR_OUT_OF_RESOURCES;
    win::CloseHandle(thread);
    return 0;
}

int TvyrBluetoothDiscovery::Terminate() {
    return End(true);
}

int TvyrBluetoothDiscovery::End(bool fire) {
    if (!wnd_)
        return VYR_DISCOVERY_NOT_STARTED;
    if (newerBlueSoleil_)
        ReleaseBlueSoleilSlot();
    TearDown();
    switch (radio_->Api()) {
    case baBlueSoleil:
        if (newerBlueSoleil_) {
            RegisterBlueSoleilCallback(false);
            vyr::Btsdk_StopDeviceDiscovery();
        } else {
            vyr::BT_CancelInquiry();
        }
        break;
    case baMicrosoft:
        break; // the inquiry cannot be cut short; its worker ends unheard
    case baToshiba: {
        tos::BTSTATUS status = 0;
        vyr::BtCancelDiscoverRemoteDevice(&status);
        break;
    }
    case baWidComm:
        vyr::WD_Terminate();
        break;
    }
    if (fire)
        FireComplete(nullptr);
    return 0;
}

void TvyrBluetoothDiscovery::TearDown() {
    if (!wnd_)
        return;
    UnregisterListenerWindow(wnd_);
    DestroyHiddenWindow(wnd_);
    finishing_ = false;
}

void TvyrBluetoothDiscovery::ReleaseBlueSoleilSlot() {
    win::HWND mine = wnd_;
    g_blueSoleilSlot.compare_exchange_strong(mine, nullptr);
}

void TvyrBluetoothDiscovery::FireComplete(TvyrBluetoothDevices* devices) {
    if (OnDiscoveryComplete)
        OnDiscoveryComplete(this, radio_.get(), devices);
}

void TvyrBluetoothDiscovery::Completed(const TvyrBluetoothDevices* found) {
    if (!wnd_ || finishing_)
        return;
    if (newerBlueSoleil_) {
        RegisterBlueSoleilCallback(false);
        ReleaseBlueSoleilSlot();
    }
    if (found) {
        devices_->Assign(found);
        finishing_ = true;
        // The sender gets its list back before the event runs; the event sees the component's copy.
        win::PostMessageW(wnd_, WM_DISCOVERY_FINISH, 0, 0);
    } else {
        TearDown();
        FireComplete(nullptr);
    }
}

void TvyrBluetoothDiscovery::WidCommResult(const std::uint8_t* addresses, win::LPARAM count) {
    if (!addresses) {
        Completed(nullptr);
        return;
    }
    TvyrBluetoothDevices list;
    for (win::LPARAM i = 0; i < count; ++i) // a negative count reads as none
        AddDevice(list, BytesToAddressText(addresses + 6 * i));
    Completed(&list);
}

void TvyrBluetoothDiscovery::HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (!wnd_)
        return;
    switch (msg) {
    case WM_API_UNLOADED:
        Terminate();
        break;
    case WM_API_CHANGED:
        if (!IsTransportAvailable(TRANSPORT_BLUETOOTH) || !IsApiAvailable(radio_->Api()))
            Terminate();
        break;
    case WM_DISCOVERY_STARTED:
        if (OnDiscoveryStarted && !finishing_)
            OnDiscoveryStarted(this, radio_.get());
        break;
    case WM_DISCOVERY_COMPLETED:
        Completed(reinterpret_cast<const TvyrBluetoothDevices*>(wParam));
        break;
    case WM_WIDCOMM_DISCOVERY_RESULT:
        WidCommResult(reinterpret_cast<const std::uint8_t*>(wParam), lParam);
        break;
    case WM_DISCOVERY_FINISH:
        TearDown();
        FireComplete(devices_.get());
        break;
    default:
        break;
    }
}

} // namespace vyr
