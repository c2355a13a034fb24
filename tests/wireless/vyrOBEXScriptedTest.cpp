// The OBEX client against a peer scripted byte by byte by the test (the far end of a socketpair).
#include "SocketRoad.h"
#include "vyrErrors.h"
#include "vyrOBEX.h"
#include "sim/win32/Testing.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vyr;
using win::test::PumpUntil;

namespace {

using Bytes = std::vector<std::uint8_t>;

class ObexScripted : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        roads_ = std::make_unique<tavtest::SocketRoads>([this] {
            int sv[2];
            if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
                return -1;
            if (peer_ >= 0)
                ::close(peer_);
            peer_ = sv[1];
            return sv[0];
        });
        client_.SetTransport(ctSerial);
        client_.OnOBEXConnect = [this](vcl::TObject*, int e) { connectError_ = e; };
        client_.OnOBEXProgress = [this](vcl::TObject*, std::uint32_t p, std::uint32_t s) {
            progress_.emplace_back(p, s);
        };
        client_.OnOBEXGetComplete = [this](vcl::TObject*, int e, vcl::TStream* s) {
            getError_ = e;
            gotStream_ = s != nullptr;
            got_.clear();
            if (s) {
                EXPECT_EQ(s->Position(), 0);
                got_.resize(static_cast<std::size_t>(s->Size()));
                s->ReadBuffer(got_.data(), s->Size());
            }
        };
        ASSERT_EQ(client_.Connect(), 0);
        ASSERT_TRUE(PumpUntil([&] { return client_.IsConnected(); }, 3000));
    }
    void TearDown() override {
        client_.Disconnect();
        roads_.reset();
        if (peer_ >= 0)
            ::close(peer_);
        win::test::Reset();
    }
    // The next request the client wrote (whole, by its length field).
    Bytes Request() {
        Bytes out;
        auto take = [&](std::size_t n) {
            while (out.size() < n) {
                pollfd p{peer_, POLLIN, 0};
                if (::poll(&p, 1, 10) <= 0) {
                    win::test::PumpMessages();
                    continue;
                }
                std::uint8_t b;
                if (::recv(peer_, &b, 1, 0) != 1)
                    return false;
                out.push_back(b);
            }
            return true;
        };
        if (!take(3) || !take(static_cast<std::size_t>(out[1] << 8 | out[2])))
            return {};
        return out;
    }
    void Reply(const Bytes& bytes) { ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
    void Connected(const Bytes& reply) {
        ASSERT_EQ(client_.OBEXConnect(), 0);
        ASSERT_EQ(Request()[0], 0x80);
        Reply(reply);
        ASSERT_TRUE(PumpUntil([&] { return connectError_ != -1; }, 3000));
    }
    static Bytes Packet(std::uint8_t code, const Bytes& headers) {
        Bytes p = {code, 0, 0};
        p.insert(p.end(), headers.begin(), headers.end());
        p[1] = static_cast<std::uint8_t>(p.size() >> 8);
        p[2] = static_cast<std::uint8_t>(p.size());
        return p;
    }
    static Bytes Body(std::uint8_t id, const std::string& data) {
        Bytes h = {id, static_cast<std::uint8_t>((data.size() + 3) >> 8), static_cast<std::uint8_t>(data.size() + 3)};
        h.insert(h.end(), data.begin(), data.end());
        return h;
    }

    std::unique_ptr<tavtest::SocketRoads> roads_;
    int peer_ = -1;
    int connectError_ = -1, getError_ = -1;
    bool gotStream_ = false;
    std::string got_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress_;
    TvyrOPPClient client_; // last: destroyed first, while the fields it reports to still live
};

} // namespace

TEST_F(ObexScripted, ConnectRepliesWithoutASaneMaximumCountAs255) {
    // 0xA0 announcing 10 bytes, with a Connection Id: the maximum is raised, the id kept.
    Connected({0xA0, 0x00, 0x0C, 0x10, 0x00, 0x00, 0x0A, 0xCB, 0x00, 0x00, 0x00, 0x2A});
    EXPECT_EQ(connectError_, 0);
    EXPECT_EQ(client_.PeerMaxPacketSize(), 255);
    EXPECT_EQ(client_.ConnectionId(), 42u);

    // A put then sends bodies of 244 bytes and carries the Connection Id first.
    vcl::TMemoryStream s;
    std::string data(300, 'd');
    s.WriteBuffer(data.data(), 300);
    ASSERT_EQ(client_.Put(u"a.txt", &s, u""), 0);
    Bytes first = Request();
    ASSERT_GE(first.size(), 8u);
    EXPECT_EQ(first[3], 0xCB);
    Reply({0x90, 0x00, 0x03});
    Bytes chunk = Request();
    EXPECT_EQ(chunk.size(), 255u);
    client_.Disconnect();

    // A bare 3-byte success still connects, with 255.
    ASSERT_EQ(client_.Connect(), 0);
    ASSERT_TRUE(PumpUntil([&] { return client_.IsConnected(); }, 3000));
    connectError_ = -1;
    Connected({0xA0, 0x00, 0x03});
    EXPECT_EQ(connectError_, 0);
    EXPECT_EQ(client_.PeerMaxPacketSize(), 255);
    EXPECT_EQ(client_.ConnectionId(), 0u);
}

