// The SDP record a phone's service renders to, walked element by element.
#include <gtest/gtest.h>

#include "sim/air/SdpRecord.h"

using namespace air;

namespace {

// A small, strict data-element reader: fails the test on any overrun.
struct Element {
    uint8_t type;
    std::vector<uint8_t> data;
};

bool Read(const std::vector<uint8_t>& s, size_t& pos, Element& e) {
    if (pos >= s.size())
        return false;
    uint8_t h = s[pos++];
    e.type = h >> 3;
    size_t idx = h & 7, n = 0;
    if (e.type == 0)
        n = 0;
    else if (idx <= 4)
        n = size_t(1) << idx;
    else {
        size_t lenBytes = size_t(1) << (idx - 5);
        if (s.size() - pos < lenBytes)
            return false;
        for (size_t i = 0; i < lenBytes; ++i)
            n = n << 8 | s[pos++];
    }
    if (s.size() - pos < n)
        return false;
    e.data.assign(s.begin() + pos, s.begin() + pos + n);
    pos += n;
    return true;
}

std::vector<Element> Members(const std::vector<uint8_t>& seq) {
    std::vector<Element> out;
    size_t pos = 0;
    Element e;
    while (pos < seq.size()) {
        EXPECT_TRUE(Read(seq, pos, e));
        if (::testing::Test::HasFailure())
            break;
        out.push_back(e);
    }
    return out;
}

Service Opp(uint32_t handle, uint8_t channel, std::string name) {
    Service s;
    s.uuid = Service::FromUuid16(0x1105);
    s.handle = handle;
    s.channel = channel;
    s.name = std::move(name);
    return s;
}

} // namespace

TEST(SdpRecord, ExactBytesOfASmallRecord) {
    const std::vector<uint8_t> expect = {0x35, 0x37,                                     // the record
                                         0x09, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x07, // handle 7
                                         0x09, 0x00, 0x01, 0x35, 0x03, 0x19, 0x11, 0x05, // class: Object Push
                                         0x09, 0x00, 0x04, 0x35, 0x0C, 0x35, 0x03, 0x19, 0x01, 0x00, // L2CAP
                                         0x35, 0x05, 0x19, 0x00, 0x03, 0x08, 0x09,                   // RFCOMM channel 9
                                         0x09, 0x00, 0x06, 0x35, 0x09, 0x09, 0x65, 0x6E, 0x09, 0x00, 0x6A, // en, UTF-8,
                                         0x09, 0x01, 0x00,                               // base 0x0100
                                         0x09, 0x01, 0x00, 0x25, 0x03, 'O',  'P',  'P'}; // name
    EXPECT_EQ(RenderSdpRecord(Opp(7, 9, "OPP")), expect);
}

TEST(SdpRecord, WalksAsAttributePairsWithLongNamesAndWideUuids) {
    Service s = Opp(0x00010003, 30, std::string(300, 'n'));
    s.comment = "Push here";
    s.uuid = {0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}; // not on the base UUID
    auto bytes = RenderSdpRecord(s);
    size_t pos = 0;
    Element rec;
    ASSERT_TRUE(Read(bytes, pos, rec));
    EXPECT_EQ(pos, bytes.size());
    EXPECT_EQ(bytes[0], 0x36); // too long for an 8-bit sequence length
    EXPECT_EQ(rec.type, 6);
    auto attrs = Members(rec.data);
    ASSERT_EQ(attrs.size() % 2, 0u);
    std::vector<uint16_t> ids;
    for (size_t i = 0; i < attrs.size(); i += 2) {
        ASSERT_EQ(attrs[i].type, 1);
        ASSERT_EQ(attrs[i].data.size(), 2u);
        ids.push_back(uint16_t(attrs[i].data[0] << 8 | attrs[i].data[1]));
        const Element& v = attrs[i + 1];
        switch (ids.back()) {
        case 0x0000:
            EXPECT_EQ(v.data, (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x03}));
            break;
        case 0x0001: {
            auto cls = Members(v.data);
            ASSERT_EQ(cls.size(), 1u);
            EXPECT_EQ(cls[0].type, 3);
            EXPECT_EQ(cls[0].data, std::vector<uint8_t>(s.uuid.begin(), s.uuid.end()));
            break;
        }
        case 0x0004: {
            auto protos = Members(v.data);
            ASSERT_EQ(protos.size(), 2u);
            auto rf = Members(protos[1].data);
            ASSERT_EQ(rf.size(), 2u);
            EXPECT_EQ(rf[0].data, (std::vector<uint8_t>{0x00, 0x03}));
            EXPECT_EQ(rf[1].type, 1);
            EXPECT_EQ(rf[1].data, std::vector<uint8_t>{30});
            break;
        }
        case 0x0100:
            EXPECT_EQ(v.type, 4);
            EXPECT_EQ(std::string(v.data.begin(), v.data.end()), s.name);
            break;
        case 0x0101:
            EXPECT_EQ(std::string(v.data.begin(), v.data.end()), "Push here");
            break;
        }
    }
    EXPECT_EQ(ids, (std::vector<uint16_t>{0x0000, 0x0001, 0x0004, 0x0006, 0x0100, 0x0101}));

    // A 32-bit UUID on the base takes the 4-byte form.
    s.uuid = Service::FromUuid16(0);
    s.uuid[0] = 0x00;
    s.uuid[1] = 0x01;
    auto b2 = RenderSdpRecord(s);
    const uint8_t uuid32[] = {0x1A, 0x00, 0x01, 0x00, 0x00};
    EXPECT_NE(std::search(b2.begin(), b2.end(), std::begin(uuid32), std::end(uuid32)), b2.end());
}
