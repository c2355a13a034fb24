#include "Bytes.h"
#include "vyrErrors.h"
#include "vyrOBEX.h"

#include <gtest/gtest.h>

#include <map>

using namespace vyr;

namespace {

using tavtest::Bytes;
using tavtest::Cat;
using tavtest::Hex;

const TvyrOBEXHeaderText kNone{};
constexpr std::uint32_t kCid = 0x01020304;

} // namespace

TEST(vyrOBEXPackets, ConnectDisconnectAbortGolden) {
    TvyrOBEXPacket p;
    EXPECT_EQ(OBEXBuildConnect(4096, kNone, kNone, p), 0);
    EXPECT_EQ(p, Hex("80 00 07 10 00 10 00"));

    EXPECT_EQ(OBEXBuildConnect(4096, {u"0A1B2C3D", false}, kNone, p), 0);
    EXPECT_EQ(p, Hex("80 00 0E 10 00 10 00 46 00 07 0A 1B 2C 3D"));
    EXPECT_EQ(OBEXBuildConnect(4096, {u"0a1b2c3d", false}, kNone, p), 0); // either case
    EXPECT_EQ(p, Hex("80 00 0E 10 00 10 00 46 00 07 0A 1B 2C 3D"));
    EXPECT_EQ(OBEXBuildConnect(4096, {u"0A1B2C3D", true}, kNone, p), 0);
    EXPECT_EQ(p, Hex("80 00 12 10 00 10 00 46 00 0B '0A1B2C3D'"));

    // Target first, then Who; the announced size is the client's PacketSize.
    EXPECT_EQ(OBEXBuildConnect(0x1234, {u"F9EC", false}, {u"me", true}, p), 0);
    EXPECT_EQ(p, Hex("80 00 11 10 00 12 34 46 00 05 F9 EC 4A 00 05 'me'"));
    EXPECT_EQ(OBEXBuildConnect(4096, kNone, {u"0102", false}, p), 0);
    EXPECT_EQ(p, Hex("80 00 0C 10 00 10 00 4A 00 05 01 02"));

    // Hexadecimal text must be whole pairs of hexadecimal digits.
    for (const char16_t* bad : {u"0A1", u"0G", u"zz", u" 0A"}) {
        EXPECT_EQ(OBEXBuildConnect(4096, {bad, false}, kNone, p), VYR_INVALID_ARGUMENT);
        EXPECT_TRUE(p.empty());
        EXPECT_EQ(OBEXBuildConnect(4096, kNone, {bad, false}, p), VYR_INVALID_ARGUMENT);
    }
    // A header that cannot fit the 16-bit length is refused, not wrapped.
    EXPECT_EQ(OBEXBuildConnect(4096, {std::u16string(70000, u'x'), true}, kNone, p), VYR_INVALID_ARGUMENT);

    EXPECT_EQ(OBEXBuildDisconnect(), Hex("81 00 03"));
    EXPECT_EQ(OBEXBuildAbort(0), Hex("FF 00 03"));
    EXPECT_EQ(OBEXBuildAbort(kCid), Hex("FF 00 08 CB 01 02 03 04"));
}

