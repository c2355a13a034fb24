#include "sim/air/SdpRecord.h"

#include <algorithm>

namespace air::sdp {

// Header byte: type in the top five bits, size index in the low three.
enum : uint8_t { kUint = 1 << 3, kUuid = 3 << 3, kText = 4 << 3, kSeq = 6 << 3 };

static void Be(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutUint8(std::vector<uint8_t>& out, uint8_t v) {
    out.push_back(kUint | 0);
    out.push_back(v);
}

void PutUint16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(kUint | 1);
    Be(out, v, 2);
}

void PutUint32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(kUint | 2);
    Be(out, v, 4);
}

void PutUuid(std::vector<uint8_t>& out, const std::array<uint8_t, 16>& uuid) {
    Service s;
    s.uuid = uuid;
    auto base = Service::FromUuid16(0);
    bool onBase = std::equal(uuid.begin() + 4, uuid.end(), base.begin() + 4);
    if (auto u16 = s.Uuid16()) {
        out.push_back(kUuid | 1);
        Be(out, *u16, 2);
    } else if (onBase) {
        out.push_back(kUuid | 2);
        out.insert(out.end(), uuid.begin(), uuid.begin() + 4);
    } else {
        out.push_back(kUuid | 4);
        out.insert(out.end(), uuid.begin(), uuid.end());
    }
}

// Variable-sized elements take the shortest length field that fits.
static void PutVariable(std::vector<uint8_t>& out, uint8_t type, const uint8_t* data, size_t n) {
    if (n <= 0xFF) {
        out.push_back(type | 5);
        Be(out, n, 1);
    } else if (n <= 0xFFFF) {
        out.push_back(type | 6);
        Be(out, n, 2);
    } else {
        out.push_back(type | 7);
        Be(out, n, 4);
    }
    out.insert(out.end(), data, data + n);
}

void PutText(std::vector<uint8_t>& out, const std::string& utf8) {
    PutVariable(out, kText, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
}

void PutSequence(std::vector<uint8_t>& out, const std::vector<uint8_t>& members) {
    PutVariable(out, kSeq, members.data(), members.size());
}

} // namespace air::sdp

namespace air {

std::vector<uint8_t> RenderSdpRecord(const Service& service) {
    using namespace sdp;
    std::vector<uint8_t> attrs;

    PutUint16(attrs, 0x0000);
    PutUint32(attrs, service.handle);

    PutUint16(attrs, 0x0001);
    std::vector<uint8_t> classes;
    PutUuid(classes, service.uuid);
    PutSequence(attrs, classes);

    PutUint16(attrs, 0x0004);
    std::vector<uint8_t> l2cap, rfcomm, stack;
    PutUuid(l2cap, Service::FromUuid16(0x0100));
    PutUuid(rfcomm, Service::FromUuid16(0x0003));
    PutUint8(rfcomm, service.channel);
    PutSequence(stack, l2cap);
    PutSequence(stack, rfcomm);
    PutSequence(attrs, stack);

    PutUint16(attrs, 0x0006);
    std::vector<uint8_t> lang;
    PutUint16(lang, 0x656E); // "en"
    PutUint16(lang, 106);    // UTF-8 (IANA MIBenum)
    PutUint16(lang, 0x0100); // primary language base
    PutSequence(attrs, lang);

    PutUint16(attrs, 0x0100);
    PutText(attrs, service.name);
    if (!service.comment.empty()) {
        PutUint16(attrs, 0x0101);
        PutText(attrs, service.comment);
    }

    std::vector<uint8_t> record;
    PutSequence(record, attrs);
    return record;
}

} // namespace air
