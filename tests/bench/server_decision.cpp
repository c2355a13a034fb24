// Device decisions per second (CHECK_DEVICE, then SET_DEVICE, each followed by a commit-retaining,
// as the sending engine makes them) with 1, 2, 4 and 8 stations at once, each a connection of its
// own with its own radio address and phones, on a private database server and on the embedded
// engine. Stations are threads of this process; on the server each is a separate attachment just
// as a station process would be. Like the embedded test database, the server's database runs
// without forced writes, so both compare alike; TAVLIN_BENCH_FORCED_WRITES=1 keeps the server's on
// (every commit then waits for the disk, as a venue's server should).
#include "PrivateServer.h"
#include "TestDatabase.h"

#include "ibx/IBQuery.h"
#include "ibx/IBStoredProc.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kDevices = 128;

// The databases are made once and shared by every run; each prepares its campaign once.
struct Target {
    std::unique_ptr<tavlin::test::PrivateServer> server;
    std::unique_ptr<tavlin::test::TestDatabase> embedded;
    int campaign = 0;

    std::unique_ptr<ibx::TIBDatabase> Connect() const { return server ? server->Connect() : embedded->Connect(); }
};

std::mutex setupLock;

Target& TheTarget(bool onServer) {
    static std::unique_ptr<Target> targets[2];
    std::lock_guard<std::mutex> hold(setupLock);
    auto& t = targets[onServer ? 1 : 0];
    if (!t) {
        t = std::make_unique<Target>();
        if (onServer) {
            t->server = std::make_unique<tavlin::test::PrivateServer>();
            if (!std::getenv("TAVLIN_BENCH_FORCED_WRITES")) {
                const std::string cmd = "gfix -write async -user SYSDBA -password " +
                                        std::string(tavlin::test::PrivateServer::Password()) + " '" +
                                        t->server->Server() + ":" + t->server->Path() + "'";
                if (std::system(cmd.c_str()) != 0)
                    throw std::runtime_error("gfix failed: " + cmd);
            }
        } else
            t->embedded = std::make_unique<tavlin::test::TestDatabase>();
        auto conn = t->Connect();
        ibx::TIBTransaction tr;
        tr.SetDefaultDatabase(conn.get());
        tr.StartTransaction();
        ibx::TIBQuery q;
        q.SetTransaction(&tr);
        // Ignored pushes with retries to spare keep every device coming back as accepted.
        q.SetSQL("update SETTINGS set SETTINGS_IGNORE_RETRY = 32000, SETTINGS_USE_BL = 0, SETTINGS_USE_WL = 0");
        q.ExecSQL();
        q.SetSQL("insert into CAMPAIGNS (CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE) values ('b', 0, 0) "
                 "returning CAMPAIGNS_ID");
        q.Open();
        t->campaign = q.Fields(0).AsInteger();
        q.Close();
        tr.Commit();
    }
    return *t;
}

void BM_Decisions(benchmark::State& state, bool onServer) {
    Target* target = nullptr;
    try {
        target = &TheTarget(onServer);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        for (auto _ : state) {
        }
        return;
    }
    // This station's connection, radio and phones.
    std::unique_ptr<ibx::TIBDatabase> conn;
    {
        std::lock_guard<std::mutex> hold(setupLock);
        conn = target->Connect();
    }
    ibx::TIBTransaction tr;
    tr.SetDefaultDatabase(conn.get());
    tr.StartTransaction();
    char dongle[32];
    std::snprintf(dongle, sizeof dongle, "(00:11:22:33:44:%02X)", state.thread_index());
    std::vector<std::string> macs;
    for (int i = 0; i < kDevices; ++i) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "(00:1E:%02X:33:%02X:%02X)", state.thread_index(), i / 256, i % 256);
        macs.emplace_back(mac);
    }
    ibx::TIBStoredProc check, set;
    check.SetTransaction(&tr);
    check.SetStoredProcName("CHECK_DEVICE");
    set.SetTransaction(&tr);
    set.SetStoredProcName("SET_DEVICE");
    size_t i = 0;
    for (auto _ : state) {
        const std::string& mac = macs[i++ % macs.size()];
        check.ParamByName("MAC").SetAsString(mac);
        check.ParamByName("NAME").SetAsString("Phone");
        check.ParamByName("COD").SetAsInteger(0x5A020C);
        check.ParamByName("MODEL").SetAsString("");
        check.ParamByName("MANUFACTURER").SetAsString("");
        check.ParamByName("CAMPAIGN_ID").SetAsInteger(target->campaign);
        check.ParamByName("DONGLE_MAC").SetAsString(dongle);
        check.ExecProc();
        const int status = check.ParamByName("STATUS").AsInteger();
        tr.CommitRetaining();
        if (status != 5) {
            state.SkipWithError(("device not accepted: status " + std::to_string(status)).c_str());
            break;
        }
        set.ParamByName("MAC").SetAsString(mac);
        set.ParamByName("CAMPAIGN_ID").SetAsInteger(target->campaign);
        set.ParamByName("RESULT").SetAsInteger(1);
        set.ParamByName("DONGLE").SetAsString(dongle);
        set.ExecProc();
        tr.CommitRetaining();
    }
    tr.Commit();
    state.SetItemsProcessed(state.iterations());
}

void BM_Server(benchmark::State& state) {
    BM_Decisions(state, true);
}
void BM_Embedded(benchmark::State& state) {
    BM_Decisions(state, false);
}

} // namespace

BENCHMARK(BM_Server)->ThreadRange(1, 8)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Embedded)->ThreadRange(1, 8)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
