// Choosing a radio's backend, and the pieces the four backends share.
#include "vyrBackend.h"

#include "vcl/SysUtils.h"
#include "vyrBluetoothDiscovery.h"
#include "vyrFuncs.h"
#include "vyrMessages.h"
#include "win32/Windows.h"

#include <array>
#include <cstring>
#include <string_view>

namespace vyr {

namespace {

using TvyrBackendGetter = const TvyrBluetoothBackend& (*)();

// The backends by stack kind (TvyrBluetoothApi order). A new stack adds its line here.
constexpr std::array<TvyrBackendGetter, 4> Backends = {
    &BlueSoleilBackend, // baBlueSoleil
    &MicrosoftBackend,  // baMicrosoft
    &ToshibaBackend,    // baToshiba
    &WidCommBackend,    // baWidComm
};

// Bytes of the incomplete character that ends `text`: a lead byte with fewer continuation bytes than it
// announces, each fitting it. 0 when the text ends on a whole character or on bytes no character starts
// with, which are shown as they are.
std::size_t IncompleteTail(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const std::size_t n = text.size();
    std::size_t lead = n;
    while (lead > 0 && n - lead < 3 && (byte(lead - 1) & 0xC0) == 0x80)
        --lead;
    if (lead == 0)
        return 0;
    --lead;
    const unsigned char b = byte(lead);
    const std::size_t need = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    const std::size_t have = n - lead;
    if (have >= need)
        return 0;
    if (have >= 2) {
        // The second byte must fit the lead: no overlong form, surrogate or code point past U+10FFFF.
        const unsigned char c = byte(lead + 1);
        const unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        if (c < low || c > high)
            return 0;
    }
    return have;
}

} // namespace

const TvyrBluetoothBackend* BluetoothBackend(TvyrBluetoothApi api) {
    const std::size_t index = api;
    return index < Backends.size() ? &Backends[index]() : nullptr;
}

bool TvyrBluetoothInquiry::HandleMessage(win::UINT, win::WPARAM, win::LPARAM, const TvyrCompleted&) {
    return false;
}

std::u16string DecodeStackText(const void* data, std::size_t capacity) {
    const auto* bytes = static_cast<const char*>(data);
    // The stack may fill the buffer without a terminator: never read past it.
    std::string_view text(bytes, strnlen(bytes, capacity));
    // A full buffer may have cut the text inside its last character: end on the last whole one instead.
    if (text.size() == capacity)
        text.remove_suffix(IncompleteTail(text));
    return vcl::Utf8ToUtf16(text);
}

std::string CutUtf8(const std::u16string& text, std::size_t limit) {
    std::string utf8 = vcl::Utf16ToUtf8(text);
    if (utf8.size() > limit) {
        // Back up to the start of the character the limit falls in, so no half character goes out.
        std::size_t n = limit;
        while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
            --n;
        utf8.resize(n);
    }
    return utf8;
}

bool WaitForStackNotice(win::HWND hwnd, win::UINT msg, win::DWORD limitMs, const std::function<bool()>& done,
                        bool* quit) {
    const win::DWORD start = win::GetTickCount();
    for (;;) {
        if (done())
            return true;
        win::MSG m{};
        const bool got = hwnd ? win::PeekMessageW(&m, hwnd, msg, msg, win::PM_REMOVE)
                              : win::PeekMessageW(&m, nullptr, 0, 0, win::PM_REMOVE);
        if (got && m.message == win::WM_QUIT) {
            win::PostQuitMessage(static_cast<int>(m.wParam)); // for the thread's own loop
        } else if (got) {
            win::DispatchMessageW(&m);
            continue;
        }
        // Only when nothing of ours is waiting, as a quit comes after a thread's other messages.
        if (win::PeekMessageW(&m, nullptr, win::WM_QUIT, win::WM_QUIT, win::PM_NOREMOVE)) {
            if (quit)
                *quit = true;
            return false;
        }
        const win::DWORD elapsed = win::GetTickCount() - start;
        if (elapsed >= limitMs)
            return false;
        // Wakes for new input only: messages of the thread's other windows stay queued meanwhile and must
        // not turn this wait into a spin.
        win::MsgWaitForMultipleObjectsEx(0, nullptr, limitMs - elapsed, win::QS_ALLINPUT, 0);
    }
}

void AddInquiredDevice(TvyrBluetoothDevices& list, const std::u16string& address, bool skipEmpty) {
    if (!IsValidBluetoothAddressText(address) || (skipEmpty && address == EmptyBluetoothAddress))
        return;
    auto device = std::make_unique<TvyrBluetoothDevice>();
    device->SetAddress(address);
    list.Add(std::move(device));
}

void SendInquiryCompleted(win::HWND wnd, const TvyrBluetoothDevices* list) {
    win::SendMessageW(wnd, WM_DISCOVERY_COMPLETED, reinterpret_cast<win::WPARAM>(list), 0);
}

int StartInquiryWorker(win::HWND wnd, std::uint8_t timeout, TvyrBlockingInquiry inquiry) {
    // The thread runs on by itself; only its messages come back.
    win::HANDLE thread = win::CreateThread([inquiry, wnd, timeout]() -> win::DWORD {
        win::SendMessageW(wnd, WM_DISCOVERY_STARTED, 0, 0);
        std::unique_ptr<TvyrBluetoothDevices> list;
        try {
            list = inquiry(wnd, timeout);
        } catch (...) {
            list.reset(); // out of memory: a failed inquiry
        }
        SendInquiryCompleted(wnd, list.get());
        return 0;
    });
    if (!thread)
        return VYR_OUT_OF_RESOURCES;
    win::CloseHandle(thread);
    return 0;
}

} // namespace vyr
