// The SDP entry points: a search pattern and attribute list of the stack's own making, an SDP link to
// a phone of the air, the search over it, and the stack's analysis of the records it returned.
#include "Internal.h"

#include "sim/air/SdpRecord.h"
#include "win32/Windows.h"

#include <cstring>
#include <map>
#include <memory>
#include <optional>

namespace stackabi::tos {
// The stand-in's own layouts of the buffers the library only hands back.
struct BTSEARCHPATTERN {
    uint8_t uuid[16];
};
struct BTATTRIDLIST {
    uint32_t mask;
};
struct BTATTRLISTS {
    uint8_t address[6];
    uint8_t uuid[16];
};
} // namespace stackabi::tos

namespace tosbtapi {
namespace {
namespace tos = stackabi::tos;

// One analysis: everything its records point to.
struct Analysis {
    tos::BTANALYZEDATTRLIST2 list{};
    std::vector<tos::BTANALYZEDATTR2> records;
    std::vector<std::vector<tos::BTUUIDINFO>> classes;
    std::vector<std::vector<std::vector<uint8_t>>> descriptorBytes;
    std::vector<std::vector<tos::BTPROTOCOLDESC>> descriptors;
    std::vector<air::Service> services;
};

struct SdpState {
    std::mutex mu;
    std::map<uint16_t, air::Address> links;
    uint16_t next = 1;
    std::map<tos::BTANALYZEDATTRLIST2*, std::unique_ptr<Analysis>> analyses;
};
SdpState& Sdp() {
    static auto* s = new SdpState;
    return *s;
}

bool Ready() {
    return IsOpen() && air::Air::Instance().RadioPresent(kStackKind);
}

void Post(stackabi::Hwnd window, uint32_t message, stackabi::WParam code) {
    win::PostMessageW(static_cast<win::HWND>(window), message, code, 0);
}

std::vector<uint8_t> Descriptor(uint16_t protocol, std::optional<uint8_t> channel) {
    std::vector<uint8_t> members;
    air::sdp::PutUuid(members, air::Service::FromUuid16(protocol));
    if (channel)
        air::sdp::PutUint8(members, *channel);
    std::vector<uint8_t> out;
    air::sdp::PutSequence(out, members);
    return out;
}

} // namespace
} // namespace tosbtapi

