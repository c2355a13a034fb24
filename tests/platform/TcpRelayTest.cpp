// The relay the network tests put between a station and its server: a connection through it
// works, a held relay holds the answers back until released, a throttled one passes them at its rate.
#include "PrivateServer.h"
#include "TcpRelay.h"

#include "ibx/IBQuery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace ibx;
using namespace std::chrono_literals;

TEST(TcpRelay, PassesHoldsAndThrottlesTheServersAnswers) {
    std::unique_ptr<tavlin::test::PrivateServer> server;
    ASSERT_NO_THROW(server = std::make_unique<tavlin::test::PrivateServer>());
    tavlin::test::TcpRelay relay(server->Port());
    TIBDatabase db;
    db.SetDatabaseName(relay.Server() + ":" + server->Path());
    db.SetParams({"user_name=SYSDBA", std::string("password=") + server->Password(), "lc_ctype=UTF8"});
    ASSERT_NO_THROW(db.Open());
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.StartTransaction();
    const auto count = [&] {
        TIBQuery q;
        q.SetTransaction(&tr);
        q.SetSQL("select count(*) from rdb$relations");
        q.Open();
        return q.Fields(0).AsInteger();
    };
    EXPECT_GT(count(), 10);
    EXPECT_EQ(relay.Connections(), 1);
    EXPECT_GT(relay.AnswersPassed(), 0);

    // Held, the answer waits in the relay; released, it arrives whole.
    relay.Hold();
    std::atomic<int> held{-1};
    std::thread asker([&] { held = count(); });
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(held, -1);
    relay.Release();
    asker.join();
    EXPECT_GT(held, 10);

    // 320 KB of rows at 150 KB/s take two seconds; they come in a few milliseconds unthrottled.
    relay.SetThrottle(150000);
    const auto start = std::chrono::steady_clock::now();
    TIBQuery q;
    q.SetTransaction(&tr);
    q.SetSQL("select rpad('', 8000, 'x') as B from rdb$types rows 40");
    q.Open();
    q.FetchAll();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(q.RecordCount(), 40);
    EXPECT_EQ(q.FieldByName("B").AsString(), std::string(8000, 'x'));
    EXPECT_GT(took, 1800ms);
    EXPECT_LT(took, 4s);
    relay.SetThrottle(0);
    q.Close();
    tr.Commit();
    db.Close();
}
