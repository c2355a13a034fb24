// Bytes a phone sends back to the OBEX client: framing, then every way a response is read.
#include "vyrOBEX.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

bool Inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const std::uint8_t> received(data, size);
    while (!received.empty()) {
        std::size_t length = 0;
        if (vyr::OBEXFrameResponse(received, length) != vyr::TvyrOBEXFrame::Complete)
            break;
        Check(length >= 3 && length <= received.size());
        std::span<const std::uint8_t> packet = received.first(length);

        auto connect = vyr::OBEXReadConnectResponse(packet);
        Check(connect.Error != 0 || connect.PeerMaxPacketSize >= vyr::OBEX_MIN_PEER_PACKET_SIZE);
        for (bool wantLength : {false, true}) {
            auto r = vyr::OBEXReadDataResponse(packet, wantLength);
            Check(Inside(r.Body, packet));
            Check(!r.Continue || r.Error == 0);
        }
        (void)vyr::OBEXResponseError(packet);
        vyr::TvyrOBEXHeader h;
        for (std::size_t first : {std::size_t{3}, std::size_t{7}})
            if (vyr::OBEXFindHeader(packet, first, {0xCB, 0xC3, 0x48, 0x49, 0x01, 0x97}, h) == vyr::TvyrOBEXWalk::Found)
                Check(Inside(h.Value, packet));
        (void)vyr::OBEXPutChunkSize(connect.PeerMaxPacketSize, packet.size());
        received = received.subspan(length);
    }
    return 0;
}

static const std::vector<std::vector<uint8_t>> kSeeds = {
    {0xA0, 0x00, 0x0C, 0x10, 0x00, 0x10, 0x00, 0xCB, 0x00, 0x00, 0x00, 0x2A},
    {0x90, 0x00, 0x0E, 0xC3, 0x00, 0x00, 0x03, 0xE8, 0x48, 0x00,
     0x06, 'a',  'b',  'c',  0xA0, 0x00, 0x06, 0x49, 0x00, 0x03},
    {0xA0, 0x00, 0x0A, 0x97, 0x01, 0x01, 0x00, 0x05, 0x00, 0x41},
};
// Seeds for the plain driver; the declaration is shared with it, so the C++ return type stays.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" size_t TavlinFuzzSeedCount() {
    return kSeeds.size();
}
extern "C" const std::vector<uint8_t>& TavlinFuzzSeed(size_t i) {
    return kSeeds[i];
}