TEST(vyrOBEXPackets, PutSequenceGolden) {
    const Bytes data = Hex("30 31 32 33 34 35 36 37 38 39");
    const Bytes name = Hex("01 00 0F 00 61 00 2E 00 74 00 78 00 74 00 00");
    TvyrOBEXPacket p;

    // Without a Connection Id.
    EXPECT_EQ(OBEXBuildPutFirst(0, u"a.txt", u"", kNone, data.size(), p), 0);
    EXPECT_EQ(p, Cat(Hex("02 00 17 C3 00 00 00 0A"), name));
    EXPECT_EQ(OBEXPutChunkSize(4096, data.size()), 10u);
    EXPECT_EQ(OBEXBuildPutData(0, data, p), 0);
    EXPECT_EQ(p, Cat(Hex("02 00 10 48 00 0D"), data));
    EXPECT_EQ(OBEXBuildPutFinal(0), Hex("82 00 06 49 00 03"));

    // With one: it is always the first header.
    EXPECT_EQ(OBEXBuildPutFirst(kCid, u"a.txt", u"", kNone, data.size(), p), 0);
    EXPECT_EQ(p, Cat(Hex("02 00 1C CB 01 02 03 04 C3 00 00 00 0A"), name));
    EXPECT_EQ(OBEXBuildPutData(kCid, data, p), 0);
    EXPECT_EQ(p, Cat(Hex("02 00 15 CB 01 02 03 04 48 00 0D"), data));
    EXPECT_EQ(OBEXBuildPutFinal(kCid), Hex("82 00 0B CB 01 02 03 04 49 00 03"));

    // Full order: Connection Id, Type, Who, Length, Name.
    EXPECT_EQ(OBEXBuildPutFirst(kCid, u"a", u"text/x-vcard", {u"AB", false}, 0x1'0000'0005ull, p), 0);
    EXPECT_EQ(p, Hex("02 00 28 CB 01 02 03 04 42 00 10 'text/x-vcard' 00 4A 00 04 AB C3 00 00 00 05 "
                     "01 00 07 00 61 00 00"));

    // An empty name sends no Name header; a name ending in NUL gets no second one.
    EXPECT_EQ(OBEXBuildPutFirst(0, u"", u"", kNone, 1, p), 0);
    EXPECT_EQ(p, Hex("02 00 08 C3 00 00 00 01"));
    EXPECT_EQ(OBEXBuildPutFirst(0, std::u16string(u"a.txt\0", 6), u"", kNone, 10, p), 0);
    EXPECT_EQ(p, Cat(Hex("02 00 17 C3 00 00 00 0A"), name));
    // 2n + 11 bytes for n characters (NUL included); UTF-16 big-endian beyond ASCII.
    EXPECT_EQ(OBEXBuildPutFirst(0, u"\u00E9\u65E5", u"", kNone, 1, p), 0);
    EXPECT_EQ(p, Hex("02 00 11 C3 00 00 00 01 01 00 09 00 E9 65 E5 00 00"));
    // A Type of 10 characters is a 14-byte header whose length field reads 14.
    EXPECT_EQ(OBEXBuildPutFirst(0, u"", u"text/plain", kNone, 1, p), 0);
    EXPECT_EQ(Bytes(p.begin() + 3, p.begin() + 6), Hex("42 00 0E"));
    EXPECT_EQ(p.size(), 3u + 14 + 5);
    EXPECT_EQ(p[16], 0);

    EXPECT_EQ(OBEXBuildPutFirst(0, u"a", u"", {u"ABC", false}, 1, p), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(OBEXBuildPutFirst(0, std::u16string(40000, u'n'), u"", kNone, 1, p), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(OBEXBuildPutData(0, Bytes(70000), p), VYR_INVALID_ARGUMENT);
}

TEST(vyrOBEXPackets, PutChunksFollowThePeerMaximum) {
    // Peer maximum 255: 244 data bytes, in 250-byte packets without an id, 255 with.
    EXPECT_EQ(OBEXPutChunkSize(255, 100000), 244u);
    EXPECT_EQ(OBEXPutChunkSize(4096, 100000), 4085u);
    EXPECT_EQ(OBEXPutChunkSize(4096, 7), 7u);
    EXPECT_EQ(OBEXPutChunkSize(0xFFFF, 1u << 20), 0xFFFFu - 11);
    // A peer maximum below 255 (or none) counts as 255, so the chunk never underflows.
    for (std::uint16_t tiny : {0, 1, 10, 11, 12, 254})
        EXPECT_EQ(OBEXPutChunkSize(tiny, 100000), 244u) << tiny;

    for (std::uint16_t peer : {255, 4096}) {
        for (std::uint32_t cid : {0u, kCid}) {
            Bytes object(10000);
            for (size_t i = 0; i < object.size(); ++i)
                object[i] = static_cast<std::uint8_t>(i * 7);
            Bytes reassembled;
            size_t sent = 0, packets = 0;
            while (sent < object.size()) {
                size_t n = OBEXPutChunkSize(peer, object.size() - sent);
                TvyrOBEXPacket p;
                ASSERT_EQ(OBEXBuildPutData(cid, std::span(object).subspan(sent, n), p), 0);
                ASSERT_LE(p.size(), peer);
                if (sent + n < object.size()) {
                    EXPECT_EQ(p.size(), cid ? peer : peer - 5u);
                }
                EXPECT_EQ(p.size(), static_cast<size_t>(p[1] << 8 | p[2]));
                size_t bodyAt = cid ? 8 : 3;
                ASSERT_EQ(p[bodyAt], OBEX_HI_BODY);
                reassembled.insert(reassembled.end(), p.begin() + bodyAt + 3, p.end());
                sent += n;
                ++packets;
            }
            EXPECT_EQ(reassembled, object);
            EXPECT_EQ(packets, (object.size() + peer - 12) / (peer - 11));
        }
    }
}

TEST(vyrOBEXPackets, GetListingDeleteSetPathGolden) {
    TvyrOBEXPacket p;
    EXPECT_EQ(OBEXBuildGet(0, u"a", u"", kNone, p), 0);
    EXPECT_EQ(p, Hex("83 00 0A 01 00 07 00 61 00 00"));
    EXPECT_EQ(OBEXBuildGet(kCid, u"a", u"x/y", {u"0F", false}, p), 0);
    EXPECT_EQ(p, Hex("83 00 1A CB 01 02 03 04 42 00 07 'x/y' 00 4A 00 04 0F 01 00 07 00 61 00 00"));
    EXPECT_EQ(OBEXBuildGet(0, u"", u"x/y", kNone, p), 0);
    EXPECT_EQ(p, Hex("83 00 0A 42 00 07 'x/y' 00"));
    EXPECT_EQ(OBEXBuildGetContinue(0), Hex("83 00 03"));
    EXPECT_EQ(OBEXBuildGetContinue(kCid), Hex("83 00 08 CB 01 02 03 04"));

    const Bytes listing = Hex("42 00 19 'x-obex/folder-listing' 00 01 00 03");
    EXPECT_EQ(OBEXBuildFolderListing(0), Cat(Hex("83 00 1F"), listing));
    EXPECT_EQ(OBEXBuildFolderListing(kCid), Cat(Hex("83 00 24 CB 01 02 03 04"), listing));
    EXPECT_EQ(OBEXBuildFolderListing(0).size(), 31u);

    // Delete: 2n + 6, or 2n + 11 with a Connection Id.
    EXPECT_EQ(OBEXBuildDelete(0, u"a", p), 0);
    EXPECT_EQ(p, Hex("82 00 0A 01 00 07 00 61 00 00"));
    EXPECT_EQ(OBEXBuildDelete(kCid, u"a", p), 0);
    EXPECT_EQ(p, Hex("82 00 0F CB 01 02 03 04 01 00 07 00 61 00 00"));
    EXPECT_EQ(OBEXBuildDelete(0, u"", p), VYR_INVALID_ARGUMENT);

    // SETPATH: flags, constants, Connection Id, then the Name if the variant has one.
    EXPECT_EQ(OBEXBuildSetPath(0, TvyrOBEXSetPath::CreateFolder, u"d", p), 0);
    EXPECT_EQ(p, Hex("85 00 0C 00 00 01 00 07 00 64 00 00"));
    EXPECT_EQ(OBEXBuildSetPath(kCid, TvyrOBEXSetPath::CreateFolder, u"d", p), 0);
    EXPECT_EQ(p, Hex("85 00 11 00 00 CB 01 02 03 04 01 00 07 00 64 00 00"));
    EXPECT_EQ(OBEXBuildChangeFolder(0, u"d", p), 0);
    EXPECT_EQ(p, Hex("85 00 0C 02 00 01 00 07 00 64 00 00"));
    EXPECT_EQ(OBEXBuildChangeFolder(kCid, u"d", p), 0);
    EXPECT_EQ(p, Hex("85 00 11 02 00 CB 01 02 03 04 01 00 07 00 64 00 00"));
    EXPECT_EQ(OBEXBuildChangeFolder(0, u"\\", p), 0);
    EXPECT_EQ(p, Hex("85 00 08 02 00 01 00 03"));
    EXPECT_EQ(OBEXBuildChangeFolder(kCid, u"\\", p), 0);
    EXPECT_EQ(p, Hex("85 00 0D 02 00 CB 01 02 03 04 01 00 03"));
    EXPECT_EQ(OBEXBuildChangeFolder(0, u"..", p), 0);
    EXPECT_EQ(p, Hex("85 00 05 03 00"));
    EXPECT_EQ(OBEXBuildChangeFolder(kCid, u"..", p), 0);
    EXPECT_EQ(p, Hex("85 00 0A 03 00 CB 01 02 03 04"));
    EXPECT_EQ(OBEXBuildChangeFolder(0, u"", p), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(OBEXBuildSetPath(0, TvyrOBEXSetPath::CreateFolder, u"", p), VYR_INVALID_ARGUMENT);
}

TEST(vyrOBEXPackets, ResponseCodeMap) {
    std::map<int, int> expected = {
        {0x90, 0},   {0xA0, 0},   {0xA1, 0},   {0xA2, 0},   {0xA3, 106}, {0xA4, 103}, {0xA5, 105}, {0xA6, 107},
        {0xB0, 108}, {0xB1, 109}, {0xB2, 110}, {0xB3, 111}, {0xB4, 112}, {0xB5, 113}, {0xC0, 114}, {0xC1, 115},
        {0xC2, 116}, {0xC3, 117}, {0xC4, 118}, {0xC5, 119}, {0xC6, 120}, {0xC7, 121}, {0xC8, 122}, {0xC9, 123},
        {0xCA, 124}, {0xCB, 125}, {0xCC, 126}, {0xCD, 127}, {0xCE, 128}, {0xCF, 129}, {0xD0, 130}, {0xD1, 131},
        {0xD2, 132}, {0xD3, 133}, {0xD4, 134}, {0xD5, 135}, {0xE0, 136}, {0xE1, 137}};
    for (int code = 0; code < 256; ++code) {
        auto it = expected.find(code);
        EXPECT_EQ(ResponseCodeToError(static_cast<std::uint8_t>(code)), it == expected.end() ? 199 : it->second)
            << std::hex << code;
    }
    // Codes without the final bit are unknown, even the success codes.
    EXPECT_EQ(ResponseCodeToError(0x20), VYR_OBEX_UNKNOWN);
    EXPECT_EQ(ResponseCodeToError(0x10), VYR_OBEX_UNKNOWN);
    EXPECT_EQ(GetErrorText(ResponseCodeToError(0xB0)), u"Multiple choises.");
    EXPECT_EQ(GetErrorText(ResponseCodeToError(0xD3)), u"Services unavailable.");
}

TEST(vyrOBEXPackets, FramingOfReceivedBytes) {
    size_t len = 99;
    EXPECT_EQ(OBEXFrameResponse({}, len), TvyrOBEXFrame::Incomplete);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(OBEXFrameResponse(Hex("A0 00"), len), TvyrOBEXFrame::Incomplete);
    EXPECT_EQ(OBEXFrameResponse(Hex("A0 00 05 49"), len), TvyrOBEXFrame::Incomplete);
    for (const char* bad : {"A0 00 00", "A0 00 01", "A0 00 02 FF FF"})
        EXPECT_EQ(OBEXFrameResponse(Hex(bad), len), TvyrOBEXFrame::Malformed) << bad;
    // Two responses in one chunk: only the first is framed.
    Bytes two = Hex("90 00 03 A0 00 03");
    ASSERT_EQ(OBEXFrameResponse(two, len), TvyrOBEXFrame::Complete);
    EXPECT_EQ(len, 3u);
    ASSERT_EQ(OBEXFrameResponse(Hex("A0 01 00"), len), TvyrOBEXFrame::Incomplete);
    Bytes big(256, 0);
    big[0] = 0xA0, big[1] = 1, big[2] = 0;
    ASSERT_EQ(OBEXFrameResponse(big, len), TvyrOBEXFrame::Complete);
    EXPECT_EQ(len, 256u);

    EXPECT_EQ(OBEXResponseError(Hex("C3 00 03")), 117);
    EXPECT_EQ(OBEXResponseError(Hex("A0 00 03")), 0);
    EXPECT_EQ(OBEXResponseError(Hex("A0 00 02")), VYR_OBEX_UNKNOWN);
    EXPECT_EQ(OBEXResponseError(Hex("A0 00 04")), VYR_OBEX_UNKNOWN); // not all received
    EXPECT_EQ(OBEXResponseError(Hex("A0")), VYR_OBEX_UNKNOWN);
}

TEST(vyrOBEXPackets, ConnectResponses) {
    auto r = OBEXReadConnectResponse(Hex("A0 00 0C 10 00 10 00 CB 00 00 00 2A"));
    EXPECT_EQ(r.Error, 0);
    EXPECT_EQ(r.PeerMaxPacketSize, 4096);
    EXPECT_EQ(r.ConnectionId, 42u);
    // The walk steps over a 1-byte header, a text and a sequence ahead of the id.
    r = OBEXReadConnectResponse(Hex("A0 00 17 10 00 04 00 97 01 01 00 05 00 41 46 00 04 FF CB 00 00 01 00"));
    EXPECT_EQ(r.Error, 0);
    EXPECT_EQ(r.PeerMaxPacketSize, 1024);
    EXPECT_EQ(r.ConnectionId, 256u);
    // No id: 0. A tiny peer maximum counts as 255.
    r = OBEXReadConnectResponse(Hex("A0 00 07 10 00 00 0A"));
    EXPECT_EQ(r.Error, 0);
    EXPECT_EQ(r.PeerMaxPacketSize, 255);
    EXPECT_EQ(r.ConnectionId, 0u);
    // Every success code is read alike when it carries the fixed fields.
    for (const char* ok : {"A1 00 0C 10 00 10 00 CB 00 00 00 2A", "A2 00 0C 10 00 10 00 CB 00 00 00 2A",
                           "90 00 0C 10 00 10 00 CB 00 00 00 2A"}) {
        r = OBEXReadConnectResponse(Hex(ok));
        EXPECT_EQ(r.Error, 0) << ok;
        EXPECT_EQ(r.PeerMaxPacketSize, 4096) << ok;
        EXPECT_EQ(r.ConnectionId, 42u) << ok;
    }
    // A success reply shorter than 7 bytes is connected with no id and the smallest peer maximum.
    for (const char* ok : {"90 00 03", "A2 00 03", "A0 00 05 10 00"}) {
        r = OBEXReadConnectResponse(Hex(ok));
        EXPECT_EQ(r.Error, 0) << ok;
        EXPECT_EQ(r.PeerMaxPacketSize, 255) << ok;
        EXPECT_EQ(r.ConnectionId, 0u) << ok;
    }
    r = OBEXReadConnectResponse(Hex("C3 00 0C 10 00 10 00 CB 00 00 00 2A"));
    EXPECT_EQ(r.Error, 117);
    EXPECT_EQ(r.PeerMaxPacketSize, 0);
    EXPECT_EQ(r.ConnectionId, 0u);
    // Headers that do not fit end the connect with the bad-response code.
    for (const char* bad : {"A0 00 0A 10 00 10 00 48 00 02", "A0 00 0A 10 00 10 00 48 00 0B",
                            "A0 00 09 10 00 10 00 CB 00", "A2 00 0B 10 00 10 00 CB 00 00 00", "A0 00 08 10 00 10 00 97",
                            "A0 00 09 10 00 10 00 42 00", "A0 00 02", "A0 00 0C 10 00 10 00"}) {
        r = OBEXReadConnectResponse(Hex(bad));
        EXPECT_EQ(r.Error, VYR_OBEX_UNKNOWN) << bad;
        EXPECT_EQ(r.ConnectionId, 0u) << bad;
    }
}

TEST(vyrOBEXPackets, DataResponsesAndTheHeaderWalk) {
    const Bytes withLength = Hex("90 00 0E C3 00 00 03 E8 48 00 06 'abc'");
    auto r = OBEXReadDataResponse(withLength, true);
    EXPECT_EQ(r.Error, 0);
    EXPECT_TRUE(r.Continue);
    EXPECT_TRUE(r.HasLength);
    EXPECT_EQ(r.Length, 1000u);
    EXPECT_EQ(Bytes(r.Body.begin(), r.Body.end()), Hex("'abc'"));
    // Length is only looked for when asked.
    r = OBEXReadDataResponse(Hex("90 00 0E C3 00 00 03 E8 48 00 06 'abc'"), false);
    EXPECT_FALSE(r.HasLength);
    // The first Body or End-of-Body wins; a second one is not read.
    const Bytes twoBodies = Hex("A0 00 0C 49 00 04 'x' 48 00 05 'yz'");
    r = OBEXReadDataResponse(twoBodies, true);
    EXPECT_EQ(r.Error, 0);
    EXPECT_FALSE(r.Continue);
    EXPECT_EQ(Bytes(r.Body.begin(), r.Body.end()), Hex("'x'"));
    r = OBEXReadDataResponse(Hex("A0 00 06 49 00 03"), true);
    EXPECT_TRUE(r.Body.empty());
    r = OBEXReadDataResponse(Hex("C4 00 03"), true);
    EXPECT_EQ(r.Error, 118);
    EXPECT_FALSE(r.Continue);
    // Malformed headers end the get with 199 and are never read past.
    for (const char* bad :
         {"90 00 06 48 00 02", "90 00 06 48 00 09", "90 00 05 C3 00", "90 00 04 48", "90 00 06 97 01 48", "90 00 01"}) {
        r = OBEXReadDataResponse(Hex(bad), true);
        EXPECT_EQ(r.Error, VYR_OBEX_UNKNOWN) << bad;
        EXPECT_FALSE(r.Continue) << bad;
        EXPECT_TRUE(r.Body.empty()) << bad;
    }
    // The walk ends at the packet's own length, not at the bytes that follow it.
    Bytes trailing = Hex("90 00 03 48 00 06 'abc'");
    r = OBEXReadDataResponse(trailing, true);
    EXPECT_TRUE(r.Continue);
    EXPECT_TRUE(r.Body.empty());

    TvyrOBEXHeader h;
    const Bytes idAfterByte = Hex("A0 00 0A 97 01 CB 00 00 00 07");
    EXPECT_EQ(OBEXFindHeader(idAfterByte, 3, {0xCB}, h), TvyrOBEXWalk::Found);
    EXPECT_EQ(h.AsCardinal(), 7u);
    EXPECT_EQ(OBEXFindHeader(Hex("A0 00 05 97 01"), 3, {0xCB}, h), TvyrOBEXWalk::NotFound);
    EXPECT_EQ(OBEXFindHeader(idAfterByte, 3, {0x97}, h), TvyrOBEXWalk::Found);
    EXPECT_EQ(h.Value.size(), 1u);
    EXPECT_EQ(h.Value[0], 1);
    // Found before a broken header: the walk never looks past the first match.
    EXPECT_EQ(OBEXFindHeader(Hex("A0 00 0A CB 00 00 00 07 48 00 01"), 3, {0xCB}, h), TvyrOBEXWalk::Found);
    EXPECT_EQ(OBEXFindHeader(Hex("A0 00 0A CB 00 00 00 07 48 00 01"), 3, {0x48}, h), TvyrOBEXWalk::Malformed);
}
