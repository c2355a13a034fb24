// Device entry points: the local name, remote names and classes, the known-device list, link keys and
// the pairing link, which answers the peer's PIN request with the PIN set for its address.
#include "Internal.h"

#include "win32/Windows.h"

#include <cstring>
#include <map>
#include <optional>

namespace tosbtapi {
namespace {

air::Address FromBytes(const uint8_t* b) {
    air::Address a{};
    std::memcpy(a.data(), b, 6);
    return a;
}

bool Ready() {
    return IsOpen() && air::Air::Instance().RadioPresent(kStackKind);
}

std::optional<air::Phone> Reachable(const uint8_t* bdAddr) {
    if (!bdAddr || !Ready())
        return std::nullopt;
    auto phone = air::Air::Instance().FindPhone(FromBytes(bdAddr));
    if (!phone || !phone->inRange || !phone->ReachableFrom(kStackKind))
        return std::nullopt;
    return phone;
}

struct PinState {
    std::mutex mu;
    std::map<air::Address, std::string> pins;
    uint16_t nextConnection = 1;
};
PinState& Pins() {
    static auto* p = new PinState;
    return *p;
}

} // namespace

std::string AutoReplyPin(const air::Address& phone) {
    std::lock_guard lk(Pins().mu);
    auto it = Pins().pins.find(phone);
    return it == Pins().pins.end() ? std::string() : it->second;
}

namespace {

stackabi::Bool32 Result(const char* entry, stackabi::tos::BTSTATUS* status, bool ok) {
    (void)entry;
    SetStatus(status, ok ? kStatusOk : kStatusFailed);
    return ok ? 1 : 0;
}

} // namespace
} // namespace tosbtapi

