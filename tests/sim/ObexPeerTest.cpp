// The phones' Object Push server, driven by hand-written client packets.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/air/Md5.h"
#include "sim/air/ObexLink.h"
#include "sim/air/ObexPeer.h"

using namespace air;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using CodeList = std::vector<uint8_t>;

namespace {

Bytes Packet(uint8_t op, const Bytes& body) {
    Bytes p{op, 0, 0};
    p.insert(p.end(), body.begin(), body.end());
    p[1] = uint8_t(p.size() >> 8);
    p[2] = uint8_t(p.size());
    return p;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Var(uint8_t id, const Bytes& value) {
    Bytes h{id, uint8_t((value.size() + 3) >> 8), uint8_t(value.size() + 3)};
    h.insert(h.end(), value.begin(), value.end());
    return h;
}

Bytes Name(const std::u16string& n) {
    Bytes v;
    for (char16_t c : n)
        v.push_back(uint8_t(c >> 8)), v.push_back(uint8_t(c));
    v.push_back(0), v.push_back(0);
    return Var(0x01, v);
}

Bytes Length(uint32_t n) {
    return {0xC3, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
}
Bytes Body(const std::string& s) {
    return Var(0x48, Bytes(s.begin(), s.end()));
}
Bytes EndOfBody(const std::string& s = {}) {
    return Var(0x49, Bytes(s.begin(), s.end()));
}
Bytes ConnectReq(uint16_t max = 4096, const Bytes& headers = {}) {
    return Packet(0x80, Cat({{0x10, 0x00, uint8_t(max >> 8), uint8_t(max)}, headers}));
}

class ObexPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The inbox sits in a folder of its own, so an escape would land somewhere only this test sees.
        root = fs::temp_directory_path() / ("tavlin-obex-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        inbox = root / "inbox";
    }
    void TearDown() override { fs::remove_all(root); }

    // Feeds the bytes in pieces of `step` and returns the response codes in order.
    static std::vector<uint8_t> Codes(ObexPeer& peer, const Bytes& in, size_t step = 0) {
        std::vector<uint8_t> codes;
        if (step == 0)
            step = in.empty() ? 1 : in.size();
        for (size_t i = 0; i < in.size(); i += step)
            for (const auto& r : peer.Feed(in.data() + i, std::min(step, in.size() - i))) {
                EXPECT_GE(r.size(), 3u);
                EXPECT_EQ(size_t(r[1] << 8 | r[2]), r.size());
                codes.push_back(r[0]);
            }
        return codes;
    }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        if (fs::exists(inbox))
            for (const auto& e : fs::directory_iterator(inbox))
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root;
    fs::path inbox;
};

} // namespace

TEST(Md5, KnownDigests) {
    auto hex = [](const std::array<uint8_t, 16>& d) {
        std::string s;
        for (uint8_t b : d)
            s += "0123456789abcdef"[b >> 4], s += "0123456789abcdef"[b & 15];
        return s;
    };
    EXPECT_EQ(hex(Md5::Of("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hex(Md5::Of("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(Md5::Of("1234567890123456789012345678901234567890123456789012345678901234567890123456789"
                          "0")),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST_F(ObexPeerTest, ConnectAndPutInOneAndInManyPackets) {
    ObexBehaviour b;
    b.maxPacket = 0x2000;
    ObexPeer peer(b, inbox.string());
    auto r = peer.Feed(ConnectReq().data(), ConnectReq().size());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], (Bytes{0xA0, 0x00, 0x07, 0x10, 0x00, 0x20, 0x00}));
    EXPECT_TRUE(peer.Connected());

    // Whole object in one final packet.
    auto one = Packet(0x82, Cat({Name(u"note.txt"), Length(5), EndOfBody("hello")}));
    EXPECT_EQ(Codes(peer, one), CodeList{0xA0});

    // The same name again, in many packets, fed one byte at a time.
    std::string big(3000, 'x');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char('a' + i % 26);
    auto many = Cat({Packet(0x02, Cat({Length(3000), Name(u"note.txt")})), Packet(0x02, Body(big.substr(0, 1000))),
                     Packet(0x02, Body(big.substr(1000, 1000))), Packet(0x02, Body(big.substr(2000))),
                     Packet(0x82, EndOfBody())});
    EXPECT_EQ(Codes(peer, many, 1), (CodeList{0x90, 0x90, 0x90, 0x90, 0xA0}));
    // A name with characters beyond Latin, and two packets arriving in one chunk.
    auto two = Cat({Packet(0x02, Name(u"\u00e9t\u00e9 \u0416.vcf")), Packet(0x82, EndOfBody("BEGIN:VCARD"))});
    EXPECT_EQ(Codes(peer, two), (CodeList{0x90, 0xA0}));
    EXPECT_EQ(Codes(peer, Packet(0x81, {})), CodeList{0xA0});
    EXPECT_FALSE(peer.Connected());

    EXPECT_EQ(Files(), (std::vector<std::string>{"note (1).txt", "note.txt", "\u00e9t\u00e9 \u0416.vcf"}));
    EXPECT_EQ(Read(inbox / "note.txt"), "hello");
    EXPECT_EQ(Read(inbox / "note (1).txt"), big);
    EXPECT_EQ(peer.Stored().size(), 3u);
    EXPECT_FALSE(peer.CloseLink());
}

TEST_F(ObexPeerTest, RefusalsAndRefusedConnection) {
    for (uint8_t code : {uint8_t(0xC3), uint8_t(0xC0)}) {
        ObexBehaviour b;
        b.mode = ObexMode::Refuse;
        b.refuseCode = code;
        ObexPeer peer(b, inbox.string());
        auto put =
            Cat({Packet(0x02, Cat({Name(u"a.jpg"), Length(3)})), Packet(0x02, Body("abc")), Packet(0x82, EndOfBody())});
        EXPECT_EQ(Codes(peer, Cat({ConnectReq(), Packet(0x02, Cat({Name(u"a.jpg"), Length(3)}))})),
                  (CodeList{0xA0, code}));
        EXPECT_EQ(Codes(peer, Packet(0x82, Cat({Name(u"b.jpg"), EndOfBody("x")}))), CodeList{code});
    }
    EXPECT_TRUE(Files().empty());

    ObexBehaviour b;
    b.mode = ObexMode::RefuseConnect;
    ObexPeer peer(b, inbox.string());
    EXPECT_EQ(Codes(peer, ConnectReq()), CodeList{0xC3});
    EXPECT_FALSE(peer.Connected());
    EXPECT_EQ(Codes(peer, Packet(0x82, Cat({Name(u"a"), EndOfBody("x")}))), CodeList{0xC0});
    EXPECT_TRUE(Files().empty());
}

TEST_F(ObexPeerTest, SilenceAndDroppedLinks) {
    ObexBehaviour silent;
    silent.mode = ObexMode::Silent;
    ObexPeer s(silent, inbox.string());
    EXPECT_TRUE(Codes(s, Cat({ConnectReq(), Packet(0x82, Cat({Name(u"a"), EndOfBody("x")}))})).empty());
    EXPECT_EQ(s.PacketsReceived(), 2u);
    EXPECT_FALSE(s.CloseLink());

    ObexBehaviour after;
    after.mode = ObexMode::SilentAfter;
    after.after = 2;
    ObexPeer a(after, inbox.string());
    EXPECT_EQ(Codes(a, Cat({ConnectReq(), Packet(0x02, Cat({Name(u"a.txt"), Length(2)})), Packet(0x02, Body("ab")),
                            Packet(0x82, EndOfBody())})),
              (CodeList{0xA0, 0x90}));

    ObexBehaviour drop;
    drop.mode = ObexMode::DropMidPut;
    drop.after = 1;
    ObexPeer d(drop, inbox.string());
    EXPECT_EQ(Codes(d, Cat({ConnectReq(), Packet(0x02, Cat({Name(u"a.txt"), Length(2)})), Packet(0x02, Body("ab")),
                            Packet(0x82, EndOfBody())})),
              (CodeList{0xA0, 0x90}));
    EXPECT_TRUE(d.CloseLink());
    EXPECT_TRUE(Codes(d, ConnectReq()).empty()); // a dropped link hears nothing more
    EXPECT_TRUE(Files().empty());                // and keeps no half object

    // A phone that hangs up once an object is stored: not after a refused or deleting final PUT.
    ObexBehaviour quick;
    quick.closeAfterFinal = true;
    ObexPeer q(quick, inbox.string());
    EXPECT_EQ(Codes(q, Cat({ConnectReq(), Packet(0x82, Name(u"gone.txt")),
                            Packet(0x02, Cat({Name(u"a.txt"), Length(2)})), Packet(0x02, Body("ab"))})),
              (CodeList{0xA0, 0xC3, 0x90, 0x90}));
    EXPECT_FALSE(q.CloseLink());
    EXPECT_EQ(Codes(q, Packet(0x82, EndOfBody())), (CodeList{0xA0}));
    EXPECT_TRUE(q.CloseLink());
    EXPECT_EQ(Files().size(), 1u);
}

TEST_F(ObexPeerTest, AuthenticationChallengeAndResponse) {
    ObexBehaviour b;
    b.mode = ObexMode::Authenticate;
    b.password = "secret";
    ObexPeer peer(b, inbox.string());

    EXPECT_EQ(Codes(peer, Packet(0x82, Cat({Name(u"a"), EndOfBody("x")}))), CodeList{0xC1});
    auto r = peer.Feed(ConnectReq().data(), ConnectReq().size());
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].size(), 3u + 21u);
    EXPECT_EQ(r[0][0], 0xC1);
    EXPECT_EQ((Bytes{r[0][3], r[0][4], r[0][5], r[0][6], r[0][7]}), (Bytes{0x4D, 0x00, 0x15, 0x00, 0x10}));
    std::array<uint8_t, 16> nonce;
    std::copy(r[0].begin() + 8, r[0].end(), nonce.begin());
    EXPECT_EQ(nonce, peer.Nonce());

    auto answer = [&](const std::string& password, const Bytes& more = {}) {
        Md5 m;
        m.Update(nonce.data(), 16);
        m.Update(":");
        m.Update(password);
        auto d = m.Final();
        Bytes v{0x00, 0x10};
        v.insert(v.end(), d.begin(), d.end());
        v.insert(v.end(), more.begin(), more.end());
        return ConnectReq(4096, Var(0x4E, v));
    };
    r = peer.Feed(answer("wrong").data(), answer("wrong").size());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][0], 0xC1);
    EXPECT_NE(nonce, peer.Nonce()); // a fresh challenge
    std::copy(r[0].begin() + 8, r[0].end(), nonce.begin());

    // A right digest, with the client challenging the phone in turn.
    Bytes theirs(16, 0x5A);
    Bytes challenge{0x00, 0x10};
    challenge.insert(challenge.end(), theirs.begin(), theirs.end());
    auto req = answer("secret");
    req = Cat({req, Var(0x4D, challenge)});
    req[1] = uint8_t(req.size() >> 8), req[2] = uint8_t(req.size());
    r = peer.Feed(req.data(), req.size());
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0][0], 0xA0);
    ASSERT_EQ(r[0].size(), 7u + 39u);
    EXPECT_EQ(r[0][7], 0x4E);
    Md5 m;
    m.Update(theirs.data(), 16);
    m.Update(":secret");
    auto expect = m.Final();
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), r[0].begin() + 12));
    EXPECT_TRUE(peer.Connected());
    EXPECT_EQ(Codes(peer, Packet(0x82, Cat({Name(u"a.txt"), EndOfBody("x")}))), CodeList{0xA0});

    // The nonce served once: replaying the same answer is refused.
    ObexPeer other(b, inbox.string());
    Codes(other, ConnectReq());
    EXPECT_EQ(Codes(other, answer("secret")), CodeList{0xC1});
}

