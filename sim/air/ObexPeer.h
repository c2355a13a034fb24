// The Object Push server that runs inside every simulated phone. It works on a byte
// stream: received bytes go in (in any fragmentation), whole response packets come
// out, and it says when the phone drops the link. It knows nothing of transports or
// time; whoever carries the bytes honours ResponseDelayMs() and CloseLink().
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/air/Air.h"

namespace air {

class ObexPeer {
public:
    // Largest object a phone keeps; a bigger one is refused with "Requested entity too large".
    static constexpr size_t kMaxObjectBytes = 64u << 20;
    // Longest file name (UTF-8 bytes) an object is stored under.
    static constexpr size_t kMaxFileNameBytes = 120;

    ObexPeer(const ObexBehaviour& behaviour, std::string inboxDir);

    // Takes received bytes; returns the responses now due, each one whole packet, in order.
    std::vector<std::vector<uint8_t>> Feed(const uint8_t* data, size_t size);

    // The phone drops the link: the carrier closes it once the responses already due are out.
    bool CloseLink() const { return close_; }
    // How late the responses of the last Feed go out: a phone may think longer over a whole object.
    int ResponseDelayMs() const { return behaviour_.delayMs + (answeredFinalPut_ ? behaviour_.finalDelayMs : 0); }
    bool Connected() const { return connected_; }
    // Request packets taken so far (whole packets only).
    size_t PacketsReceived() const { return packets_; }
    // Full paths of the objects stored so far, in order.
    const std::vector<std::string>& Stored() const { return stored_; }
    // The nonce of the last authentication challenge sent (all zero before any).
    const std::array<uint8_t, 16>& Nonce() const { return nonce_; }

    // The file name an object called `name` (UTF-8, as the client sent it) is stored under:
    // no path separators, no leading dots, no control characters, bounded length.
    static std::string SafeFileName(const std::string& name);

private:
    struct Header {
        uint8_t id;
        const uint8_t* data; // value bytes (after the length field for classes 0x00/0x40)
        size_t size;         // value size
    };
    std::vector<uint8_t> Handle(const uint8_t* p, size_t n);
    std::vector<uint8_t> Connect(const uint8_t* p, size_t n);
    std::vector<uint8_t> Put(const uint8_t* p, size_t n, bool final);
    std::vector<uint8_t> Response(uint8_t code, const std::vector<uint8_t>& headers = {}) const;
    std::vector<uint8_t> Challenge();
    static bool ParseHeaders(const uint8_t* p, size_t n, size_t offset, std::vector<Header>& out);
    bool Store(uint8_t& code);
    void ResetPut();

    ObexBehaviour behaviour_;
    bool answeredFinalPut_ = false;
    std::string inbox_;
    std::vector<uint8_t> rx_;
    bool close_ = false;
    bool connected_ = false;
    size_t packets_ = 0;
    size_t putPackets_ = 0;
    size_t clientMax_ = 255;
    bool challenged_ = false;
    std::array<uint8_t, 16> nonce_{};
    std::vector<std::string> stored_;

    // The object being received.
    bool putActive_ = false;
    bool sawBody_ = false;
    std::string putName_;
    std::vector<uint8_t> putData_;
};

} // namespace air
