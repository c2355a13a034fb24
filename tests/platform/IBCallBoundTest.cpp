// The bound on a server's calls counts the server's silence: a slow link and a busy server are
// waited for, a silent one is cut, a connection known lost closes without waiting, and an attach
// is bounded as a whole.
#include "PrivateServer.h"
#include "TcpRelay.h"

#include "ibx/IBQuery.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace ibx;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

struct Through {
    Through(const tavlin::test::PrivateServer& server, const tavlin::test::TcpRelay& relay) {
        db.SetDatabaseName(relay.Server() + ":" + server.Path());
        db.SetParams({"user_name=SYSDBA", std::string("password=") + server.Password(), "lc_ctype=UTF8"});
        db.SetConnectTimeout(2);
        db.SetCallTimeout(2s);
        tr.SetDefaultDatabase(&db);
    }
    std::string Scalar(const std::string& sql) {
        if (!tr.InTransaction())
            tr.StartTransaction();
        TIBQuery q;
        q.SetTransaction(&tr);
        q.SetSQL(sql);
        q.Open();
        return q.Fields(0).AsString();
    }
    TIBDatabase db;
    TIBTransaction tr;
};

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

} // namespace

TEST(IBCallBound, ASlowLinkOrABusyServerIsWaitedForASilentOneIsCut) {
    std::unique_ptr<tavlin::test::PrivateServer> server;
    ASSERT_NO_THROW(server = std::make_unique<tavlin::test::PrivateServer>());
    {
        auto direct = server->Connect();
        TIBTransaction tr;
        tr.SetDefaultDatabase(direct.get());
        tr.StartTransaction();
        TIBQuery q;
        q.SetTransaction(&tr);
        q.SetSQL("update CAMPAIGNS set CAMPAIGNS_DATA = :data");
        q.ParamByName("data").SetAsString(std::string(600000, 'x'));
        q.ExecSQL();
        tr.Commit();
    }
    tavlin::test::TcpRelay relay(server->Port());
    Through c(*server, relay);
    ASSERT_NO_THROW(c.db.Open());

    // 600 KB in one blob at 120 KB/s: five seconds, never two of silence.
    relay.SetThrottle(120000);
    auto start = Clock::now();
    EXPECT_EQ(c.Scalar("select CAMPAIGNS_DATA from CAMPAIGNS rows 1").size(), 600000u);
    EXPECT_GT(Seconds(start), 4);
    relay.SetThrottle(0);

    // Working several seconds before its first row, the server still answers on the side.
    start = Clock::now();
    EXPECT_NE(
        c.Scalar(
            "select count(*) from rdb$types a, rdb$types b, rdb$types c, (select first 2 1 as n from rdb$types) d"),
        "0");
    const double busy = Seconds(start);
    EXPECT_GT(busy, 3);
    EXPECT_EQ(c.db.CallsCut(), 0u);

    // Silent, the call is cut after the bound; the lost connection then closes at once.
    relay.Hold();
    start = Clock::now();
    try {
        c.Scalar("select count(*) from rdb$relations");
        ADD_FAILURE() << "a silent server's call returned";
    } catch (const EIBError& e) {
        EXPECT_TRUE(e.ConnectionLost()) << e.what();
    }
    EXPECT_NEAR(Seconds(start), 2, 1);
    EXPECT_EQ(c.db.CallsCut(), 1u);
    start = Clock::now();
    c.db.Abandon();
    EXPECT_LT(Seconds(start), 0.5);
    EXPECT_FALSE(c.db.Connected());
    EXPECT_FALSE(c.tr.InTransaction());
    relay.Release();

    // An attach answered only at its first exchange is given up after its bound, and the next,
    // through a relay that passes everything, attaches.
    relay.PassFirstAnswers(1);
    start = Clock::now();
    try {
        c.db.Open();
        ADD_FAILURE() << "attached through a path that drops after the first exchange";
    } catch (const EIBError& e) {
        EXPECT_TRUE(e.ConnectionLost()) << e.what();
        EXPECT_NE(std::string(e.what()).find("did not answer within 2 seconds"), std::string::npos) << e.what();
    }
    EXPECT_NEAR(Seconds(start), 2, 0.5);
    relay.PassFirstAnswers(-1);
    ASSERT_NO_THROW(c.db.Open());
    EXPECT_NE(c.Scalar("select count(*) from rdb$relations"), "0");
    c.tr.Commit();
    c.db.Close();
    RecordProperty("busy_ms", int(busy * 1000));
}