TEST_F(ObexPeerTest, HostileNamesStayInsideTheInbox) {
    ObexPeer peer(ObexBehaviour{}, inbox.string());
    Codes(peer, ConnectReq());
    const std::u16string names[] = {u"../x",
                                    u"a/b",
                                    u"..",
                                    u"",
                                    u"\\evil.txt",
                                    u"../../etc/passwd",
                                    u"/abs",
                                    u"c:\\win.ini",
                                    u"bell\u0007.txt",
                                    std::u16string(500, u'n') + u".jpeg"};
    for (const auto& n : names)
        EXPECT_EQ(Codes(peer, Packet(0x82, Cat({Name(n), EndOfBody("x")}))), CodeList{0xA0});
    // No Name header at all.
    EXPECT_EQ(Codes(peer, Packet(0x82, EndOfBody("y"))), CodeList{0xA0});
    ASSERT_EQ(peer.Stored().size(), std::size(names) + 1);
    for (const auto& path : peer.Stored()) {
        fs::path p(path);
        EXPECT_EQ(p.parent_path(), inbox) << path;
        EXPECT_LE(p.filename().string().size(), ObexPeer::kMaxFileNameBytes);
        EXPECT_NE(p.filename().string()[0], '.');
    }
    EXPECT_EQ(Files().size(), std::size(names) + 1);
    EXPECT_EQ(ObexPeer::SafeFileName("../x"), "_x");
    EXPECT_EQ(ObexPeer::SafeFileName("a/b"), "a_b");
    EXPECT_EQ(ObexPeer::SafeFileName(".."), "received");
    EXPECT_EQ(ObexPeer::SafeFileName(std::string(500, 'n') + ".jpeg").substr(115), ".jpeg");
    EXPECT_FALSE(fs::exists(inbox.parent_path() / "x"));
}

