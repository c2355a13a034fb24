// Device inquiry of the stack. BtDiscoverRemoteDevice2 runs it on a thread of the stack, which waits out
// the inquiry (length 0: the stack's default of 8 units of 1.28 s, as the air times it), writes the list
// and posts the end notice. A cancelled inquiry ends early, and its end notice still comes. Once the
// process exits, a running inquiry ends without writing or posting: its caller is gone.
//
// Test switches: failure switch "BtDiscoverRemoteDevice2" makes the call return 0;
// "BtDiscoverRemoteDevice2:failed" posts the failure notice before the end notice;
// "BtDiscoverRemoteDevice2:silent" never posts the end notice (nor writes the list).
#include "Internal.h"
#include "sim/stacks/StandInThread.h"

#include "win32/Windows.h"

#include <atomic>
#include <cstring>

namespace tosbtapi {
namespace {

constexpr int kInquiryUnitMs = 1280;
constexpr int kDefaultInquiryUnits = 8;

struct Inquiry {
    std::mutex start; // one start at a time, so that no inquiry thread is left behind unowned
    std::mutex mu;    // never held while joining
    win::HANDLE thread = nullptr;
    win::HANDLE stop = nullptr;
    std::atomic<bool> closing{false};
    ~Inquiry();
};

Inquiry& I() {
    static Inquiry inquiry;
    return inquiry;
}

// Ends the running inquiry early (its thread still writes the list and posts the end) and waits for it.
void StopInquiry() {
    standin::StopThread(I().mu, I().thread, I().stop);
}

Inquiry::~Inquiry() {
    closing = true;
    StopInquiry();
}

stackabi::tos::BTDEVINFOLIST* MakeList(const std::vector<air::Phone>& found) {
    using namespace stackabi::tos;
    if (found.empty())
        return nullptr;
    auto* list = static_cast<BTDEVINFOLIST*>(Allocate(kDevInfoListHeaderSize + found.size() * sizeof(BTDEVINFO)));
    if (!list)
        return nullptr;
    list->Count = static_cast<uint32_t>(found.size());
    for (uint32_t i = 0; i < list->Count; ++i) {
        BTDEVINFO* e = BtDevInfoListEntry(list, i);
        const auto& p = found[i];
        std::memcpy(e->BdAddr, p.address.data(), stackabi::BD_ADDR_SIZE);
        e->ClassOfDevice[0] = static_cast<uint8_t>(p.classOfDevice >> 16);
        e->ClassOfDevice[1] = static_cast<uint8_t>(p.classOfDevice >> 8);
        e->ClassOfDevice[2] = static_cast<uint8_t>(p.classOfDevice);
        std::memcpy(e->Name, p.name.data(), std::min(p.name.size(), sizeof e->Name));
    }
    return list;
}

} // namespace
} // namespace tosbtapi

namespace stackabi::tos {
using namespace tosbtapi;

extern "C" Bool32 BtDiscoverRemoteDevice2(BTDEVINFOLIST** list, uint32_t inquiryMode, uint32_t inquiryLength,
                                          BTSTATUS* status, Hwnd window, uint32_t message) {
    Record("BtDiscoverRemoteDevice2", std::to_string(inquiryMode) + " " + std::to_string(inquiryLength) + " " +
                                          win::test::HandleText(window) + " " + std::to_string(message));
    if (!IsOpen()) {
        SetStatus(status, kStatusNotOpen);
        return 0;
    }
    if (ShouldFail("BtDiscoverRemoteDevice2") || !list || !window) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    const int units = inquiryLength ? static_cast<int>(inquiryLength) : kDefaultInquiryUnits;
    auto result = air::Air::Instance().Inquire(kStackKind, units * kInquiryUnitMs);
    if (!result.radioPresent) {
        SetStatus(status, kStatusNoRadio);
        return 0;
    }
    std::lock_guard starting(I().start);
    StopInquiry();
    const bool failed = ShouldFail("BtDiscoverRemoteDevice2:failed");
    const bool silent = ShouldFail("BtDiscoverRemoteDevice2:silent");
    win::HANDLE stop = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
    if (!stop) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    const auto waitMs = static_cast<win::DWORD>(result.durationMs);
    auto hwnd = static_cast<win::HWND>(window);
    std::lock_guard lk(I().mu);
    I().thread = win::CreateThread([=, found = std::move(result.found)]() -> win::DWORD {
        win::WaitForSingleObject(stop, waitMs);
        if (silent || I().closing)
            return 0;
        if (failed) {
            win::PostMessageW(hwnd, message, BTNOTIFY_DISCOVERY_FAILED, 0);
        } else {
            *list = MakeList(found);
        }
        win::PostMessageW(hwnd, message, BTNOTIFY_DISCOVERY_END, 0);
        return 0;
    });
    if (!I().thread) {
        win::CloseHandle(stop);
        SetStatus(status, kStatusFailed);
        return 0;
    }
    I().stop = stop;
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtCancelDiscoverRemoteDevice(BTSTATUS* status) {
    Record("BtCancelDiscoverRemoteDevice");
    StopInquiry();
    SetStatus(status, kStatusOk);
    return 1;
}

} // namespace stackabi::tos
