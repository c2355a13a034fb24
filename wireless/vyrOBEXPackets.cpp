#include "vyrOBEXPackets.h"
#include "vcl/SysUtils.h"

#include "vyrErrors.h"

#include <algorithm>

namespace vyr {

namespace {

// Accumulates one request: the length field is patched in when the packet is done,
// so the builders cannot disagree with themselves about the size.
class PacketWriter {
public:
    explicit PacketWriter(std::uint8_t opcode) { bytes_ = {opcode, 0, 0}; }

    void Byte(std::uint8_t b) { bytes_.push_back(b); }
    void Word(std::uint16_t w) {
        bytes_.push_back(static_cast<std::uint8_t>(w >> 8));
        bytes_.push_back(static_cast<std::uint8_t>(w));
    }
    void Cardinal(std::uint32_t c) {
        Word(static_cast<std::uint16_t>(c >> 16));
        Word(static_cast<std::uint16_t>(c));
    }
    void ConnectionId(std::uint32_t id) {
        if (id != 0) {
            Byte(OBEX_HI_CONNECTION_ID);
            Cardinal(id);
        }
    }
    // A byte-sequence or text header; false when its length does not fit 16 bits.
    bool Header(std::uint8_t id, std::size_t valueSize) {
        if (valueSize > OBEX_MAX_PACKET_SIZE - 3 || !fits_)
            return fits_ = false;
        Byte(id);
        Word(static_cast<std::uint16_t>(valueSize + 3));
        return true;
    }
    void Bytes(std::span<const std::uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }

    void Name(std::u16string_view name) {
        bool terminated = !name.empty() && name.back() == u'\0';
        std::size_t chars = name.size() + (terminated ? 0 : 1);
        if (chars > OBEX_MAX_PACKET_SIZE / 2 || !Header(OBEX_HI_NAME, 2 * chars)) {
            fits_ = false;
            return;
        }
        for (char16_t c : name)
            Word(c);
        if (!terminated)
            Word(0);
    }
    void EmptyName() { Header(OBEX_HI_NAME, 0); }
    void Type(std::u16string_view type) {
        if (!Header(OBEX_HI_TYPE, type.size() + 1))
            return;
        for (char16_t c : type)
            Byte(static_cast<std::uint8_t>(c));
        Byte(0);
    }
    void Raw(std::uint8_t id, const std::vector<std::uint8_t>& value) {
        if (Header(id, value.size()))
            Bytes(value);
    }

