// Device inquiry of the bridge. WD_Discovery starts it on a thread of the bridge, which posts the
// start notice, waits out the inquiry (the bridge's own length: 10.24 s, as the air times it) and posts
// the found addresses. WD_Terminate ends it without a result. The posted addresses stay where they are
// for as long as the window they went to lives, even when a newer inquiry has replaced them.
//
// Test switches: failure switch "WD_Discovery" makes the call return value "WD_Discovery" (default 2);
// "WD_Discovery:result" posts a failed result (wParam 0).
#include "Internal.h"
#include "sim/stacks/StandInThread.h"

#include "win32/Windows.h"

#include <cstring>
#include <list>
#include <vector>

namespace vyr2wbt {
namespace {

constexpr int kInquiryMs = 10240;

struct Inquiry {
    std::mutex mu; // guards everything below; never held while joining
    win::HANDLE thread = nullptr;
    win::HANDLE stop = nullptr;
    // The results of the inquiries, each with the window it goes to; one is dropped once a later inquiry
    // starts and its window is gone (and with it any unread notice pointing at it).
    struct Result {
        win::HWND window;
        std::vector<uint8_t> addresses;
    };
    std::list<Result> results;
    ~Inquiry();
};

Inquiry& I() {
    static Inquiry inquiry;
    return inquiry;
}

// Ends the running inquiry, if any, without a result, and waits for its thread.
void StopInquiry() {
    standin::StopThread(I().mu, I().thread, I().stop);
}

Inquiry::~Inquiry() {
    StopInquiry();
}

} // namespace
} // namespace vyr2wbt

namespace stackabi::wd {
using namespace vyr2wbt;

extern "C" int32_t WD_Discovery(Hwnd window) {
    Record("WD_Discovery", win::test::HandleText(window));
    if (ShouldFail("WD_Discovery"))
        return static_cast<int32_t>(win::test::Value("WD_Discovery", 2));
    if (!Initialised() || !window)
        return kCodeApiNotAvailable;
    const auto result = air::Air::Instance().Inquire(kStackKind, kInquiryMs);
    if (!result.radioPresent)
        return kCodeApiNotAvailable;
    StopInquiry();
    std::vector<uint8_t> found;
    for (const auto& p : result.found)
        found.insert(found.end(), p.address.begin(), p.address.end());
    const bool failed = ShouldFail("WD_Discovery:result");
    win::HANDLE stop = win::CreateEventW(nullptr, win::TRUE, win::FALSE, nullptr);
    if (!stop)
        return 1;
    auto hwnd = static_cast<win::HWND>(window);
    std::lock_guard lk(I().mu);
    std::erase_if(I().results, [](const Inquiry::Result& r) { return !win::IsWindow(r.window); });
    const std::vector<uint8_t>* addresses =
        &I().results.emplace_back(Inquiry::Result{hwnd, std::move(found)}).addresses;
    const auto waitMs = static_cast<win::DWORD>(result.durationMs);
    I().thread = win::CreateThread([hwnd, waitMs, stop, failed, addresses]() -> win::DWORD {
        win::PostMessageW(hwnd, WM_DISCOVERY_STARTED, 0, 0);
        if (win::WaitForSingleObject(stop, waitMs) == win::WAIT_OBJECT_0)
            return 0; // terminated: no result
        WParam data = 0;
        LParam count = 0;
        if (!failed) {
            // An empty result still points somewhere: 0 would read as a failed inquiry.
            static const uint8_t none[BD_ADDR_SIZE] = {};
            data = reinterpret_cast<WParam>(addresses->empty() ? none : addresses->data());
            count = static_cast<LParam>(addresses->size() / BD_ADDR_SIZE);
        }
        win::PostMessageW(hwnd, WM_WIDCOMM_DISCOVERY_RESULT, data, count);
        return 0;
    });
    if (!I().thread) {
        win::CloseHandle(stop);
        return 1;
    }
    I().stop = stop;
    return kCodeOk;
}

extern "C" void WD_Terminate() {
    Record("WD_Terminate");
    StopInquiry();
}

} // namespace stackabi::wd
