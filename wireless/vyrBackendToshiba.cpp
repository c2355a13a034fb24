// The Toshiba stack's backend. The stack answers the longer calls (pairing, service search, inquiry) with
// notices posted to a window: each such call gets a hidden window of its own and a bounded wait, so a stack
// that never answers cannot hang the caller.
#include "vyrBackend.h"

#include "vcl/SysUtils.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrErrors.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrToshiba.h"
#include "win32/LookupService.h"
#include "win32/Windows.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vyr {
namespace {

namespace wsabi = stackabi::ws;

// ---- Pairing ----

bool ToshibaDeleteLinkKey(const std::u16string& address) {
    tos::BTLINKKEYDELETE block{};
    block.Count = 1;
    AddressTextToBytes(address, block.BdAddr);
    tos::BTSTATUS status = 0;
    return vyr::BtDeleteLinkKey(&block, &status) != 0;
}

// The pairing link's notices. The flags belong to one pairing, so pairings on several threads do not
// disturb each other.
class ToshibaPairingWindow : public TvyrHiddenWindowOwner {
public:
    bool failed = false;
    bool done = false;
    void HiddenWindowMessage(win::UINT msg, win::WPARAM wParam, win::LPARAM) override {
        if (msg != WM_TRANSPORT_CHANGED) // the pairing notice shares its number on this private window
            return;
        if (wParam == tos::BTNOTIFY_PAIR_FAILED)
            failed = true;
        else if (wParam == tos::BTNOTIFY_PAIR_FAILURE_CLEARED)
            failed = false;
        else if (wParam == tos::BTNOTIFY_PAIR_END)
            done = true;
    }
};

int ToshibaPair(const std::u16string& address, const std::string& pin) {
    std::uint8_t bytes[6];
    AddressTextToBytes(address, bytes);

    // A device the stack already knows loses its old link key first.
    tos::BTDEVINFOLIST* list = nullptr;
    tos::BTSTATUS status = 0;
    if (!vyr::BtGetRemoteDeviceList2(&list, 0, 0, &status, nullptr, 0))
        return VYR_INTERNAL_ERROR;
    bool known = false;
    if (list) {
        for (std::uint32_t i = 0; i < list->Count && !known; ++i)
            known = std::memcmp(tos::BtDevInfoListEntry(list, i)->BdAddr, bytes, 6) == 0;
        vyr::BtMemFree(list);
    }
    if (known && !ToshibaDeleteLinkKey(address))
        return VYR_INTERNAL_ERROR;

    ToshibaPairingWindow owner;
    win::HWND hwnd = CreateHiddenWindow();
    if (!hwnd)
        return VYR_OUT_OF_RESOURCES;
    AttachHiddenWindow(hwnd, &owner);

    int result = VYR_INTERNAL_ERROR;
    tos::BTADDR8 address8{};
    std::memcpy(address8.BdAddr, bytes, 6);
    if (vyr::BtSetAutoReplyPinCode(&address8, pin.c_str(), static_cast<std::uint32_t>(pin.size()), &status)) {
        vyr::BtSetIOCapabilityResponse(bytes, tos::BTIOCAP_DISPLAY_ONLY, tos::BTOOB_NOT_PRESENT,
                                       tos::BTAUTHREQ_GENERAL_BONDING, &status);
        owner.failed = false;
        owner.done = false;
        tos::BTCONNPARAM params{};
        std::uint16_t connection = 0;
        if (vyr::BtConnect(bytes, tos::BTCONNECT_KIND_PAIRING, 0, 0, 0, &params, sizeof params, &connection, 0, &status,
                           hwnd, WM_TRANSPORT_CHANGED, 0)) {
            // The stack ends every attempt with the done notice; a stack that never does must not hang us.
            const bool ended = WaitForStackNotice(nullptr, 0, ToshibaPairingWaitMs, [&] { return owner.done; });
            if (ended && !owner.failed) {
                vyr::BtDisconnect(connection, &status);
                result = 0;
            }
        }
        vyr::BtClearIOCapabilityResponse(bytes, &status);
        vyr::BtClearAutoReplyPinCode(&address8, &status);
    }
    DestroyHiddenWindow(hwnd);
    return result;
}

// ---- Services ----

class ToshibaSdpWindow : public TvyrHiddenWindowOwner {
public:
    win::WPARAM failMark = 0, endMark = 0;
    bool failed = false, ended = false;
    void Arm(win::WPARAM fail, win::WPARAM end) {
        failMark = fail;
        endMark = end;
        failed = ended = false;
    }
    void HiddenWindowMessage(win::UINT, win::WPARAM wParam, win::LPARAM) override {
        if (wParam == failMark)
            failed = true;
        else if (wParam == endMark)
            ended = true;
    }
};

// Waits for the end notice of one SDP step; false when it failed or ran out of time. A WM_QUIT ends the
// wait as the end notice does, and stays queued for the thread's own loop.
bool WaitSdpStep(win::HWND hwnd, win::UINT msg, ToshibaSdpWindow& owner) {
    bool quit = false;
    const bool ended = WaitForStackNotice(
        hwnd, msg, ToshibaServiceWaitMs, [&] { return owner.ended; }, &quit);
    return (ended || quit) && !owner.failed;
}

win::GUID GuidFromToshibaUuid(const tos::BTUUIDINFO& u) {
    if (u.SizeBits == 16 || u.SizeBits == 32)
        return BluetoothUuid(static_cast<std::uint32_t>(u.Uuid[2] << 8 | u.Uuid[3]));
    if (u.SizeBits == 128)
        return UuidFromBigEndian(u.Uuid);
    return BluetoothBaseUuid;
}

int EnumToshiba(const std::u16string& address, TvyrBluetoothServices* services, const win::GUID* uuid) {
    tos::BTUUIDINFO pattern{};
    pattern.SizeBits = 128;
    std::uint8_t uuidBytes[16];
    GuidToBytes(uuid ? *uuid : reinterpret_cast<const win::GUID&>(wsabi::L2CAP_PROTOCOL_UUID), uuidBytes);
    std::memcpy(pattern.Uuid, uuidBytes, 16);
    tos::BTSTATUS status = 0;
    tos::BTSEARCHPATTERN* searchPattern = nullptr;
    if (!vyr::BtMakeServiceSearchPattern2(1, &pattern, &searchPattern, &status))
        return VYR_INTERNAL_ERROR;
    tos::BTATTRIDLIST* attributeIds = nullptr;
    if (!vyr::BtMakeAttributeIDList2(tos::BTATTRMASK_SERVICE_SEARCH, 0, &attributeIds, &status)) {
        vyr::BtMemFree(searchPattern);
        return VYR_INTERNAL_ERROR;
    }
    ToshibaSdpWindow owner;
    win::HWND hwnd = CreateHiddenWindow();
    if (!hwnd) {
        vyr::BtMemFree(attributeIds);
        vyr::BtMemFree(searchPattern);
        return VYR_OUT_OF_RESOURCES;
    }
    AttachHiddenWindow(hwnd, &owner);

    std::uint8_t bytes[6];
    AddressTextToBytes(address, bytes);
    int result = VYR_INTERNAL_ERROR;
    std::uint16_t connection = 0;
    owner.Arm(tos::BTNOTIFY_SDP_CONNECT_FAILED, tos::BTNOTIFY_SDP_CONNECT_END);
    if (vyr::BtConnectSDP(bytes, &connection, &status, hwnd, WM_TOSHIBA_SDP_CONNECT, 0)) {
        if (WaitSdpStep(hwnd, WM_TOSHIBA_SDP_CONNECT, owner)) {
            tos::BTATTRLISTS* lists = nullptr;
            owner.Arm(tos::BTNOTIFY_SDP_SEARCH_FAILED, tos::BTNOTIFY_SDP_SEARCH_END);
            if (vyr::BtServiceSearchAttribute2(connection, searchPattern, attributeIds, 0, 0, &lists, &status, hwnd,
                                               WM_TOSHIBA_SDP_SEARCH, 0) &&
                WaitSdpStep(hwnd, WM_TOSHIBA_SDP_SEARCH, owner)) {
                tos::BTANALYZEDATTRLIST2* analysed = nullptr;
                if (vyr::BtAnalyzeServiceAttributeLists2(lists, tos::BTATTRMASK_SERVICE_SEARCH, &analysed, &status)) {
                    services->Clear();
                    for (std::uint32_t i = 0; analysed && analysed->Records && i < analysed->Count; ++i) {
                        const tos::BTANALYZEDATTR2& r = analysed->Records[i];
                        auto service = std::make_unique<TvyrBluetoothService>();
                        if (r.ServiceClassCount > 0 && r.ServiceClasses)
                            service->SetUuid(GuidFromToshibaUuid(r.ServiceClasses[0]));
                        if (r.ServiceName)
                            service->SetName(vcl::Utf8ToUtf16(
                                std::string_view(reinterpret_cast<const char*>(r.ServiceName), r.ServiceNameLength)));
                        if (r.HasHandle)
                            service->SetHandle(r.ServiceRecordHandle);
                        if (r.ServiceDescription)
                            service->SetComment(vcl::Utf8ToUtf16(std::string_view(
                                reinterpret_cast<const char*>(r.ServiceDescription), r.ServiceDescriptionLength)));
                        for (std::uint32_t d = 0; r.ProtocolDescriptors && d < r.ProtocolDescriptorCount; ++d) {
                            tos::BTPROTOCOLPARAM2 param{};
                            param.Size = sizeof param;
                            if (vyr::BtAnalyzeProtocolParameter2(&r.ProtocolDescriptors[d], &param, &status) &&
                                (param.Flags & tos::BTPROTO_HAS_CHANNEL))
                                service->SetChannel(param.Channel);
                        }
                        services->Add(std::move(service));
                    }
                    vyr::BtFreePBTANALYZEDATTRLIST2(analysed, &status);
                    result = 0;
                }
            }
            if (lists)
                vyr::BtMemFree(lists);
            vyr::BtDisconnectSDP(connection, &status);
        }
    }
    DestroyHiddenWindow(hwnd);
    vyr::BtMemFree(attributeIds);
    vyr::BtMemFree(searchPattern);
    return result;
}

// ---- Inquiry: the stack notifies a window of the worker's own ----

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
                AddInquiredDevice(*list, BytesToAddressText(tos::BtDevInfoListEntry(found, i)->BdAddr), true);
    }
    if (found)
        vyr::BtMemFree(found);
    win::DestroyWindow(wnd);
    return list;
}