TEST_F(ObexPeerTest, MalformedAndUnexpectedRequests) {
    ObexPeer peer(ObexBehaviour{}, inbox.string());
    EXPECT_EQ(Codes(peer, Packet(0x80, {0x10, 0x00})), CodeList{0xC0});           // CONNECT too short
    EXPECT_EQ(Codes(peer, ConnectReq(100)), CodeList{0xC0});                      // client maximum below 255
    EXPECT_EQ(Codes(peer, ConnectReq(4096, {0x01, 0x00, 0x09})), CodeList{0xC0}); // header runs past the packet
    EXPECT_FALSE(peer.Connected());
    EXPECT_EQ(Codes(peer, ConnectReq()), CodeList{0xA0});

    EXPECT_EQ(Codes(peer, Packet(0x83, Name(u"x"))), CodeList{0xC3});               // GET
    EXPECT_EQ(Codes(peer, Packet(0x85, {0x02, 0x00})), CodeList{0xC3});             // SETPATH
    EXPECT_EQ(Codes(peer, Packet(0x85, {0x02})), CodeList{0xC0});                   // SETPATH too short
    EXPECT_EQ(Codes(peer, Packet(0x84, {})), CodeList{0xD1});                       // not an operation we know
    EXPECT_EQ(Codes(peer, Packet(0x00, {0x10, 0x00, 0x10, 0x00})), CodeList{0xC0}); // CONNECT without final bit
    EXPECT_EQ(Codes(peer, Packet(0x7F, {})), CodeList{0xC0});                       // ABORT without final bit
    EXPECT_EQ(Codes(peer, Packet(0x87, {})), CodeList{0xD1});
    EXPECT_EQ(Codes(peer, Packet(0x82, Name(u"gone.txt"))), CodeList{0xC3}); // delete

    // A broken header mid-object abandons the object.
    EXPECT_EQ(Codes(peer, Cat({Packet(0x02, Cat({Name(u"p.txt"), Length(4)})), Packet(0x02, Body("ab")),
                               Packet(0x02, {0x48, 0x00, 0x02}), Packet(0x82, EndOfBody("cd"))})),
              (CodeList{0x90, 0x90, 0xC0, 0xA0}));
    EXPECT_EQ(Read(inbox / "received"), "cd"); // the tail became an object of its own, nameless
    // Odd-length Name, a truncated 4-byte header, an announced size beyond the limit.
    EXPECT_EQ(Codes(peer, Packet(0x82, Var(0x01, {0x00, 0x61, 0x00}))), CodeList{0xC0});
    EXPECT_EQ(Codes(peer, Packet(0x82, {0xC3, 0x00, 0x00})), CodeList{0xC0});
    EXPECT_EQ(Codes(peer, Packet(0x02, Length(0xFFFFFFFF))), CodeList{0xCD});
    // ABORT mid-object: nothing is kept.
    EXPECT_EQ(
        Codes(peer, Cat({Packet(0x02, Cat({Name(u"q.txt"), Length(4)})), Packet(0x02, Body("ab")), Packet(0xFF, {})})),
        (CodeList{0x90, 0x90, 0xA0}));
    EXPECT_FALSE(fs::exists(inbox / "q.txt"));
    // Bigger than the phone's maximum packet.
    auto huge = Packet(0x02, Body(std::string(5000, 'z')));
    EXPECT_EQ(Codes(peer, huge, 777), CodeList{0xC0});
    EXPECT_EQ(Files(), std::vector<std::string>{"received"});

    // A packet length below 3 leaves no way to find the next packet: answer and drop.
    EXPECT_EQ(Codes(peer, Bytes{0x82, 0x00, 0x02, 0x82, 0x00, 0x03}), CodeList{0xC0});
    EXPECT_TRUE(peer.CloseLink());
}

