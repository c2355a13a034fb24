// The bridge's device entry points: local name, remote name and class, bonding and services.
#include "Internal.h"

#include <cstring>

namespace stackabi::wd {
using namespace vyr2wbt;

namespace {

air::Address FromBytes(const uint8_t* b) {
    air::Address a{};
    std::memcpy(a.data(), b, 6);
    return a;
}

bool RadioReady() {
    return Initialised() && air::Air::Instance().RadioPresent(kStackKind);
}

std::optional<air::Phone> Reachable(const uint8_t* bdAddr) {
    if (!bdAddr || !RadioReady())
        return std::nullopt;
    auto phone = air::Air::Instance().FindPhone(FromBytes(bdAddr));
    if (!phone || !phone->inRange || !phone->ReachableFrom(kStackKind))
        return std::nullopt;
    return phone;
}

} // namespace

extern "C" Bool32 WD_SetLocalDeviceName(const uint8_t* name) {
    Record("WD_SetLocalDeviceName");
    if (!name || ShouldFail("WD_SetLocalDeviceName") || !RadioReady())
        return 0;
    air::Air::Instance().SetRadioName(kStackKind, std::string(reinterpret_cast<const char*>(name),
                                                              strnlen(reinterpret_cast<const char*>(name), kNameSize)));
    return 1;
}

extern "C" int32_t WD_Bond(const uint8_t* bdAddr, const char* pin) {
    Record("WD_Bond", pin ? pin : "(null)");
    if (ShouldFail("WD_Bond"))
        return static_cast<int32_t>(win::test::Value("WD_Bond", 2));
    if (!Reachable(bdAddr))
        return 2;
    auto& theAir = air::Air::Instance();
    if (theAir.IsPaired(FromBytes(bdAddr)))
        return 30;
    switch (theAir.Pair(kStackKind, FromBytes(bdAddr), pin ? pin : "")) {
    case air::PairResult::Paired:
        return 0;
    case air::PairResult::WrongPin:
        return 31;
    case air::PairResult::Timeout:
        return 32;
    case air::PairResult::Refused:
        return 33;
    case air::PairResult::NotFound:
        break;
    }
    return 2;
}

extern "C" Bool32 WD_UnBond(const uint8_t* bdAddr) {
    Record("WD_UnBond");
    if (!bdAddr || ShouldFail("WD_UnBond") || !RadioReady())
        return 0;
    return air::Air::Instance().Unpair(FromBytes(bdAddr)) ? 1 : 0;
}

extern "C" Bool32 WD_GetRemoteDeviceName(const uint8_t* bdAddr, uint8_t* name) {
    Record("WD_GetRemoteDeviceName");
    if (!name || ShouldFail("WD_GetRemoteDeviceName") || !Reachable(bdAddr))
        return 0;
    std::string text;
    if (air::Air::Instance().ReadName(FromBytes(bdAddr), text) != air::NameResult::Ok)
        return 0;
    // The block holds the name without a terminator when the name fills it.
    std::memcpy(name, text.data(), std::min(text.size(), kNameSize));
    return 1;
}

extern "C" Bool32 WD_GetRemoteDeviceCOD(const uint8_t* bdAddr, uint8_t* cod) {
    Record("WD_GetRemoteDeviceCOD");
    if (!cod || ShouldFail("WD_GetRemoteDeviceCOD") || !Reachable(bdAddr))
        return 0;
    uint32_t value = 0;
    if (air::Air::Instance().ReadClassOfDevice(FromBytes(bdAddr), value) != air::NameResult::Ok)
        return 0;
    cod[0] = static_cast<uint8_t>(value >> 16);
    cod[1] = static_cast<uint8_t>(value >> 8);
    cod[2] = static_cast<uint8_t>(value);
    return 1;
}

extern "C" Bool32 WD_EnumServices(const uint8_t* bdAddr, const AbiGuid* serviceClass, WD_SERVICES* services) {
    Record("WD_EnumServices", serviceClass ? "class" : "all");
    if (!services || ShouldFail("WD_EnumServices"))
        return 0;
    auto phone = Reachable(bdAddr);
    if (!phone)
        return 0;
    uint32_t n = 0;
    for (const auto& s : phone->services) {
        if (n == kMaxServices)
            break;
        AbiGuid g{};
        g.Data1 = uint32_t(s.uuid[0]) << 24 | uint32_t(s.uuid[1]) << 16 | uint32_t(s.uuid[2]) << 8 | s.uuid[3];
        g.Data2 = static_cast<uint16_t>(s.uuid[4] << 8 | s.uuid[5]);
        g.Data3 = static_cast<uint16_t>(s.uuid[6] << 8 | s.uuid[7]);
        std::memcpy(g.Data4, &s.uuid[8], 8);
        if (serviceClass && !(*serviceClass == g))
            continue;
        WD_SERVICE_RECORD& r = services->Records[n++];
        r.Channel = s.channel;
        r.Uuid = g;
        std::memset(r.Name, 0, sizeof r.Name);
        std::memcpy(r.Name, s.name.data(), std::min(s.name.size(), sizeof r.Name));
        r.Handle = s.handle;
    }
    services->Count = static_cast<uint32_t>(win::test::Value("WD_EnumServices:count", n));
    return 1;
}

} // namespace stackabi::wd