class TvyrToshibaInquiry : public TvyrBluetoothInquiry {
public:
    int Start(win::HWND wnd, std::uint8_t timeout) override {
        return StartInquiryWorker(wnd, timeout, &ToshibaInquiry);
    }
    void Cancel() override {
        tos::BTSTATUS status = 0;
        vyr::BtCancelDiscoverRemoteDevice(&status);
    }
};

class TvyrToshibaBackend : public TvyrBluetoothBackend {
public:
    TvyrRoadKind RoadKind() const override { return TvyrRoadKind::Toshiba; }
    bool OneAttemptAtATime() const override { return true; }

    int GetRadioAddress(std::u16string& address) const override {
        tos::BTLOCALINFO2 info{};
        tos::BTSTATUS status = 0;
        if (!vyr::BtGetLocalInfo2(&info, &status))
            return VYR_INTERNAL_ERROR;
        address = BytesToAddressText(info.BdAddr, 6, false);
        return 0;
    }

    int SetRadioName(const std::u16string& name) const override {
        std::uint8_t buffer[tos::kNameBufferSize] = {};
        const std::string utf8 = CutUtf8(name, 248);
        std::memcpy(buffer, utf8.data(), utf8.size());
        tos::BTSTATUS status = 0;
        return vyr::BtSetLocalDeviceName(buffer, &status) ? 0 : VYR_INTERNAL_ERROR;
    }

