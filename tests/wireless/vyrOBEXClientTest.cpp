// The OBEX client against the simulated phones' Object Push server, over a socketpair road.
#include "Bytes.h"
#include "SocketRoad.h"
#include "sim/air/ObexLink.h"
#include "vyrErrors.h"
#include "vyrOBEX.h"
#include "sim/win32/Testing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vyr;
using win::test::PumpUntil;
namespace fs = std::filesystem;

namespace {

using tavtest::Pattern;
using tavtest::ReadFile;

// One OPP client with every event written to one log.
struct Client {
    std::vector<std::string> log;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> progress;
    int putError = -1, connectError = -1;
    TvyrOPPClient opp; // last: its destructor still fires events into the fields above

    Client() {
        opp.SetTransport(ctSerial);
        opp.OnConnect = [this](vcl::TObject*, int e) { log.push_back("connect " + std::to_string(e)); };
        opp.OnDisconnect = [this](vcl::TObject*) { log.push_back("disconnect"); };
        opp.OnOBEXConnect = [this](vcl::TObject*, int e) {
            connectError = e;
            log.push_back("obex connect " + std::to_string(e));
        };
        opp.OnOBEXDisconnect = [this](vcl::TObject*) { log.push_back("obex disconnect"); };
        opp.OnOBEXProgress = [this](vcl::TObject*, std::uint32_t p, std::uint32_t s) { progress.emplace_back(p, s); };
        opp.OnOBEXPutComplete = [this](vcl::TObject*, int e) {
            putError = e;
            log.push_back("put " + std::to_string(e));
        };
    }
    bool Transport() {
        if (opp.Connect() != 0)
            return false;
        return PumpUntil([&] { return opp.IsConnected(); }, 3000);
    }
    // Transport and OBEX session; the OBEX CONNECT's outcome is returned.
    int Session() {
        if (!Transport())
            return -2;
        connectError = -1;
        int r = opp.OBEXConnect();
        if (r != 0)
            return r;
        PumpUntil([&] { return connectError != -1; }, 5000);
        return connectError;
    }
    int Push(const std::u16string& name, const std::string& content) {
        vcl::TMemoryStream stream;
        stream.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
        putError = -1;
        progress.clear();
        int r = opp.Put(name, &stream, u"");
        if (r != 0)
            return r;
        PumpUntil([&] { return putError != -1; }, 20000);
        return putError;
    }
};

class ObexClient : public ::testing::Test {
protected:
    void SetUp() override {
        win::test::Reset();
        dir_ = fs::temp_directory_path() / ("tavlin-obex-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        phone_.address = *air::AddressFromText("(00:1E:3A:47:9C:42)");
        phone_.inbox = (dir_ / "inbox").string();
        roads_ = std::make_unique<tavtest::SocketRoads>([this] { return air::OpenObexLink(phone_); });
    }
    void TearDown() override {
        roads_.reset();
        air::StopObexLinks();
        win::test::PumpMessages();
        win::test::Reset();
        fs::remove_all(dir_);
    }
    fs::path Inbox(const std::string& name) const { return fs::path(phone_.inbox) / name; }

    fs::path dir_;
    air::Phone phone_;
    std::unique_ptr<tavtest::SocketRoads> roads_;
};

} // namespace

TEST_F(ObexClient, PushesArriveWholeWithProgressFromZeroToSize) {
    Client c;
    ASSERT_EQ(c.Session(), 0);
    EXPECT_EQ(c.opp.SessionState(), ssConnected);
    EXPECT_EQ(c.opp.PeerMaxPacketSize(), 4096);

    // An empty object is refused before anything is sent.
    EXPECT_EQ(c.Push(u"empty.txt", ""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.Operation(), opIdle);

    struct Case {
        std::u16string name;
        std::string file;
        std::size_t size;
    };
    const std::vector<Case> cases = {{u"one.bin", "one.bin", 1},
                                     {u"promo.jpg", "promo.jpg", 20 * 1024},
                                     {u"big.bin", "big.bin", 1024 * 1024},
                                     {u"Grüße ☃ Ελλάδα.txt", "Grüße ☃ Ελλάδα.txt", 3000}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        std::string content = Pattern(k.size, 1);
        ASSERT_EQ(c.Push(k.name, content), 0);
        EXPECT_EQ(ReadFile(Inbox(k.file)), content);
        ASSERT_FALSE(c.progress.empty());
        EXPECT_EQ(c.progress.front().first, 0u);
        EXPECT_EQ(c.progress.back().first, k.size);
        for (std::size_t i = 0; i < c.progress.size(); ++i) {
            EXPECT_EQ(c.progress[i].second, k.size);
            if (i > 0) {
                EXPECT_GT(c.progress[i].first, c.progress[i - 1].first);
            }
        }
    }
    // Chunks follow the peer's maximum: 1 MiB in 4085-byte bodies.
    EXPECT_EQ(c.opp.Operation(), opIdle);

    // A completion handler may start the next push at once.
    int second = -1;
    c.opp.OnOBEXPutComplete = [&](vcl::TObject*, int e) {
        if (e != 0 || second != -1)
            return void(second = e + 1000);
        vcl::TMemoryStream s;
        s.WriteBuffer("xyz", 3);
        second = -2;
        EXPECT_EQ(c.opp.Put(u"next.txt", &s, u""), 0);
        c.opp.OnOBEXPutComplete = [&](vcl::TObject*, int e2) { second = e2; };
    };
    vcl::TMemoryStream first;
    first.WriteBuffer("abc", 3);
    ASSERT_EQ(c.opp.Put(u"first.txt", &first, u""), 0);
    EXPECT_EQ(first.Position(), 3); // the caller's stream is read to its end
    ASSERT_TRUE(PumpUntil([&] { return second >= 0; }, 5000));
    EXPECT_EQ(second, 0);
    EXPECT_EQ(ReadFile(Inbox("next.txt")), "xyz");

    ASSERT_EQ(c.opp.OBEXDisconnect(), 0);
    ASSERT_TRUE(PumpUntil([&] { return c.opp.SessionState() == ssNone; }, 3000));
    EXPECT_EQ(c.log.back(), "obex disconnect");
    c.opp.Disconnect();
    EXPECT_EQ(c.log.back(), "disconnect");
}

TEST_F(ObexClient, SmallPeerPacketsStillCarryTheWholeObject) {
    phone_.obex.maxPacket = 255;
    Client c;
    c.opp.OBEXParams()->SetPacketSize(300);
    ASSERT_EQ(c.Session(), 0);
    EXPECT_EQ(c.opp.PeerMaxPacketSize(), 255);
    std::string content = Pattern(5000, 2);
    ASSERT_EQ(c.Push(u"small.bin", content), 0);
    EXPECT_EQ(ReadFile(Inbox("small.bin")), content);
    // 244 bytes per data packet: 21 data packets, so 22 progress reports.
    EXPECT_EQ(c.progress.size(), 22u);
}

TEST_F(ObexClient, EveryRefusalComesBackMapped) {
    phone_.obex.mode = air::ObexMode::Refuse;
    const std::vector<std::pair<std::uint8_t, int>> codes = {{0xC3, VYR_OBEX_FORBIDDEN},
                                                             {0xC0, VYR_OBEX_BAD_REQUEST},
                                                             {0xC1, VYR_OBEX_UNAUTHORIZED},
                                                             {0xC6, VYR_OBEX_NOT_ACCEPTABLE},
                                                             {0xCD, VYR_OBEX_ENTITY_TOO_LARGE},
                                                             {0xCF, VYR_OBEX_UNSUPPORTED_MEDIA},
                                                             {0xD0, VYR_OBEX_INTERNAL_SERVER_ERROR},
                                                             {0xD3, VYR_OBEX_SERVICE_UNAVAILABLE},
                                                             {0xE0, VYR_OBEX_DATABASE_FULL},
                                                             {0xE1, VYR_OBEX_DATABASE_LOCKED},
                                                             {0xC4, VYR_OBEX_NOT_FOUND},
                                                             {0x20, VYR_OBEX_UNKNOWN}};
    Client c;
    ASSERT_EQ(c.Session(), 0);
    for (auto [code, error] : codes) {
        SCOPED_TRACE(code);
        c.opp.Disconnect();
        phone_.obex.refuseCode = code;
        ASSERT_EQ(c.Session(), 0);
        EXPECT_EQ(c.Push(u"refused.txt", "data"), error);
        EXPECT_EQ(c.opp.SessionState(), ssConnected); // a refusal ends the put, not the session
    }
    EXPECT_FALSE(fs::exists(Inbox("refused.txt")));

    // A refused CONNECT leaves no session behind, and the transport stays up.
    c.opp.Disconnect();
    phone_.obex.mode = air::ObexMode::RefuseConnect;
    phone_.obex.refuseCode = 0xC3;
    EXPECT_EQ(c.Session(), VYR_OBEX_FORBIDDEN);
    EXPECT_EQ(c.opp.SessionState(), ssNone);
    EXPECT_TRUE(c.opp.IsConnected());
    EXPECT_EQ(c.log.back(), "obex connect 117");
}

TEST_F(ObexClient, SilentPeersEndWithTimeoutThenTheLinkCloses) {
    // The time-out is taken by jumping the clock once the exchange has reached the packet the phone leaves
    // unanswered (counted in progress reports), so a slow phone on a busy machine cannot beat it.
    struct Case {
        air::ObexMode mode;
        int after;
        std::size_t size;
        std::size_t progressBeforeSilence;
        const char* what;
    };
    // Silent from the start (CONNECT), after CONNECT (first PUT packet), after the first data
    // packet (a later one).
    for (const Case& k : {Case{air::ObexMode::Silent, 0, 100, 0, "connect"},
                          Case{air::ObexMode::SilentAfter, 1, 100, 0, "first packet"},
                          Case{air::ObexMode::SilentAfter, 4, 20000, 3, "later packet"}}) {
        SCOPED_TRACE(k.what);
        phone_.obex.mode = k.mode;
        phone_.obex.after = k.after;
        Client c;
        const win::DWORD timeout = c.opp.OBEXParams()->Timeout();
        if (k.mode == air::ObexMode::Silent) {
            ASSERT_TRUE(c.Transport());
            ASSERT_EQ(c.opp.OBEXConnect(), 0);
            win::test::AdvanceClock(timeout);
            ASSERT_TRUE(PumpUntil([&] { return c.opp.IsClosed(); }, 10000));
            EXPECT_EQ(c.log, (std::vector<std::string>{"connect 0", "obex connect 43", "disconnect"}));
            continue;
        }
        ASSERT_EQ(c.Session(), 0);
        vcl::TMemoryStream s;
        const std::string content = Pattern(k.size, 1);
        s.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
        ASSERT_EQ(c.opp.Put(u"stalled.bin", &s, u""), 0);
        ASSERT_TRUE(PumpUntil([&] { return c.progress.size() >= k.progressBeforeSilence; }, 10000));
        win::test::PumpUntilIdle(20, 200); // nothing more comes
        ASSERT_EQ(c.progress.size(), k.progressBeforeSilence);
        EXPECT_EQ(c.putError, -1);
        win::test::AdvanceClock(timeout);
        ASSERT_TRUE(PumpUntil([&] { return c.opp.IsClosed(); }, 10000));
        EXPECT_EQ(c.log,
                  (std::vector<std::string>{"connect 0", "obex connect 0", "put 43", "obex disconnect", "disconnect"}));
        EXPECT_EQ(c.opp.SessionState(), ssNone);
        EXPECT_FALSE(c.opp.TimerArmed());
    }
}

TEST_F(ObexClient, AbortAndDisconnectEndAPutInTheirOwnWay) {
    Client c;
    ASSERT_EQ(c.Session(), 0);
    // Nothing to abort.
    EXPECT_EQ(c.opp.Abort(), VYR_OBEX_OPERATION_NOT_ACTIVE);

    // Abort asked at the second progress report: the ABORT goes out at the next Continue and the
    // put ends with 32; the phone keeps nothing.
    c.opp.OnOBEXProgress = [&](vcl::TObject*, std::uint32_t position, std::uint32_t) {
        if (position > 0) {
            EXPECT_EQ(c.opp.Abort(), 0);
            EXPECT_EQ(c.opp.Abort(), 0); // again before it was sent: still fine
        }
    };
    vcl::TMemoryStream s;
    std::string big = Pattern(100000, 3);
    s.WriteBuffer(big.data(), static_cast<std::int64_t>(big.size()));
    c.putError = -1;
    ASSERT_EQ(c.opp.Put(u"aborted.bin", &s, u""), 0);
    EXPECT_EQ(c.opp.OBEXDisconnect(), VYR_OBEX_OPERATION_IN_PROGRESS);
    EXPECT_EQ(c.opp.Put(u"other.bin", &s, u""), VYR_OBEX_OPERATION_IN_PROGRESS);
    ASSERT_TRUE(PumpUntil([&] { return c.putError != -1; }, 5000));
    EXPECT_EQ(c.putError, VYR_CANCELLED_BY_USER);
    EXPECT_FALSE(c.opp.AbortRequested());
    EXPECT_FALSE(fs::exists(Inbox("aborted.bin")));
    c.opp.OnOBEXProgress = nullptr;

    // The session goes on after an abort.
    ASSERT_EQ(c.Push(u"after.txt", "fine"), 0);
    EXPECT_EQ(ReadFile(Inbox("after.txt")), "fine");

    // Disconnect in the middle of a put: 47, then the session's end, then the transport's; a
    // second Disconnect from inside the session handler is harmless.
    c.log.clear();
    int disconnectsInHandler = 0;
    c.opp.OnOBEXDisconnect = [&](vcl::TObject*) {
        c.log.push_back("obex disconnect");
        ++disconnectsInHandler;
        c.opp.Disconnect();
    };
    c.opp.OnOBEXProgress = [&](vcl::TObject*, std::uint32_t position, std::uint32_t) {
        if (position > 0)
            c.opp.Disconnect();
    };
    c.putError = -1;
    ASSERT_EQ(c.opp.Put(u"cut.bin", &s, u""), 0);
    ASSERT_TRUE(PumpUntil([&] { return c.opp.IsClosed(); }, 5000));
    EXPECT_EQ(c.log, (std::vector<std::string>{"put 47", "obex disconnect", "disconnect"}));
    EXPECT_EQ(disconnectsInHandler, 1);
    EXPECT_EQ(c.opp.SessionState(), ssNone);
    EXPECT_EQ(c.opp.Operation(), opIdle);
}

// A stream that promises more than it gives: its reads stop short after the first bytes.
class ShortStream : public vcl::TMemoryStream {
public:
    std::int64_t Size() override { return 5000; }
    std::int64_t Read(void* buffer, std::int64_t count) override {
        if (Position() >= 10)
            return 0;
        return TMemoryStream::Read(buffer, count);
    }
};

TEST_F(ObexClient, AStreamThatCannotBeReadIsRefusedWithNothingSent) {
    Client c;
    ASSERT_EQ(c.Session(), 0);
    ShortStream bad;
    bad.WriteBuffer(Pattern(10, 2).data(), 10);
    c.log.clear();
    EXPECT_EQ(c.opp.Put(u"short.bin", &bad, u""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.Operation(), opIdle);
    EXPECT_FALSE(c.opp.TimerArmed());
    win::test::PumpUntilIdle(20, 1000);
    EXPECT_TRUE(c.log.empty());
    // The session goes on as if nothing had been asked, and a Disconnect owes no put an outcome.
    ASSERT_EQ(c.Push(u"after.txt", "fine"), 0);
    EXPECT_EQ(ReadFile(Inbox("after.txt")), "fine");
    EXPECT_FALSE(fs::exists(Inbox("short.bin")));
    c.opp.Disconnect();
    EXPECT_EQ(c.log, (std::vector<std::string>{"put 0", "obex disconnect", "disconnect"}));
}

TEST_F(ObexClient, PreconditionsAreCheckedInOrder) {
    Client c;
    vcl::TMemoryStream s;
    s.WriteBuffer("x", 1);
    // Transport first.
    EXPECT_EQ(c.opp.OBEXConnect(), VYR_NOT_CONNECTED);
    EXPECT_EQ(c.opp.Put(u"a", &s, u""), VYR_NOT_CONNECTED);
    EXPECT_EQ(c.opp.OBEXDisconnect(), VYR_OBEX_SESSION_NOT_ACTIVE);
    ASSERT_TRUE(c.Transport());
    EXPECT_EQ(c.opp.Put(u"a", &s, u""), VYR_OBEX_SESSION_NOT_ACTIVE);
    EXPECT_EQ(c.opp.Abort(), VYR_OBEX_SESSION_NOT_ACTIVE);
    EXPECT_EQ(c.opp.ListFolder(), VYR_OBEX_SESSION_NOT_ACTIVE);
    ASSERT_EQ(c.opp.OBEXConnect(), 0);
    EXPECT_EQ(c.opp.OBEXConnect(), VYR_OBEX_SESSION_ACTIVE);
    ASSERT_TRUE(PumpUntil([&] { return c.connectError != -1; }, 3000));

    EXPECT_EQ(c.opp.Put(u"", &s, u""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.Put(u"..", &s, u""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.Put(u"\\", &s, u""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.Put(u"a", nullptr, u""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.Get(u"", u""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.Delete(u".."), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.CreateFolder(u""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.ChangeFolder(u""), VYR_INVALID_ARGUMENT);
    EXPECT_EQ(c.opp.Operation(), opIdle);

    // Parameters are frozen while the connection is open; the active check comes first.
    EXPECT_THROW(c.opp.OBEXParams()->SetPacketSize(0), vyrEConnectionActive);
    EXPECT_THROW(c.opp.OBEXParams()->SetTimeout(5000), vyrEConnectionActive);
    EXPECT_NO_THROW(c.opp.OBEXParams()->SetTimeout(60000)); // equal: nothing to do
    c.opp.Disconnect();
    EXPECT_THROW(c.opp.OBEXParams()->SetPacketSize(0), vyrEInvalidArgument);
    EXPECT_THROW(c.opp.OBEXParams()->SetTimeout(999), vyrEInvalidArgument);
    EXPECT_THROW(c.opp.SetOBEXParams(nullptr), vyrEInvalidArgument);

    // Assign copies the packet size only.
    TvyrOPPClient other;
    other.OBEXParams()->SetPacketSize(512);
    other.OBEXParams()->SetTarget(u"0A1B");
    other.OBEXParams()->SetTimeout(2000);
    c.opp.SetOBEXParams(other.OBEXParams());
    EXPECT_EQ(c.opp.OBEXParams()->PacketSize(), 512);
    EXPECT_EQ(c.opp.OBEXParams()->Target(), u"");
    EXPECT_EQ(c.opp.OBEXParams()->Timeout(), 60000u);
    TvyrCustomClientConnection plain;
    EXPECT_THROW(TvyrClientOBEXParams{&plain}, vyrEInvalidArgument);

    // The Object Push defaults.
    TvyrOPPClient fresh;
    EXPECT_FALSE(fresh.BluetoothParams()->Authentication());
    EXPECT_FALSE(fresh.BluetoothParams()->Encryption());
    EXPECT_EQ(std::memcmp(&fresh.BluetoothParams()->Service(), &OBEXObjectPushServiceUuid, sizeof(win::GUID)), 0);
    EXPECT_EQ(fresh.IrDAParams()->Service(), u"OBEX");
    EXPECT_FALSE(fresh.IrDAParams()->NineWire());
    EXPECT_EQ(fresh.ConnectTimeout(), 20000u);
    EXPECT_EQ(fresh.OBEXParams()->PacketSize(), 4096);
    EXPECT_EQ(fresh.OBEXParams()->Timeout(), 60000u);
}