namespace stackabi::tos {
using namespace tosbtapi;

extern "C" Bool32 BtMakeServiceSearchPattern2(uint32_t count, const BTUUIDINFO* uuids, BTSEARCHPATTERN** pattern,
                                              BTSTATUS* status) {
    Record("BtMakeServiceSearchPattern2", std::to_string(count) + " " + std::to_string(uuids ? uuids->SizeBits : 0));
    if (count != 1 || !uuids || !pattern || ShouldFail("BtMakeServiceSearchPattern2")) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    auto* p = static_cast<BTSEARCHPATTERN*>(Allocate(sizeof(BTSEARCHPATTERN)));
    std::memcpy(p->uuid, uuids->Uuid, 16);
    *pattern = p;
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtMakeAttributeIDList2(uint32_t attributeMask, uint32_t, BTATTRIDLIST** attributeIds,
                                         BTSTATUS* status) {
    Record("BtMakeAttributeIDList2", std::to_string(attributeMask));
    if (!attributeIds || ShouldFail("BtMakeAttributeIDList2")) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    auto* l = static_cast<BTATTRIDLIST*>(Allocate(sizeof(BTATTRIDLIST)));
    l->mask = attributeMask;
    *attributeIds = l;
    SetStatus(status, kStatusOk);
    return 1;
}

// The link's outcome is posted at once. The "BtConnectSDP:silent" value makes the stack post nothing.
extern "C" Bool32 BtConnectSDP(const uint8_t* bdAddr, uint16_t* connection, BTSTATUS* status, Hwnd window,
                               uint32_t message, uint32_t) {
    Record("BtConnectSDP", std::to_string(message));
    if (!bdAddr || !connection || ShouldFail("BtConnectSDP") || !Ready()) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    air::Address a{};
    std::memcpy(a.data(), bdAddr, 6);
    {
        std::lock_guard lk(Sdp().mu);
        *connection = Sdp().next++;
        Sdp().links[*connection] = a;
    }
    SetStatus(status, kStatusOk);
    if (win::test::Value("BtConnectSDP:silent", 0))
        return 1;
    auto phone = air::Air::Instance().FindPhone(a);
    if (!phone || !phone->inRange || !phone->ReachableFrom(kStackKind))
        Post(window, message, BTNOTIFY_SDP_CONNECT_FAILED);
    Post(window, message, BTNOTIFY_SDP_CONNECT_END);
    return 1;
}

extern "C" Bool32 BtDisconnectSDP(uint16_t connection, BTSTATUS* status) {
    Record("BtDisconnectSDP", std::to_string(connection));
    std::lock_guard lk(Sdp().mu);
    const bool had = Sdp().links.erase(connection) > 0;
    SetStatus(status, had ? kStatusOk : kStatusFailed);
    return had ? 1 : 0;
}

extern "C" Bool32 BtServiceSearchAttribute2(uint16_t connection, const BTSEARCHPATTERN* pattern,
                                            const BTATTRIDLIST* attributeIds, uint32_t, uint32_t,
                                            BTATTRLISTS** attributeLists, BTSTATUS* status, Hwnd window,
                                            uint32_t message, uint32_t) {
    Record("BtServiceSearchAttribute2", std::to_string(message));
    air::Address a{};
    {
        std::lock_guard lk(Sdp().mu);
        auto it = Sdp().links.find(connection);
        if (it == Sdp().links.end() || !pattern || !attributeIds || !attributeLists ||
            ShouldFail("BtServiceSearchAttribute2")) {
            SetStatus(status, kStatusFailed);
            return 0;
        }
        a = it->second;
    }
    auto* lists = static_cast<BTATTRLISTS*>(Allocate(sizeof(BTATTRLISTS)));
    std::memcpy(lists->address, a.data(), 6);
    std::memcpy(lists->uuid, pattern->uuid, 16);
    *attributeLists = lists;
    SetStatus(status, kStatusOk);
    if (win::test::Value("BtServiceSearchAttribute2:fail", 0))
        Post(window, message, BTNOTIFY_SDP_SEARCH_FAILED);
    Post(window, message, BTNOTIFY_SDP_SEARCH_END);
    return 1;
}

extern "C" Bool32 BtAnalyzeServiceAttributeLists2(const BTATTRLISTS* attributeLists, uint32_t attributeMask,
                                                  BTANALYZEDATTRLIST2** analysed, BTSTATUS* status) {
    Record("BtAnalyzeServiceAttributeLists2", std::to_string(attributeMask));
    if (!attributeLists || !analysed || ShouldFail("BtAnalyzeServiceAttributeLists2")) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    air::Address a{};
    std::memcpy(a.data(), attributeLists->address, 6);
    std::array<uint8_t, 16> wanted{};
    std::memcpy(wanted.data(), attributeLists->uuid, 16);
    auto phone = air::Air::Instance().FindPhone(a);
    auto analysis = std::make_unique<Analysis>();
    const bool all = wanted == air::Service::FromUuid16(0x0100) || wanted == air::Service::FromUuid16(0x0003);
    if (phone)
        for (const auto& s : phone->services)
            if (all || s.uuid == wanted)
                analysis->services.push_back(s);
    const size_t n = analysis->services.size();
    analysis->records.resize(n);
    analysis->classes.resize(n);
    analysis->descriptorBytes.resize(n);
    analysis->descriptors.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const air::Service& s = analysis->services[i];
        BTANALYZEDATTR2& r = analysis->records[i];
        r.HasHandle = 1;
        r.ServiceRecordHandle = s.handle;
        BTUUIDINFO u{};
        u.SizeBits = s.Uuid16() ? 16 : 128;
        std::memcpy(u.Uuid, s.uuid.data(), 16);
        analysis->classes[i].push_back(u);
        r.ServiceClassCount = 1;
        r.ServiceClasses = analysis->classes[i].data();
        if (!s.name.empty()) {
            r.ServiceName = reinterpret_cast<const uint8_t*>(s.name.data());
            r.ServiceNameLength = static_cast<uint32_t>(s.name.size());
        }
        if (!s.comment.empty()) {
            r.ServiceDescription = reinterpret_cast<const uint8_t*>(s.comment.data());
            r.ServiceDescriptionLength = static_cast<uint32_t>(s.comment.size());
        }
        analysis->descriptorBytes[i].push_back(Descriptor(0x0100, std::nullopt));
        if (s.channel)
            analysis->descriptorBytes[i].push_back(Descriptor(0x0003, s.channel));
        for (auto& bytes : analysis->descriptorBytes[i])
            analysis->descriptors[i].push_back(BTPROTOCOLDESC{bytes.data(), static_cast<uint32_t>(bytes.size())});
        r.ProtocolDescriptorCount = static_cast<uint32_t>(analysis->descriptors[i].size());
        r.ProtocolDescriptors = analysis->descriptors[i].data();
    }
    analysis->list.Count = static_cast<uint32_t>(n);
    analysis->list.Records = analysis->records.data();
    *analysed = &analysis->list;
    std::lock_guard lk(Sdp().mu);
    Sdp().analyses[&analysis->list] = std::move(analysis);
    SetStatus(status, kStatusOk);
    return 1;
}

extern "C" Bool32 BtFreePBTANALYZEDATTRLIST2(BTANALYZEDATTRLIST2* analysed, BTSTATUS* status) {
    Record("BtFreePBTANALYZEDATTRLIST2");
    std::lock_guard lk(Sdp().mu);
    const bool had = Sdp().analyses.erase(analysed) > 0;
    SetStatus(status, had ? kStatusOk : kStatusFailed);
    return had ? 1 : 0;
}

// Reads one descriptor sequence: its protocol UUID and, for RFCOMM, the channel; for L2CAP a PSM.
extern "C" Bool32 BtAnalyzeProtocolParameter2(const BTPROTOCOLDESC* descriptor, BTPROTOCOLPARAM2* param,
                                              BTSTATUS* status) {
    Record("BtAnalyzeProtocolParameter2");
    if (!descriptor || !descriptor->Data || !param || param->Size != sizeof(BTPROTOCOLPARAM2) || descriptor->Size < 5 ||
        descriptor->Data[0] != 0x35 || descriptor->Data[2] != 0x19) {
        SetStatus(status, kStatusFailed);
        return 0;
    }
    const uint8_t* d = descriptor->Data;
    param->Flags = 0;
    param->ProtocolUuid16 = static_cast<uint16_t>(d[3] << 8 | d[4]);
    if (param->ProtocolUuid16 == 0x0003 && descriptor->Size >= 7 && d[5] == 0x08) {
        param->Channel = d[6];
        param->Flags |= BTPROTO_HAS_CHANNEL;
    } else if (param->ProtocolUuid16 == 0x0100 && descriptor->Size >= 8 && d[5] == 0x09) {
        param->Psm = static_cast<uint16_t>(d[6] << 8 | d[7]);
        param->Flags |= BTPROTO_HAS_PSM;
    }
    SetStatus(status, kStatusOk);
    return 1;
}

} // namespace stackabi::tos
