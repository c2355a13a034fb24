#include "sim/air/ObexPeer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <unistd.h>

#include "sim/air/Md5.h"
#include "vcl/SysUtils.h"

namespace air {

namespace {

// Request opcodes (final bit included where a request is always final).
constexpr uint8_t kConnect = 0x80, kDisconnect = 0x81, kPut = 0x02, kPutFinal = 0x82, kGet = 0x03, kGetFinal = 0x83,
                  kSetPath = 0x05, kSetPathFinal = 0x85, kAbort = 0xFF;
// Response codes, final bit set.
constexpr uint8_t kContinue = 0x90, kOk = 0xA0, kBadRequest = 0xC0, kUnauthorized = 0xC1, kForbidden = 0xC3,
                  kTooLarge = 0xCD, kInternalError = 0xD0, kNotImplemented = 0xD1;
// Header identifiers.
constexpr uint8_t kHdrName = 0x01, kHdrLength = 0xC3, kHdrBody = 0x48, kHdrEndOfBody = 0x49, kHdrAuthChallenge = 0x4D,
                  kHdrAuthResponse = 0x4E;

constexpr uint8_t kObexVersion = 0x10;

std::array<uint8_t, 16> Digest(const std::array<uint8_t, 16>& nonce, const std::string& password) {
    Md5 md5;
    md5.Update(nonce.data(), nonce.size());
    md5.Update(":");
    md5.Update(password);
    return md5.Final();
}

// Tag-length-value triplets inside the authentication headers. False when they overrun.
template <typename F> bool WalkTriplets(const uint8_t* p, size_t n, F onTag) {
    size_t i = 0;
    while (i < n) {
        if (n - i < 2)
            return false;
        uint8_t tag = p[i], len = p[i + 1];
        if (n - i - 2 < len)
            return false;
        onTag(tag, p + i + 2, static_cast<size_t>(len));
        i += 2u + len;
    }
    return true;
}

} // namespace

ObexPeer::ObexPeer(const ObexBehaviour& behaviour, std::string inboxDir)
    : behaviour_(behaviour), inbox_(std::move(inboxDir)) {
    if (behaviour_.maxPacket < 255)
        behaviour_.maxPacket = 255;
}

std::vector<std::vector<uint8_t>> ObexPeer::Feed(const uint8_t* data, size_t size) {
    std::vector<std::vector<uint8_t>> out;
    if (close_ || !data || size == 0)
        return out;
    rx_.insert(rx_.end(), data, data + size);
    while (!close_ && rx_.size() >= 3) {
        size_t len = static_cast<size_t>(rx_[1]) << 8 | rx_[2];
        if (len < 3) {
            // No way to find the next packet boundary: answer and drop the link.
            ++packets_;
            ResetPut();
            if (behaviour_.mode != ObexMode::Silent &&
                !(behaviour_.mode == ObexMode::SilentAfter && packets_ > static_cast<size_t>(behaviour_.after)))
                out.push_back(Response(kBadRequest));
            close_ = true;
            rx_.clear();
            break;
        }
        if (rx_.size() < len)
            break;
        std::vector<uint8_t> packet(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(len));
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(len));
        auto response = Handle(packet.data(), packet.size());
        if (!response.empty())
            out.push_back(std::move(response));
    }
    if (close_)
        rx_.clear();
    return out;
}

std::vector<uint8_t> ObexPeer::Response(uint8_t code, const std::vector<uint8_t>& headers) const {
    std::vector<uint8_t> r;
    r.reserve(3 + headers.size());
    r.push_back(code);
    r.push_back(0);
    r.push_back(3);
    for (uint8_t b : headers)
        r.push_back(b);
    if (r.size() > clientMax_ || r.size() > 0xFFFF)
        r.resize(3); // never more than the client said it can take
    r[1] = static_cast<uint8_t>(r.size() >> 8);
    r[2] = static_cast<uint8_t>(r.size());
    return r;
}

bool ObexPeer::ParseHeaders(const uint8_t* p, size_t n, size_t offset, std::vector<Header>& out) {
    size_t i = offset;
    while (i < n) {
        uint8_t id = p[i];
        switch (id & 0xC0) {
        case 0x00:
        case 0x40: {
            if (n - i < 3)
                return false;
            size_t len = static_cast<size_t>(p[i + 1]) << 8 | p[i + 2];
            if (len < 3 || len > n - i)
                return false;
            out.push_back({id, p + i + 3, len - 3});
            i += len;
            break;
        }
        case 0x80:
            if (n - i < 2)
                return false;
            out.push_back({id, p + i + 1, 1});
            i += 2;
            break;
        default:
            if (n - i < 5)
                return false;
            out.push_back({id, p + i + 1, 4});
            i += 5;
            break;
        }
    }
    return true;
}