    // Finishes the packet; false when it outgrew the 16-bit length field.
    bool Finish(TvyrOBEXPacket& packet) {
        if (!fits_ || bytes_.size() > OBEX_MAX_PACKET_SIZE) {
            packet.clear();
            return false;
        }
        bytes_[1] = static_cast<std::uint8_t>(bytes_.size() >> 8);
        bytes_[2] = static_cast<std::uint8_t>(bytes_.size());
        packet = std::move(bytes_);
        return true;
    }
    TvyrOBEXPacket Finish() {
        TvyrOBEXPacket packet;
        Finish(packet);
        return packet;
    }

private:
    TvyrOBEXPacket bytes_;
    bool fits_ = true;
};

int Done(PacketWriter& writer, TvyrOBEXPacket& packet) {
    return writer.Finish(packet) ? VYR_SUCCESS : VYR_INVALID_ARGUMENT;
}

// Appends a Target/Who header when its text is not empty; false for bad hexadecimal.
bool WriteHeaderText(PacketWriter& writer, std::uint8_t id, const TvyrOBEXHeaderText& text) {
    if (text.Text.empty())
        return true;
    std::vector<std::uint8_t> bytes;
    if (!OBEXHeaderTextBytes(text, bytes))
        return false;
    writer.Raw(id, bytes);
    return true;
}

std::uint16_t ReadWord(std::span<const std::uint8_t> p, std::size_t at) {
    return static_cast<std::uint16_t>((p[at] << 8) | p[at + 1]);
}

// The part of packet its own length field covers; empty when the field is below 3
// or claims more than was received.
std::span<const std::uint8_t> Framed(std::span<const std::uint8_t> packet) {
    if (packet.size() < 3)
        return {};
    std::size_t length = ReadWord(packet, 1);
    if (length < 3 || length > packet.size())
        return {};
    return packet.first(length);
}

} // namespace

bool OBEXHeaderTextBytes(const TvyrOBEXHeaderText& text, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (text.AsString) {
        for (char16_t c : text.Text)
            bytes.push_back(static_cast<std::uint8_t>(c));
        return true;
    }
    if (text.Text.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < text.Text.size(); i += 2) {
        int hi = vcl::HexDigit(text.Text[i]);
        int lo = vcl::HexDigit(text.Text[i + 1]);
        if (hi < 0 || lo < 0) {
            bytes.clear();
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return true;
}

int ResponseCodeToError(std::uint8_t code) {
    switch (code) {
    case 0x90:
    case 0xA0:
    case 0xA1:
    case 0xA2:
        return VYR_SUCCESS;
    case 0xA3:
        return VYR_OBEX_NON_AUTHORITATIVE;
    case 0xA4:
        return VYR_OBEX_NO_CONTENT;
    case 0xA5:
        return VYR_OBEX_RESET_CONTENT;
    case 0xA6:
        return VYR_OBEX_PARTIAL_CONTENT;
    case 0xE0:
        return VYR_OBEX_DATABASE_FULL;
    case 0xE1:
        return VYR_OBEX_DATABASE_LOCKED;
    default:
        break;
    }
    // 0xB0-0xB5, 0xC0-0xCF and 0xD0-0xD5 run in step with the library codes.
    if (code >= 0xB0 && code <= 0xB5)
        return VYR_OBEX_MULTIPLE_CHOICES + (code - 0xB0);
    if (code >= 0xC0 && code <= 0xCF)
        return VYR_OBEX_BAD_REQUEST + (code - 0xC0);
    if (code >= 0xD0 && code <= 0xD5)
        return VYR_OBEX_INTERNAL_SERVER_ERROR + (code - 0xD0);
    return VYR_OBEX_UNKNOWN;
}

int OBEXBuildConnect(std::uint16_t packetSize, const TvyrOBEXHeaderText& target, const TvyrOBEXHeaderText& who,
                     TvyrOBEXPacket& packet) {
    packet.clear();
    PacketWriter w(OBEX_OP_CONNECT);
    w.Byte(0x10); // OBEX version 1.0
    w.Byte(0x00); // flags
    w.Word(packetSize);
    if (!WriteHeaderText(w, OBEX_HI_TARGET, target) || !WriteHeaderText(w, OBEX_HI_WHO, who))
        return VYR_INVALID_ARGUMENT;
    return Done(w, packet);
}

TvyrOBEXPacket OBEXBuildDisconnect() {
    return PacketWriter(OBEX_OP_DISCONNECT).Finish();
}

int OBEXBuildPutFirst(std::uint32_t connectionId, std::u16string_view name, std::u16string_view type,
                      const TvyrOBEXHeaderText& who, std::uint64_t objectSize, TvyrOBEXPacket& packet) {
    packet.clear();
    PacketWriter w(OBEX_OP_PUT);
    w.ConnectionId(connectionId);
    if (!type.empty())
        w.Type(type);
    if (!WriteHeaderText(w, OBEX_HI_WHO, who))
        return VYR_INVALID_ARGUMENT;
    w.Byte(OBEX_HI_LENGTH);
    w.Cardinal(static_cast<std::uint32_t>(objectSize));
    if (!name.empty())
        w.Name(name);
    return Done(w, packet);
}

std::size_t OBEXPutChunkSize(std::uint16_t peerMaxPacketSize, std::uint64_t remaining) {
    std::size_t room = std::max(peerMaxPacketSize, OBEX_MIN_PEER_PACKET_SIZE) - OBEX_PUT_DATA_OVERHEAD;
    return remaining < room ? static_cast<std::size_t>(remaining) : room;
}

int OBEXBuildPutData(std::uint32_t connectionId, std::span<const std::uint8_t> chunk, TvyrOBEXPacket& packet) {
    packet.clear();
    PacketWriter w(OBEX_OP_PUT);
    w.ConnectionId(connectionId);
    if (w.Header(OBEX_HI_BODY, chunk.size()))
        w.Bytes(chunk);
    return Done(w, packet);
}

TvyrOBEXPacket OBEXBuildPutFinal(std::uint32_t connectionId) {
    PacketWriter w(OBEX_OP_PUT_FINAL);
    w.ConnectionId(connectionId);
    w.Header(OBEX_HI_END_OF_BODY, 0);
    return w.Finish();
}

int OBEXBuildGet(std::uint32_t connectionId, std::u16string_view name, std::u16string_view type,
                 const TvyrOBEXHeaderText& who, TvyrOBEXPacket& packet) {
    packet.clear();
    PacketWriter w(OBEX_OP_GET_FINAL);
    w.ConnectionId(connectionId);
    if (!type.empty())
        w.Type(type);
    if (!WriteHeaderText(w, OBEX_HI_WHO, who))
        return VYR_INVALID_ARGUMENT;
    if (!name.empty())
        w.Name(name);
    return Done(w, packet);
}

TvyrOBEXPacket OBEXBuildGetContinue(std::uint32_t connectionId) {
    PacketWriter w(OBEX_OP_GET_FINAL);
    w.ConnectionId(connectionId);
    return w.Finish();
}

TvyrOBEXPacket OBEXBuildFolderListing(std::uint32_t connectionId) {
    PacketWriter w(OBEX_OP_GET_FINAL);
    w.ConnectionId(connectionId);
    w.Type(u"x-obex/folder-listing");
    w.EmptyName();
    return w.Finish();
}

int OBEXBuildDelete(std::uint32_t connectionId, std::u16string_view name, TvyrOBEXPacket& packet) {
    packet.clear();
    if (name.empty())
        return VYR_INVALID_ARGUMENT;
    PacketWriter w(OBEX_OP_PUT_FINAL);
    w.ConnectionId(connectionId);
    w.Name(name);
    return Done(w, packet);
}

int OBEXBuildSetPath(std::uint32_t connectionId, TvyrOBEXSetPath kind, std::u16string_view name,
                     TvyrOBEXPacket& packet) {
    packet.clear();
    bool named = kind == TvyrOBEXSetPath::CreateFolder || kind == TvyrOBEXSetPath::ChildFolder;
    if (named && name.empty())
        return VYR_INVALID_ARGUMENT;
    PacketWriter w(OBEX_OP_SETPATH);
    switch (kind) {
    case TvyrOBEXSetPath::CreateFolder:
        w.Byte(0x00);
        break;
    case TvyrOBEXSetPath::ChildFolder:
    case TvyrOBEXSetPath::RootFolder:
        w.Byte(0x02); // do not create
        break;
    case TvyrOBEXSetPath::ParentFolder:
        w.Byte(0x03); // back up a level, do not create
        break;
    }
    w.Byte(0x00); // constants
    w.ConnectionId(connectionId);
    if (named)
        w.Name(name);
    else if (kind == TvyrOBEXSetPath::RootFolder)
        w.EmptyName();
    return Done(w, packet);
}

int OBEXBuildChangeFolder(std::uint32_t connectionId, std::u16string_view path, TvyrOBEXPacket& packet) {
    if (path == u"\\")
        return OBEXBuildSetPath(connectionId, TvyrOBEXSetPath::RootFolder, {}, packet);
    if (path == u"..")
        return OBEXBuildSetPath(connectionId, TvyrOBEXSetPath::ParentFolder, {}, packet);
    return OBEXBuildSetPath(connectionId, TvyrOBEXSetPath::ChildFolder, path, packet);
}

TvyrOBEXPacket OBEXBuildAbort(std::uint32_t connectionId) {
    PacketWriter w(OBEX_OP_ABORT);
    w.ConnectionId(connectionId);
    return w.Finish();
}

TvyrOBEXFrame OBEXFrameResponse(std::span<const std::uint8_t> received, std::size_t& packetLength) {
    packetLength = 0;
    if (received.size() < 3)
        return TvyrOBEXFrame::Incomplete;
    std::size_t length = ReadWord(received, 1);
    if (length < 3)
        return TvyrOBEXFrame::Malformed;
    if (received.size() < length)
        return TvyrOBEXFrame::Incomplete;
    packetLength = length;
    return TvyrOBEXFrame::Complete;
}

std::uint32_t TvyrOBEXHeader::AsCardinal() const {
    if (Value.size() < 4)
        return 0;
    return static_cast<std::uint32_t>(Value[0]) << 24 | static_cast<std::uint32_t>(Value[1]) << 16 |
           static_cast<std::uint32_t>(Value[2]) << 8 | Value[3];
}

TvyrOBEXWalk OBEXFindHeader(std::span<const std::uint8_t> packet, std::size_t firstHeader,
                            std::initializer_list<std::uint8_t> ids, TvyrOBEXHeader& header) {
    header = {};
    std::size_t end = packet.size();
    if (end >= 3)
        end = std::min<std::size_t>(end, ReadWord(packet, 1));
    std::size_t at = firstHeader;
    while (at < end) {
        std::uint8_t id = packet[at];
        std::size_t size, valueAt;
        switch (id & 0xC0) {
        case 0x80:
            size = 2;
            valueAt = at + 1;
            break;
        case 0xC0:
            size = 5;
            valueAt = at + 1;
            break;
        default: // text and byte sequences carry their own length
            if (end - at < 3)
                return TvyrOBEXWalk::Malformed;
            size = ReadWord(packet, at + 1);
            if (size < 3)
                return TvyrOBEXWalk::Malformed;
            valueAt = at + 3;
            break;
        }
        if (size > end - at)
            return TvyrOBEXWalk::Malformed;
        if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
            header.Id = id;
            header.Value = packet.subspan(valueAt, at + size - valueAt);
            return TvyrOBEXWalk::Found;
        }
        at += size;
    }
    return TvyrOBEXWalk::NotFound;
}

TvyrOBEXConnectResponse OBEXReadConnectResponse(std::span<const std::uint8_t> packet) {
    TvyrOBEXConnectResponse r;
    std::span<const std::uint8_t> p = Framed(packet);
    if (p.empty()) {
        r.Error = VYR_OBEX_UNKNOWN;
        return r;
    }
    r.Error = ResponseCodeToError(p[0]);
    if (r.Error != VYR_SUCCESS)
        return r;
    // Any success reply counts; a reply too short to carry a maximum gets the smallest one.
    r.PeerMaxPacketSize = OBEX_MIN_PEER_PACKET_SIZE;
    if (p.size() < OBEX_CONNECT_RESPONSE_HEADERS)
        return r;
    r.PeerMaxPacketSize = std::max(ReadWord(p, 5), OBEX_MIN_PEER_PACKET_SIZE);
    TvyrOBEXHeader h;
    switch (OBEXFindHeader(p, OBEX_CONNECT_RESPONSE_HEADERS, {OBEX_HI_CONNECTION_ID}, h)) {
    case TvyrOBEXWalk::Found:
        r.ConnectionId = h.AsCardinal();
        break;
    case TvyrOBEXWalk::NotFound:
        break;
    case TvyrOBEXWalk::Malformed:
        r = {};
        r.Error = VYR_OBEX_UNKNOWN;
        break;
    }
    return r;
}

TvyrOBEXDataResponse OBEXReadDataResponse(std::span<const std::uint8_t> packet, bool wantLength) {
    TvyrOBEXDataResponse r;
    std::span<const std::uint8_t> p = Framed(packet);
    auto malformed = [&r] {
        r = {};
        r.Error = VYR_OBEX_UNKNOWN;
        return r;
    };
    if (p.empty())
        return malformed();
    TvyrOBEXHeader h;
    if (wantLength) {
        TvyrOBEXWalk walk = OBEXFindHeader(p, OBEX_RESPONSE_HEADERS, {OBEX_HI_LENGTH}, h);
        if (walk == TvyrOBEXWalk::Malformed)
            return malformed();
        if (walk == TvyrOBEXWalk::Found) {
            r.HasLength = true;
            r.Length = h.AsCardinal();
        }
    }
    TvyrOBEXWalk walk = OBEXFindHeader(p, OBEX_RESPONSE_HEADERS, {OBEX_HI_BODY, OBEX_HI_END_OF_BODY}, h);
    if (walk == TvyrOBEXWalk::Malformed)
        return malformed();
    if (walk == TvyrOBEXWalk::Found)
        r.Body = h.Value;
    r.Error = ResponseCodeToError(p[0]);
    r.Continue = p[0] == OBEX_RC_CONTINUE;
    return r;
}

int OBEXResponseError(std::span<const std::uint8_t> packet) {
    std::span<const std::uint8_t> p = Framed(packet);
    return p.empty() ? VYR_OBEX_UNKNOWN : ResponseCodeToError(p[0]);
}

} // namespace vyr
