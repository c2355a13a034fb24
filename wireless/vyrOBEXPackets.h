// OBEX wire format of the client: request builders, response framing, the header
// walk and the mapping of response codes to library error codes.
//
// Everything here is pure: no transport, no window, no timer. Every length taken
// from a received packet is checked against the bytes that were received, so a
// hostile peer can end an operation with VYR_OBEX_UNKNOWN but never make us read
// outside its packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vyr {

// Request opcodes (the high bit is the final bit).
inline constexpr std::uint8_t OBEX_OP_CONNECT = 0x80;
inline constexpr std::uint8_t OBEX_OP_DISCONNECT = 0x81;
inline constexpr std::uint8_t OBEX_OP_PUT = 0x02;
inline constexpr std::uint8_t OBEX_OP_PUT_FINAL = 0x82;
inline constexpr std::uint8_t OBEX_OP_GET_FINAL = 0x83;
inline constexpr std::uint8_t OBEX_OP_SETPATH = 0x85;
inline constexpr std::uint8_t OBEX_OP_ABORT = 0xFF;

// Header identifiers.
inline constexpr std::uint8_t OBEX_HI_NAME = 0x01;
inline constexpr std::uint8_t OBEX_HI_TYPE = 0x42;
inline constexpr std::uint8_t OBEX_HI_TARGET = 0x46;
inline constexpr std::uint8_t OBEX_HI_WHO = 0x4A;
inline constexpr std::uint8_t OBEX_HI_BODY = 0x48;
inline constexpr std::uint8_t OBEX_HI_END_OF_BODY = 0x49;
inline constexpr std::uint8_t OBEX_HI_LENGTH = 0xC3;
inline constexpr std::uint8_t OBEX_HI_CONNECTION_ID = 0xCB;

// Response codes the session tells apart.
inline constexpr std::uint8_t OBEX_RC_CONTINUE = 0x90;
inline constexpr std::uint8_t OBEX_RC_OK = 0xA0;

inline constexpr std::uint16_t OBEX_DEFAULT_PACKET_SIZE = 4096;
// The smallest maximum packet length we believe of a peer: a smaller (or missing)
// value would leave no room for data in a PUT packet.
inline constexpr std::uint16_t OBEX_MIN_PEER_PACKET_SIZE = 255;
inline constexpr std::size_t OBEX_MAX_PACKET_SIZE = 0xFFFF;
// Fixed part of a PUT data packet: opcode, length, Connection Id, Body header.
inline constexpr std::size_t OBEX_PUT_DATA_OVERHEAD = 11;

using TvyrOBEXPacket = std::vector<std::uint8_t>;

// Target or Who as configured: with AsString each character gives its low 8 bits,
// otherwise Text is hexadecimal digits, two per byte. Empty text sends no header.
struct TvyrOBEXHeaderText {
    std::u16string Text;
    bool AsString = false;
};

// The bytes of a Target/Who text; false when a hexadecimal text is not whole pairs
// of hexadecimal digits.
bool OBEXHeaderTextBytes(const TvyrOBEXHeaderText& text, std::vector<std::uint8_t>& bytes);

// Library error code of an OBEX response code byte (final bit included):
// 0x90 and 0xA0-0xA2 give 0, the listed codes 103-137, every other byte 199.
int ResponseCodeToError(std::uint8_t code);

// ---- Request builders --------------------------------------------------------
// connectionId 0 means the session holds none, and then no Connection Id header is
// written. Builders that return int give 0, or VYR_INVALID_ARGUMENT when a Target/Who
// text is not valid hexadecimal, a required name is empty, or the packet would not fit
// the 16-bit length field; the packet is left empty then.

int OBEXBuildConnect(std::uint16_t packetSize, const TvyrOBEXHeaderText& target, const TvyrOBEXHeaderText& who,
                     TvyrOBEXPacket& packet);
TvyrOBEXPacket OBEXBuildDisconnect();

// First packet of a put: Connection Id, Type, Who, Length (low 32 bits of
// objectSize), Name. An empty name or type sends no header of its own.
int OBEXBuildPutFirst(std::uint32_t connectionId, std::u16string_view name, std::u16string_view type,
                      const TvyrOBEXHeaderText& who, std::uint64_t objectSize, TvyrOBEXPacket& packet);
// Bytes of the next put data packet's body: min(P - 11, remaining), where P is the
// peer's maximum packet length counted as at least 255.
std::size_t OBEXPutChunkSize(std::uint16_t peerMaxPacketSize, std::uint64_t remaining);
// A data packet (0x02) carrying chunk as its Body.
int OBEXBuildPutData(std::uint32_t connectionId, std::span<const std::uint8_t> chunk, TvyrOBEXPacket& packet);
// The last packet of a put (0x82) with an empty End-of-Body.
TvyrOBEXPacket OBEXBuildPutFinal(std::uint32_t connectionId);