std::vector<uint8_t> ObexPeer::Handle(const uint8_t* p, size_t n) {
    ++packets_;
    answeredFinalPut_ = n > 0 && p[0] == kPutFinal;
    if (behaviour_.mode == ObexMode::Silent)
        return {};
    if (behaviour_.mode == ObexMode::SilentAfter && packets_ > static_cast<size_t>(behaviour_.after))
        return {};
    // A connected client promised to stay within our maximum.
    if (connected_ && n > behaviour_.maxPacket) {
        ResetPut();
        return Response(kBadRequest);
    }
    const uint8_t op = p[0];
    if (op != kPut && op != kPutFinal)
        ResetPut(); // any other request ends an object in progress
    switch (op) {
    case kConnect:
        return Connect(p, n);
    case kDisconnect: {
        connected_ = false;
        return Response(kOk);
    }
    case kAbort:
        return Response(kOk);
    case kPut:
    case kPutFinal:
        return Put(p, n, op == kPutFinal);
    case kGet:
    case kGetFinal:
        // An inbox offers nothing to fetch, not even a default card.
        return Response(kForbidden);
    case kSetPath:
    case kSetPathFinal:
        if (n < 5)
            return Response(kBadRequest);
        return Response(kForbidden);
    case kConnect & 0x7F:
    case kDisconnect & 0x7F:
    case kAbort & 0x7F:
        // Known requests that must always carry the final bit.
        return Response(kBadRequest);
    default:
        return Response(kNotImplemented);
    }
}

std::vector<uint8_t> ObexPeer::Challenge() {
    std::random_device rd;
    for (auto& b : nonce_)
        b = static_cast<uint8_t>(rd());
    challenged_ = true;
    std::vector<uint8_t> h;
    h.reserve(3 + 18);
    for (uint8_t b : {kHdrAuthChallenge, uint8_t(0), uint8_t(3 + 18), uint8_t(0x00), uint8_t(16)})
        h.push_back(b);
    for (uint8_t b : nonce_)
        h.push_back(b);
    return h;
}

std::vector<uint8_t> ObexPeer::Connect(const uint8_t* p, size_t n) {
    if (n < 7)
        return Response(kBadRequest);
    const size_t clientMax = static_cast<size_t>(p[5]) << 8 | p[6];
    if (clientMax < 255)
        return Response(kBadRequest);
    std::vector<Header> headers;
    if (!ParseHeaders(p, n, 7, headers))
        return Response(kBadRequest);
    clientMax_ = clientMax;
    connected_ = false;
    if (behaviour_.mode == ObexMode::RefuseConnect)
        return Response(behaviour_.refuseCode);

    std::vector<uint8_t> extra;
    if (behaviour_.mode == ObexMode::Authenticate) {
        bool ok = false;
        for (const auto& h : headers) {
            if (h.id != kHdrAuthResponse || !challenged_)
                continue;
            bool haveDigest = false, nonceOk = true;
            std::array<uint8_t, 16> digest{};
            bool wellFormed = WalkTriplets(h.data, h.size, [&](uint8_t tag, const uint8_t* v, size_t len) {
                if (tag == 0x00 && len == 16) {
                    std::memcpy(digest.data(), v, 16);
                    haveDigest = true;
                } else if (tag == 0x02) {
                    nonceOk = len == 16 && std::memcmp(v, nonce_.data(), 16) == 0;
                }
            });
            ok = wellFormed && haveDigest && nonceOk && digest == Digest(nonce_, behaviour_.password);
        }
        if (!ok)
            return Response(kUnauthorized, Challenge());
        challenged_ = false; // a nonce is good for one answer
        // The client may want the phone to prove itself as well.
        for (const auto& h : headers) {
            if (h.id != kHdrAuthChallenge)
                continue;
            std::array<uint8_t, 16> theirs{};
            bool haveNonce = false;
            WalkTriplets(h.data, h.size, [&](uint8_t tag, const uint8_t* v, size_t len) {
                if (tag == 0x00 && len == 16) {
                    std::memcpy(theirs.data(), v, 16);
                    haveNonce = true;
                }
            });
            if (!haveNonce)
                return Response(kBadRequest);
            auto d = Digest(theirs, behaviour_.password);
            extra.clear();
            extra.reserve(3 + 36);
            for (uint8_t b : {kHdrAuthResponse, uint8_t(0), uint8_t(3 + 36), uint8_t(0x00), uint8_t(16)})
                extra.push_back(b);
            for (uint8_t b : d)
                extra.push_back(b);
            extra.push_back(0x02);
            extra.push_back(16);
            for (uint8_t b : theirs)
                extra.push_back(b);
            break;
        }
    }
    connected_ = true;
    std::vector<uint8_t> body;
    body.reserve(4 + extra.size());
    body.push_back(kObexVersion);
    body.push_back(0x00);
    body.push_back(static_cast<uint8_t>(behaviour_.maxPacket >> 8));
    body.push_back(static_cast<uint8_t>(behaviour_.maxPacket));
    for (uint8_t b : extra)
        body.push_back(b);
    return Response(kOk, body);
}

