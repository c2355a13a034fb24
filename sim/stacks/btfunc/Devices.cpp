// The older interface's device and service entry points: the local name, remote name and class,
// pairing, and the SPP service search, rendered from the air (addresses reversed in the records).
#include "stacks/btfunc.h"

#include "sim/air/Air.h"
#include "sim/win32/Testing.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace stackabi::bsold {
namespace {

constexpr int kBlueSoleil = static_cast<int>(air::StackKind::BlueSoleil);

air::Address FromReversed(const uint8_t* b) {
    air::Address a{};
    for (size_t i = 0; i < 6; ++i)
        a[i] = b[5 - i];
    return a;
}

std::optional<air::Phone> Reachable(const uint8_t* reversed) {
    auto& theAir = air::Air::Instance();
    if (!theAir.RadioPresent(kBlueSoleil))
        return std::nullopt;
    auto phone = theAir.FindPhone(FromReversed(reversed));
    if (!phone || !phone->inRange || !phone->ReachableFrom(kBlueSoleil))
        return std::nullopt;
    return phone;
}

bool Fails(const char* entry) {
    return win::test::ShouldFail(entry);
}

AbiGuid GuidOf(const air::Service& s) {
    AbiGuid g{};
    g.Data1 = uint32_t(s.uuid[0]) << 24 | uint32_t(s.uuid[1]) << 16 | uint32_t(s.uuid[2]) << 8 | s.uuid[3];
    g.Data2 = static_cast<uint16_t>(s.uuid[4] << 8 | s.uuid[5]);
    g.Data3 = static_cast<uint16_t>(s.uuid[6] << 8 | s.uuid[7]);
    std::memcpy(g.Data4, &s.uuid[8], 8);
    return g;
}

} // namespace

extern "C" {

uint32_t BT_SetLocalDeviceInfo(uint32_t mask, const BLUETOOTH_DEVICE_INFO* info) {
    win::test::Record("BT_SetLocalDeviceInfo", std::to_string(mask));
    if (!info || info->dwSize != sizeof(BLUETOOTH_DEVICE_INFO) || Fails("BT_SetLocalDeviceInfo"))
        return 0;
    if (!air::Air::Instance().RadioPresent(kBlueSoleil))
        return 0;
    if (mask & BT_INFO_NAME)
        air::Air::Instance().SetRadioName(kBlueSoleil,
                                          std::string(info->szName, strnlen(info->szName, kDeviceNameSize)));
    return BT_SUCCESS;
}

uint32_t BT_GetRemoteDeviceInfo(uint32_t mask, BLUETOOTH_DEVICE_INFO_EX* info) {
    win::test::Record("BT_GetRemoteDeviceInfo", std::to_string(mask));
    if (!info || info->dwSize != sizeof(BLUETOOTH_DEVICE_INFO_EX) || Fails("BT_GetRemoteDeviceInfo"))
        return 0;
    auto phone = Reachable(info->address);
    if (!phone)
        return 0;
    const air::Address a = FromReversed(info->address);
    if (mask & BT_INFO_NAME) {
        std::string name;
        if (air::Air::Instance().ReadName(a, name) != air::NameResult::Ok)
            return 0;
        // 64 bytes of name; a full one has no terminator in the field.
        std::memset(info->szName, 0, sizeof info->szName);
        std::memcpy(info->szName, name.data(), std::min(name.size(), sizeof info->szName));
    }
    if (mask & BT_INFO_CLASS) {
        info->classOfDevice[0] = static_cast<uint8_t>(phone->classOfDevice);
        info->classOfDevice[1] = static_cast<uint8_t>(phone->classOfDevice >> 8);
        info->classOfDevice[2] = static_cast<uint8_t>(phone->classOfDevice >> 16);
    }
    return BT_SUCCESS;
}

uint32_t BT_PairDevice(const BLUETOOTH_DEVICE_INFO* device, uint16_t pinLength, const char* pin, uint32_t, uint32_t) {
    const std::string pinText = pin ? std::string(pin, pinLength) : std::string();
    win::test::Record("BT_PairDevice", pinText);
    if (!device || device->dwSize != sizeof(BLUETOOTH_DEVICE_INFO))
        return 0;
    if (Fails("BT_PairDevice"))
        return static_cast<uint32_t>(win::test::Value("BT_PairDevice", 0));
    if (!Reachable(device->address))
        return 0;
    auto& theAir = air::Air::Instance();
    const air::Address a = FromReversed(device->address);
    if (theAir.IsPaired(a))
        return BT_ERROR_ALREADY_PAIRED;
    switch (theAir.Pair(kBlueSoleil, a, pinText)) {
    case air::PairResult::Paired:
        return BT_SUCCESS;
    case air::PairResult::WrongPin:
        return BT_ERROR_PAIR_AUTH_FAILED;
    default:
        return 0;
    }
}

uint32_t BT_UnpairDevice(const uint8_t* address) {
    win::test::Record("BT_UnpairDevice");
    if (!address || Fails("BT_UnpairDevice") || !air::Air::Instance().RadioPresent(kBlueSoleil))
        return 0;
    return air::Air::Instance().Unpair(FromReversed(address)) ? BT_SUCCESS : 0;
}

uint32_t BT_BrowseServices(const BLUETOOTH_DEVICE_INFO* device, Bool32 browseAll, uint32_t* length,
                           GENERAL_SERVICE_INFO* services) {
    win::test::Record("BT_BrowseServices", std::to_string(browseAll));
    if (!device || !length || !services || Fails("BT_BrowseServices"))
        return 0;
    auto phone = Reachable(device->address);
    if (!phone)
        return 0;
    const size_t capacity = *length / sizeof(GENERAL_SERVICE_INFO);
    size_t n = 0;
    for (const auto& s : phone->services) {
        if (n == capacity)
            break;
        GENERAL_SERVICE_INFO& e = services[n++];
        e = {};
        e.dwSize = sizeof e;
        e.dwServiceHandle = s.handle;
        e.wServiceClassUuid16 = s.Uuid16().value_or(0);
        std::memcpy(e.szServiceName, s.name.data(), std::min(s.name.size(), sizeof e.szServiceName));
    }
    *length = static_cast<uint32_t>(
        win::test::Value("BT_BrowseServices:length", static_cast<long long>(n * sizeof(GENERAL_SERVICE_INFO))));
    return BT_SUCCESS;
}

uint32_t BT_SearchSPPExServices(const BLUETOOTH_DEVICE_INFO* device, uint32_t* length, SPPEX_SERVICE_INFO* service) {
    win::test::Record("BT_SearchSPPExServices");
    if (!device || !length || *length != sizeof(SPPEX_SERVICE_INFO) || !service || Fails("BT_SearchSPPExServices"))
        return 0;
    auto phone = Reachable(device->address);
    if (!phone)
        return 0;
    for (const auto& s : phone->services) {
        if (!(GuidOf(s) == service->serviceClassUuid128))
            continue;
        service->dwServiceHandle = s.handle;
        std::memset(service->szServiceName, 0, sizeof service->szServiceName);
        std::memcpy(service->szServiceName, s.name.data(), std::min(s.name.size(), sizeof service->szServiceName));
        service->ucServiceChannel = s.channel;
        return BT_SUCCESS;
    }
    return 0;
}

} // extern "C"
} // namespace stackabi::bsold