int OBEXBuildGet(std::uint32_t connectionId, std::u16string_view name, std::u16string_view type,
                 const TvyrOBEXHeaderText& who, TvyrOBEXPacket& packet);
TvyrOBEXPacket OBEXBuildGetContinue(std::uint32_t connectionId);
// GET of type "x-obex/folder-listing" with the empty Name header.
TvyrOBEXPacket OBEXBuildFolderListing(std::uint32_t connectionId);

// A final PUT without body: deletes the named object.
int OBEXBuildDelete(std::uint32_t connectionId, std::u16string_view name, TvyrOBEXPacket& packet);

enum class TvyrOBEXSetPath { CreateFolder, ChildFolder, RootFolder, ParentFolder };
// name is used by CreateFolder and ChildFolder only (and must not be empty there).
int OBEXBuildSetPath(std::uint32_t connectionId, TvyrOBEXSetPath kind, std::u16string_view name,
                     TvyrOBEXPacket& packet);
// "\" changes to the root folder, ".." to the parent, any other text to that child.
int OBEXBuildChangeFolder(std::uint32_t connectionId, std::u16string_view path, TvyrOBEXPacket& packet);

TvyrOBEXPacket OBEXBuildAbort(std::uint32_t connectionId);

// ---- Responses ---------------------------------------------------------------

enum class TvyrOBEXFrame {
    Incomplete, // wait for more bytes
    Complete,   // packetLength bytes at the start of the buffer are one response
    Malformed,  // the length field is below 3: the stream cannot be framed
};
// Frames the next response at the start of the received bytes.
TvyrOBEXFrame OBEXFrameResponse(std::span<const std::uint8_t> received, std::size_t& packetLength);

// One header found by the walk; Value excludes the identifier and length field
// (4 bytes for class 0xC0, 1 byte for class 0x80).
struct TvyrOBEXHeader {
    std::uint8_t Id = 0;
    std::span<const std::uint8_t> Value;
    // Big-endian value of a 4-byte header (0 when Value is shorter).
    std::uint32_t AsCardinal() const;
};

enum class TvyrOBEXWalk {
    Found,
    NotFound,
    Malformed, // a header of the packet does not fit (or its length is below 3)
};
// Walks the headers of packet from firstHeader (7 for a CONNECT response, 3 for the
// others) and stops at the first header whose identifier is one of ids. The walk ends
// at the packet's own length field (or at packet.size() if that is smaller).
TvyrOBEXWalk OBEXFindHeader(std::span<const std::uint8_t> packet, std::size_t firstHeader,
                            std::initializer_list<std::uint8_t> ids, TvyrOBEXHeader& header);

inline constexpr std::size_t OBEX_CONNECT_RESPONSE_HEADERS = 7;
inline constexpr std::size_t OBEX_RESPONSE_HEADERS = 3;

struct TvyrOBEXConnectResponse {
    int Error = 0;                       // mapped response code; 199 for a malformed packet
    std::uint16_t PeerMaxPacketSize = 0; // on success at least 255; 0 otherwise
    std::uint32_t ConnectionId = 0;      // 0 when none was given
};
// Reads a CONNECT response. Any success reply of 7 bytes or more gives the peer's maximum
// packet length (below 255 counts as 255) and the Connection Id found by the header walk;
// a shorter success reply counts as connected with 255 and no id. A header that does not
// fit, a truncated Connection Id included, ends the connect with 199.
TvyrOBEXConnectResponse OBEXReadConnectResponse(std::span<const std::uint8_t> packet);

struct TvyrOBEXDataResponse {
    int Error = 0;         // mapped response code; 199 for a malformed packet
    bool Continue = false; // 0x90 and well formed: the peer has more to send
    bool HasLength = false;
    std::uint32_t Length = 0;           // the Length header, when asked for and present
    std::span<const std::uint8_t> Body; // value of the first Body or End-of-Body (may be empty)
};
// Reads a GET or folder-listing response: the first Body/End-of-Body, and the Length
// header when wantLength. A header that does not fit ends the operation (Error 199).
TvyrOBEXDataResponse OBEXReadDataResponse(std::span<const std::uint8_t> packet, bool wantLength);

// Error of a response whose code is all that is used (put, delete, SETPATH, ABORT):
// the mapped code, or 199 when the packet is shorter than its 3 fixed bytes.
int OBEXResponseError(std::span<const std::uint8_t> packet);

} // namespace vyr