// --- links over real descriptors ------------------------------------------------------

namespace {

Bytes Exchange(int fd, const Bytes& req, int timeoutMs = 2000) {
    EXPECT_EQ(::send(fd, req.data(), req.size(), MSG_NOSIGNAL), ssize_t(req.size()));
    Bytes got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < 3 || got.size() < size_t(got[1] << 8 | got[2])) {
        int left =
            int(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            return got;
        uint8_t buf[512];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return got;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

bool ClosedWithin(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return false;
    uint8_t b;
    return ::recv(fd, &b, 1, 0) == 0;
}

Phone TestPhone(const fs::path& inbox) {
    Phone p;
    p.address = *AddressFromText("(00:1E:3A:47:9C:77)");
    p.name = "Link";
    p.inbox = inbox.string();
    Service s;
    s.uuid = Service::FromUuid16(0x1105);
    s.channel = 5;
    p.services.push_back(s);
    return p;
}

} // namespace

TEST_F(ObexPeerTest, LinksCarryTheBehaviours) {
    Phone phone = TestPhone(inbox);
    int fd = OpenObexLink(phone);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, ConnectReq())[0], 0xA0);
    EXPECT_EQ(Exchange(fd, Packet(0x82, Cat({Name(u"l.txt"), EndOfBody("via link")})))[0], 0xA0);
    ::close(fd);
    EXPECT_EQ(Read(inbox / "l.txt"), "via link");

