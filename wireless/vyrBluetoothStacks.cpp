// The longer per-stack roads of the radio and device operations: Toshiba pairing through an
// authenticated link, Toshiba link-key removal, the Microsoft radio name, and the bounded notice wait.
#include "vyrBluetoothDiscovery.h"
#include "vyrBluetoothStack.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "vyrMicrosoft.h"
#include "vyrToshiba.h"
#include "win32/Windows.h"

#include <cstring>

namespace vyr {

bool WaitForStackNotice(win::HWND hwnd, win::UINT msg, win::DWORD limitMs, const std::function<bool()>& done,
                        bool* quit) {
    const win::DWORD start = win::GetTickCount();
    for (;;) {
        if (done())
            return true;
        win::MSG m{};
        if (win::PeekMessageW(&m, nullptr, win::WM_QUIT, win::WM_QUIT, win::PM_REMOVE)) {
            win::PostQuitMessage(static_cast<int>(m.wParam));
            if (quit)
                *quit = true;
            return false;
        }
        const bool got = hwnd ? win::PeekMessageW(&m, hwnd, msg, msg, win::PM_REMOVE)
                              : win::PeekMessageW(&m, nullptr, 0, 0, win::PM_REMOVE);
        if (got) {
            win::DispatchMessageW(&m);
            continue;
        }
        const win::DWORD elapsed = win::GetTickCount() - start;
        if (elapsed >= limitMs)
            return false;
        win::MsgWaitForMultipleObjects(0, nullptr, win::FALSE, limitMs - elapsed, win::QS_ALLINPUT);
    }
}

// ---- Toshiba ----

bool ToshibaDeleteLinkKey(const std::u16string& address) {
    tos::BTLINKKEYDELETE block{};
    block.Count = 1;
    AddressTextToBytes(address, block.BdAddr);
    tos::BTSTATUS status = 0;
    return vyr::BtDeleteLinkKey(&block, &status) != 0;
}

namespace {

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

} // namespace

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

// ---- Microsoft ----

int MicrosoftSetRadioName(const std::u16string& name) {
    // The radio already carrying this name needs nothing.
    stackabi::Handle radio = nullptr;
    {
        ms::BLUETOOTH_FIND_RADIO_PARAMS params{};
        params.dwSize = sizeof params;
        ms::HBLUETOOTH_RADIO_FIND find = vyr::BluetoothFindFirstRadio(&params, &radio);
        if (find)
            vyr::BluetoothFindRadioClose(find);
    }
    if (radio) {
        ms::BLUETOOTH_RADIO_INFO info{};
        info.dwSize = sizeof info;
        const bool ok = vyr::BluetoothGetRadioInfo(radio, &info) == ms::ERROR_SUCCESS;
        win::CloseHandle(radio);
        if (ok) {
            std::size_t n = 0;
            while (n < ms::BLUETOOTH_MAX_NAME_SIZE && info.szName[n])
                ++n;
            if (std::u16string(info.szName, n) == name)
                return 0;
        }
    }
    return MicrosoftWriteRadioName(name);
}

} // namespace vyr