TEST_F(ObexScripted, ConnectRepliesAreReadAlikeWhateverTheSuccessCode) {
    // A Connection Id header cut short by the packet's end: the reply is malformed, so the
    // connect fails with 199 instead of connecting with a made-up id of 0.
    Connected({0xA0, 0x00, 0x0B, 0x10, 0x00, 0x10, 0x00, 0xCB, 0x00, 0x00, 0x00});
    EXPECT_EQ(connectError_, VYR_OBEX_UNKNOWN);
    EXPECT_EQ(client_.SessionState(), ssNone);
    EXPECT_EQ(client_.ConnectionId(), 0u);

    // 0xA2 is a success like 0xA0: its maximum and Connection Id are taken.
    connectError_ = -1;
    Connected({0xA2, 0x00, 0x0C, 0x10, 0x00, 0x20, 0x00, 0xCB, 0x00, 0x00, 0x00, 0x07});
    EXPECT_EQ(connectError_, 0);
    EXPECT_EQ(client_.SessionState(), ssConnected);
    EXPECT_EQ(client_.PeerMaxPacketSize(), 0x2000);
    EXPECT_EQ(client_.ConnectionId(), 7u);
}

TEST_F(ObexScripted, GetReassemblesSplitPacketsAndSizesProgressByLength) {
    Connected({0xA0, 0x00, 0x07, 0x10, 0x00, 0x10, 0x00});
    ASSERT_EQ(client_.Get(u"v.vcf", u""), 0);
    ASSERT_EQ(Request()[0], 0x83);
    // Length 1000 (a lie: only 7 bytes come), body split across two writes.
    Bytes reply = Packet(0x90, [&] {
        Bytes h = {0xC3, 0x00, 0x00, 0x03, 0xE8};
        Bytes b = Body(0x48, "abcd");
        h.insert(h.end(), b.begin(), b.end());
        return h;
    }());
    Reply(Bytes(reply.begin(), reply.begin() + 5));
    win::test::PumpUntilIdle(20, 500);
    EXPECT_TRUE(progress_.empty());
    Reply(Bytes(reply.begin() + 5, reply.end()));
    ASSERT_EQ(Request()[0], 0x83); // the continuation
    EXPECT_EQ(progress_, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{4, 1000}}));
    Reply(Packet(0xA0, Body(0x49, "efg")));
    ASSERT_TRUE(PumpUntil([&] { return getError_ != -1; }, 3000));
    EXPECT_EQ(getError_, 0);
    EXPECT_EQ(got_, "abcdefg"); // what came, not 1000 bytes of padding
    EXPECT_EQ(progress_.back(), (std::pair<std::uint32_t, std::uint32_t>{7, 1000}));

    // Without Length, Size follows Position; a refusal gives no stream.
    progress_.clear();
    getError_ = -1;
    ASSERT_EQ(client_.Get(u"w.vcf", u""), 0);
    Request();
    Reply(Packet(0xC4, Body(0x49, "xy")));
    ASSERT_TRUE(PumpUntil([&] { return getError_ != -1; }, 3000));
    EXPECT_EQ(getError_, VYR_OBEX_NOT_FOUND);
    EXPECT_FALSE(gotStream_);
    EXPECT_EQ(progress_, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{2, 2}}));

    // A response whose length field is below 3 ends the get with 199.
    getError_ = -1;
    ASSERT_EQ(client_.Get(u"z.vcf", u""), 0);
    Request();
    Reply({0xA0, 0x00, 0x01});
    ASSERT_TRUE(PumpUntil([&] { return getError_ != -1; }, 3000));
    EXPECT_EQ(getError_, VYR_OBEX_UNKNOWN);

    // A peer that never answers: Disconnect ends the get with 47 and no stream.
    getError_ = -1;
    ASSERT_EQ(client_.Get(u"never.vcf", u""), 0);
    Request();
    client_.Disconnect();
    EXPECT_EQ(getError_, VYR_CONNECTION_TERMINATED);
    EXPECT_FALSE(gotStream_);
}

TEST_F(ObexScripted, DisconnectDuringAnAbortStillEndsThePut) {
    Connected({0xA0, 0x00, 0x07, 0x10, 0x00, 0x10, 0x00});
    int putError = -1;
    client_.OnOBEXPutComplete = [&](vcl::TObject*, int e) { putError = e; };
    vcl::TMemoryStream s;
    s.WriteBuffer("0123456789", 10);
    ASSERT_EQ(client_.Put(u"a.txt", &s, u""), 0);
    Request();
    EXPECT_EQ(client_.Abort(), 0);
    Reply({0x90, 0x00, 0x03});
    EXPECT_EQ(Request()[0], 0xFF); // the ABORT
    EXPECT_EQ(client_.Operation(), opAbort);
    EXPECT_EQ(client_.Abort(), VYR_OBEX_OPERATION_IN_PROGRESS);
    client_.Disconnect();
    EXPECT_EQ(putError, VYR_CONNECTION_TERMINATED);
}