    // Slow: every response comes late.
    phone.obex.delayMs = 80;
    fd = OpenObexLink(phone);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(fd, ConnectReq())[0], 0xA0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(80));
    ::close(fd);

    // Silent: reads, never answers, keeps the link.
    phone.obex = {};
    phone.obex.mode = ObexMode::Silent;
    fd = OpenObexLink(phone);
    EXPECT_TRUE(Exchange(fd, ConnectReq(), 60).empty());
    EXPECT_FALSE(ClosedWithin(fd, 20));
    ::close(fd);

    // Drop mid-PUT: the phone closes its end.
    phone.obex.mode = ObexMode::DropMidPut;
    phone.obex.after = 1;
    fd = OpenObexLink(phone);
    EXPECT_EQ(Exchange(fd, ConnectReq())[0], 0xA0);
    EXPECT_EQ(Exchange(fd, Packet(0x02, Cat({Name(u"d.txt"), Length(2)})))[0], 0x90);
    EXPECT_TRUE(Exchange(fd, Packet(0x02, Body("ab"))).empty());
    EXPECT_TRUE(ClosedWithin(fd, 1000));
    ::close(fd);

    // A link that is never closed by its caller ends with StopObexLinks.
    phone.obex.mode = ObexMode::Silent;
    int lingering = OpenObexLink(phone);
    EXPECT_GE(ActiveObexLinks(), 1u);
    StopObexLinks();
    EXPECT_TRUE(ClosedWithin(lingering, 1000));
    ::close(lingering);
    EXPECT_EQ(ActiveObexLinks(), 0u);
}

TEST_F(ObexPeerTest, RfcommConnectChecksTheAirAndBridgesReachExternalServers) {
    Air& a = Air::Instance();
    a.Clear();
    Phone phone = TestPhone(inbox);
    a.AddPhone(phone);
    errno = 0;
    EXPECT_EQ(ConnectRfcomm(1, phone.address, 5), -1);
    EXPECT_EQ(errno, ENETDOWN);
    a.SetRadioPresent(1, true);
    EXPECT_EQ(ConnectRfcomm(1, *AddressFromText("(00:00:00:00:00:01)"), 5), -1);
    EXPECT_EQ(errno, EHOSTUNREACH);
    EXPECT_EQ(ConnectRfcomm(1, phone.address, 6), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    a.UpdatePhone(phone.address, [](Phone& p) { p.link = LinkPolicy::NeedsPairing; });
    EXPECT_EQ(ConnectRfcomm(1, phone.address, 5), -1);
    EXPECT_EQ(errno, EACCES);
    ASSERT_EQ(a.Pair(1, phone.address, ""), PairResult::Paired);
    int fd = ConnectRfcomm(1, phone.address, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, ConnectReq())[0], 0xA0);
    ::close(fd);
    a.SetPhoneInRange(phone.address, false);
    EXPECT_EQ(ConnectRfcomm(1, phone.address, 5), -1);
    EXPECT_EQ(errno, EHOSTUNREACH);

    // A bridged phone: the link is a TCP connection to whoever listens there.
    int srv = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(srv, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(srv, 1), 0);
    socklen_t len = sizeof sa;
    ::getsockname(srv, reinterpret_cast<sockaddr*>(&sa), &len);
    phone.bridge = "tcp:127.0.0.1:" + std::to_string(ntohs(sa.sin_port));
    fd = OpenObexLink(phone);
    ASSERT_GE(fd, 0);
    int peer = ::accept(srv, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(::send(fd, "hi", 2, 0), 2);
    char buf[2];
    EXPECT_EQ(::recv(peer, buf, 2, MSG_WAITALL), 2);
    ::close(peer);
    ::close(fd);
    ::close(srv);
    phone.bridge = "tcp:nowhere:1";
    EXPECT_EQ(OpenObexLink(phone), -1);
    phone.bridge = "/nonexistent/tty";
    EXPECT_EQ(OpenObexLink(phone), -1);
}