    int GetDeviceName(const std::u16string& address, std::u16string& name) const override {
        std::uint8_t bytes[6];
        AddressTextToBytes(address, bytes);
        std::uint8_t buffer[tos::kNameBufferSize] = {};
        tos::BTSTATUS status = 0;
        if (!vyr::BtGetRemoteName(bytes, buffer, &status))
            return VYR_INTERNAL_ERROR;
        name = DecodeStackText(buffer, sizeof buffer);
        return 0;
    }

    int GetClassOfDevice(const std::u16string& address, int& classOfDevice) const override {
        std::uint8_t bytes[6];
        AddressTextToBytes(address, bytes);
        std::uint32_t value = 0;
        tos::BTSTATUS status = 0;
        if (!vyr::BtGetRemoteClassOfDevice(bytes, &value, &status))
            return VYR_INTERNAL_ERROR;
        classOfDevice = static_cast<int>(value);
        return 0;
    }

    int Pair(const std::u16string& address, const std::u16string& pin) const override {
        return ToshibaPair(address, vcl::Utf16ToUtf8(pin));
    }

    int Unpair(const std::u16string& address) const override {
        return ToshibaDeleteLinkKey(address) ? 0 : VYR_INTERNAL_ERROR;
    }

    int EnumServices(const std::u16string& address, TvyrBluetoothServices* services,
                     const win::GUID* uuid) const override {
        return EnumToshiba(address, services, uuid);
    }

    std::unique_ptr<TvyrBluetoothInquiry> CreateInquiry() const override {
        return std::unique_ptr<TvyrBluetoothInquiry>(new (std::nothrow) TvyrToshibaInquiry);
    }
};

} // namespace

const TvyrBluetoothBackend& ToshibaBackend() {
    static const TvyrToshibaBackend backend;
    return backend;
}

} // namespace vyr