namespace stackabi::tos {
using namespace tosbtapi;

extern "C" Bool32 BtSetLocalDeviceName(const uint8_t* name, BTSTATUS* status) {
    Record("BtSetLocalDeviceName");
    if (!name || ShouldFail("BtSetLocalDeviceName") || !Ready())
        return Result("", status, false);
    air::Air::Instance().SetRadioName(kStackKind, std::string(reinterpret_cast<const char*>(name),
                                                              strnlen(reinterpret_cast<const char*>(name), 248)));
    return Result("", status, true);
}

extern "C" Bool32 BtGetRemoteName(const uint8_t* bdAddr, uint8_t* name, BTSTATUS* status) {
    Record("BtGetRemoteName");
    if (!name || ShouldFail("BtGetRemoteName") || !Reachable(bdAddr))
        return Result("", status, false);
    std::string text;
    if (air::Air::Instance().ReadName(FromBytes(bdAddr), text) != air::NameResult::Ok)
        return Result("", status, false);
    std::memcpy(name, text.data(), std::min<size_t>(text.size(), kNameBufferSize));
    return Result("", status, true);
}

extern "C" Bool32 BtGetRemoteClassOfDevice(const uint8_t* bdAddr, uint32_t* classOfDevice, BTSTATUS* status) {
    Record("BtGetRemoteClassOfDevice");
    if (!classOfDevice || ShouldFail("BtGetRemoteClassOfDevice") || !Reachable(bdAddr))
        return Result("", status, false);
    return Result("", status,
                  air::Air::Instance().ReadClassOfDevice(FromBytes(bdAddr), *classOfDevice) == air::NameResult::Ok);
}

// The devices the stack knows: the bonded phones.
extern "C" Bool32 BtGetRemoteDeviceList2(BTDEVINFOLIST** list, uint32_t, uint32_t, BTSTATUS* status, Hwnd, uint32_t) {
    Record("BtGetRemoteDeviceList2");
    if (!list || ShouldFail("BtGetRemoteDeviceList2") || !Ready())
        return Result("", status, false);
    std::vector<air::Phone> known;
    for (auto& p : air::Air::Instance().Phones())
        if (p.pairing.paired)
            known.push_back(p);
    auto* l = static_cast<BTDEVINFOLIST*>(Allocate(kDevInfoListHeaderSize + known.size() * sizeof(BTDEVINFO)));
    if (!l)
        return Result("", status, false);
    l->Count = static_cast<uint32_t>(known.size());
    for (size_t i = 0; i < known.size(); ++i) {
        BTDEVINFO* e = BtDevInfoListEntry(l, static_cast<uint32_t>(i));
        std::memcpy(e->BdAddr, known[i].address.data(), 6);
        std::memcpy(e->Name, known[i].name.data(), std::min<size_t>(known[i].name.size(), sizeof e->Name));
    }
    *list = l;
    return Result("", status, true);
}

extern "C" Bool32 BtDeleteLinkKey(const BTLINKKEYDELETE* devices, BTSTATUS* status) {
    Record("BtDeleteLinkKey", devices ? std::to_string(devices->Count) : "null");
    if (!devices || devices->Count != 1 || ShouldFail("BtDeleteLinkKey") || !Ready())
        return Result("", status, false);
    air::Air::Instance().Unpair(FromBytes(devices->BdAddr));
    return Result("", status, true);
}

extern "C" Bool32 BtSetAutoReplyPinCode(const BTADDR8* address, const char* pin, uint32_t pinLength, BTSTATUS* status) {
    const std::string text = pin ? std::string(pin, pinLength) : std::string();
    Record("BtSetAutoReplyPinCode", text);
    if (!address || ShouldFail("BtSetAutoReplyPinCode") || !Ready())
        return Result("", status, false);
    std::lock_guard lk(Pins().mu);
    Pins().pins[FromBytes(address->BdAddr)] = text;
    return Result("", status, true);
}

extern "C" Bool32 BtClearAutoReplyPinCode(const BTADDR8* address, BTSTATUS* status) {
    Record("BtClearAutoReplyPinCode");
    if (!address)
        return Result("", status, false);
    std::lock_guard lk(Pins().mu);
    Pins().pins.erase(FromBytes(address->BdAddr));
    return Result("", status, true);
}

extern "C" Bool32 BtSetIOCapabilityResponse(const uint8_t* bdAddr, uint8_t ioCapability, uint8_t oobDataPresent,
                                            uint8_t authenticationRequirements, BTSTATUS* status) {
    Record("BtSetIOCapabilityResponse", std::to_string(ioCapability) + " " + std::to_string(oobDataPresent) + " " +
                                            std::to_string(authenticationRequirements));
    return Result("", status, bdAddr != nullptr);
}

extern "C" Bool32 BtClearIOCapabilityResponse(const uint8_t* bdAddr, BTSTATUS* status) {
    Record("BtClearIOCapabilityResponse");
    return Result("", status, bdAddr != nullptr);
}

// The pairing link: the outcome is posted at once; a phone that never answers posts nothing.
extern "C" Bool32 BtConnect(const uint8_t* bdAddr, uint32_t kind, uint16_t, uint16_t, uint32_t,
                            const BTCONNPARAM* params, uint32_t paramsSize, uint16_t* connection, uint32_t,
                            BTSTATUS* status, Hwnd window, uint32_t message, uint32_t) {
    Record("BtConnect", std::to_string(kind) + " " + std::to_string(message));
    if (!bdAddr || !params || paramsSize != sizeof(BTCONNPARAM) || !connection || ShouldFail("BtConnect") || !Ready())
        return Result("", status, false);
    std::string pin;
    {
        std::lock_guard lk(Pins().mu);
        auto it = Pins().pins.find(FromBytes(bdAddr));
        if (it != Pins().pins.end())
            pin = it->second;
        *connection = Pins().nextConnection++;
    }
    auto post = [&](WParam code) { win::PostMessageW(static_cast<win::HWND>(window), message, code, 0); };
    switch (air::Air::Instance().Pair(kStackKind, FromBytes(bdAddr), pin)) {
    case air::PairResult::Paired:
        post(BTNOTIFY_PAIR_END);
        break;
    case air::PairResult::Timeout:
        break;
    default:
        post(BTNOTIFY_PAIR_FAILED);
        post(BTNOTIFY_PAIR_END);
        break;
    }
    return Result("", status, true);
}

extern "C" Bool32 BtDisconnect(uint16_t connection, BTSTATUS* status) {
    Record("BtDisconnect", std::to_string(connection));
    return Result("", status, connection != 0);
}

} // namespace stackabi::tos