void ObexPeer::ResetPut() {
    putActive_ = false;
    sawBody_ = false;
    putName_.clear();
    putData_.clear();
    putData_.shrink_to_fit();
}

std::vector<uint8_t> ObexPeer::Put(const uint8_t* p, size_t n, bool final) {
    if (!connected_) {
        ResetPut();
        return Response(behaviour_.mode == ObexMode::Authenticate ? kUnauthorized : kBadRequest);
    }
    ++putPackets_;
    if (behaviour_.mode == ObexMode::DropMidPut && putPackets_ > static_cast<size_t>(behaviour_.after)) {
        ResetPut();
        close_ = true;
        return {};
    }
    std::vector<Header> headers;
    if (!ParseHeaders(p, n, 3, headers)) {
        ResetPut();
        return Response(kBadRequest);
    }
    if (!putActive_) {
        putActive_ = true;
        if (behaviour_.mode == ObexMode::Refuse) {
            ResetPut();
            return Response(behaviour_.refuseCode);
        }
    }
    for (const auto& h : headers) {
        switch (h.id) {
        case kHdrName: {
            if (h.size % 2 != 0) {
                ResetPut();
                return Response(kBadRequest);
            }
            std::u16string name;
            for (size_t i = 0; i + 1 < h.size; i += 2) {
                char16_t c = static_cast<char16_t>(h.data[i] << 8 | h.data[i + 1]);
                if (c == 0)
                    break;
                name += c;
            }
            putName_ = vcl::Utf16ToUtf8(name);
            break;
        }
        case kHdrLength: {
            uint32_t len = static_cast<uint32_t>(h.data[0]) << 24 | static_cast<uint32_t>(h.data[1]) << 16 |
                           static_cast<uint32_t>(h.data[2]) << 8 | h.data[3];
            if (len > kMaxObjectBytes) {
                ResetPut();
                return Response(kTooLarge);
            }
            break;
        }
        case kHdrBody:
        case kHdrEndOfBody:
            sawBody_ = true;
            if (putData_.size() + h.size > kMaxObjectBytes) {
                ResetPut();
                return Response(kTooLarge);
            }
            putData_.insert(putData_.end(), h.data, h.data + h.size);
            break;
        default:
            break; // Type, Connection Id and the rest change nothing for an inbox
        }
    }
    if (!final)
        return Response(kContinue);
    if (!sawBody_) {
        // A final PUT without any body asks to delete: nobody deletes from a phone's inbox.
        ResetPut();
        return Response(kForbidden);
    }
    uint8_t code = kOk;
    Store(code);
    ResetPut();
    // Many servers end the link as soon as the object is theirs, not waiting for DISCONNECT.
    if (code == kOk && behaviour_.closeAfterFinal)
        close_ = true;
    return Response(code);
}

std::string ObexPeer::SafeFileName(const std::string& name) {
    std::string s;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':')
            s += '_';
        else
            s += static_cast<char>(c);
    }
    // No hidden files, no "." or "..", no names that end in dots or spaces.
    size_t b = s.find_first_not_of(". ");
    s = b == std::string::npos ? std::string() : s.substr(b);
    while (!s.empty() && (s.back() == '.' || s.back() == ' '))
        s.pop_back();
    if (s.empty())
        s = "received";
    if (s.size() > kMaxFileNameBytes) {
        std::string ext;
        size_t dot = s.rfind('.');
        if (dot != std::string::npos && s.size() - dot <= 16)
            ext = s.substr(dot);
        size_t keep = kMaxFileNameBytes - ext.size();
        while (keep > 0 && (static_cast<unsigned char>(s[keep]) & 0xC0) == 0x80)
            --keep;
        s = s.substr(0, keep) + ext;
    }
    return s;
}

bool ObexPeer::Store(uint8_t& code) {
    std::error_code ec;
    std::filesystem::create_directories(inbox_, ec);
    if (ec) {
        code = kInternalError;
        return false;
    }
    const std::string safe = SafeFileName(putName_);
    std::string stem = safe, ext;
    if (size_t dot = safe.rfind('.'); dot != std::string::npos && dot > 0) {
        stem = safe.substr(0, dot);
        ext = safe.substr(dot);
    }
    for (int i = 0; i < 10000; ++i) {
        std::string path = inbox_ + "/" + (i == 0 ? safe : stem + " (" + std::to_string(i) + ")" + ext);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue; // never overwrite what an earlier push left
            code = kInternalError;
            return false;
        }
        size_t done = 0;
        bool ok = true;
        while (done < putData_.size()) {
            ssize_t w = ::write(fd, putData_.data() + done, putData_.size() - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += static_cast<size_t>(w);
        }
        if (::close(fd) != 0)
            ok = false;
        if (!ok) {
            ::unlink(path.c_str());
            code = kInternalError;
            return false;
        }
        stored_.push_back(path);
        code = kOk;
        return true;
    }
    code = kInternalError;
    return false;
}

} // namespace air
