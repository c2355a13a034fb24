// Opening the stack's API, its event notification and the local radio. While open it watches the air and
// tells the registered windows when the Toshiba radio comes or goes.
#include "Internal.h"

#include "win32/Windows.h"

#include <cstdio>
#include <cstring>

namespace tosbtapi {

StackState& State() {
    static auto* state = new StackState;
    return *state;
}

int PostStackNotice(stackabi::LParam lParam) {
    std::vector<EventRegistration> targets;
    {
        std::lock_guard lk(State().mu);
        if (!State().open)
            return 0;
        targets = State().events;
    }
    int posted = 0;
    for (const auto& r : targets)
        if (r.mask & stackabi::tos::BTEVENT_STACK_STATE)
            posted += win::PostMessageW(static_cast<win::HWND>(r.window), r.message, stackabi::tos::BTEVENT_STACK_STATE,
                                        lParam)
                          ? 1
                          : 0;
    return posted;
}

namespace {

void OnAir(const air::Notice& n) {
    if (n.stack != kStackKind)
        return;
    if (n.event == air::AirEvent::RadioArrived)
        PostStackNotice(1);
    else if (n.event == air::AirEvent::RadioRemoved)
        PostStackNotice(0);
}

void Close() {
    int token;
    {
        std::lock_guard lk(State().mu);
        token = State().airToken;
        State().airToken = 0;
        State().open = false;
        State().events.clear();
    }
    if (token)
        air::Air::Instance().Unsubscribe(token);
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

} // namespace
} // namespace tosbtapi

// A test control: delivers the stack's on/off notice with any lParam, as the stack may repeat it.
extern "C" int tavlin_tosbtapi_stack_notice(intptr_t lParam) {
    return tosbtapi::PostStackNotice(lParam);
}

namespace stackabi::tos {
using namespace tosbtapi;

extern "C" Bool32 BtOpenAPI(Hwnd window, const char* applicationName, BTSTATUS* status) {
    Record("BtOpenAPI", win::test::HandleText(window) + " " + (applicationName ? applicationName : "(null)"));
    Close(); // an earlier user of this mapping may have left it open
    if (ShouldFail("BtOpenAPI") || !applicationName) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    {
        std::lock_guard lk(State().mu);
        State().open = true;
    }
    int token = air::Air::Instance().Subscribe(OnAir);
    {
        std::lock_guard lk(State().mu);
        State().airToken = token;
    }
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtCloseAPI(BTSTATUS* status) {
    Record("BtCloseAPI");
    if (!IsOpen()) {
        SetStatus(status, kStatusNotOpen);
        return 0;
    }
    Close();
    SetStatus(status, kStatusOk);
    return 1;
}

// A mask registers the window for those events (replacing its earlier registration); mask 0 removes the
// window's registration, and with no window every registration but the stack-state ones.
extern "C" Bool32 BtNotifyEvent(uint32_t eventMask, BTSTATUS* status, Hwnd window, uint32_t message) {
    Record("BtNotifyEvent", Hex(eventMask) + " " + win::test::HandleText(window) + " " + std::to_string(message));
    if (!IsOpen()) {
        SetStatus(status, kStatusNotOpen);
        return 0;
    }
    if (ShouldFail("BtNotifyEvent")) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    std::lock_guard lk(State().mu);
    auto& events = State().events;
    std::erase_if(events, [&](const EventRegistration& r) {
        if (window)
            return r.window == window;
        return eventMask == BTEVENT_NONE && !(r.mask & BTEVENT_STACK_STATE);
    });
    if (eventMask != BTEVENT_NONE)
        events.push_back({eventMask, window, message});
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtGetLocalInfo2(BTLOCALINFO2* info, BTSTATUS* status) {
    Record("BtGetLocalInfo2");
    if (!IsOpen()) {
        SetStatus(status, kStatusNotOpen);
        return 0;
    }
    air::Radio radio = air::Air::Instance().GetRadio(kStackKind);
    if (!info || ShouldFail("BtGetLocalInfo2") || !radio.present) {
        SetStatus(status, kStatusNoRadio);
        return 0;
    }
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->BdAddr, radio.address.data(), BD_ADDR_SIZE);
    SetStatus(status, kStatusOk);
    return 1;
}

} // namespace stackabi::tos
