#include "QtTestApp.h"
#include "TestDatabase.h"
#include "stopsignal.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <csignal>
#include <functional>

namespace {

// The connection still answers: the engine did not shut itself down under the station.
int CountCampaigns(ibx::TIBDatabase& db) {
    ibx::TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.StartTransaction();
    ibx::TIBQuery q;
    q.SetTransaction(&tr);
    q.SetSQL("select count(*) from CAMPAIGNS");
    q.Open();
    const int n = q.Fields(0).AsInteger();
    q.Close();
    tr.Commit();
    return n;
}

bool PumpQtUntil(const std::function<bool()>& pred, int ms) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

} // namespace

TEST(StopSignalTest, TerminalSignalsAskTheStationToStopAndLeaveTheDatabaseUp) {
    EnsureQApplication();
    int stops = 0;
    StopOnTerminationSignals([&] { ++stops; });
    tavlin::test::TestDatabase db;
    auto conn = db.Connect();
    ASSERT_EQ(CountCampaigns(*conn), 0);

    for (const int sig : {SIGINT, SIGTERM}) {
        const int before = stops;
        ASSERT_EQ(std::raise(sig), 0);
        ASSERT_TRUE(PumpQtUntil([&] { return stops > before; }, 3000)) << sig;
        // The engine's own reaction, if any, comes from a thread of its own: give it a moment.
        PumpQtUntil([] { return false; }, 200);
        EXPECT_EQ(CountCampaigns(*conn), 0) << sig;
        EXPECT_EQ(CountCampaigns(*db.Connect()), 0) << sig;
    }
}
