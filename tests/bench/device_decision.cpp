// One device decision as the sending engine makes it (CHECK_DEVICE, then
// SET_DEVICE, each followed by a commit-retaining) on the embedded engine:
// through the data-access layer, and the same two calls made directly through
// the client library on prepared statements, on the same connection.
#include "TestDatabase.h"

#include "ibx/IBStoredProc.h"

#include <benchmark/benchmark.h>
#include <ibase.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kDevices = 128;
const char* const kDongle = "(00:00:00:00:00:0A)";

struct Station {
    tavlin::test::TestDatabase db;
    std::unique_ptr<ibx::TIBDatabase> conn = db.Connect();
    ibx::TIBTransaction tr;
    int campaign = 0;
    std::vector<std::string> macs;

    Station() {
        tr.SetDefaultDatabase(conn.get());
        ibx::TIBQuery q;
        q.SetTransaction(&tr);
        // Ignored pushes with retries to spare keep every device coming back as accepted.
        q.SetSQL("update SETTINGS set SETTINGS_IGNORE_RETRY = 32000");
        q.ExecSQL();
        q.SetSQL("insert into CAMPAIGNS (CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE) values ('b', 0, 0) "
                 "returning CAMPAIGNS_ID");
        q.Open();
        campaign = q.Fields(0).AsInteger();
        q.Close();
        tr.Commit();
        tr.StartTransaction();
        for (int i = 0; i < kDevices; ++i) {
            char mac[32];
            std::snprintf(mac, sizeof mac, "(00:11:22:33:%02X:%02X)", i / 256, i % 256);
            macs.emplace_back(mac);
        }
    }
};

Station& TheStation() {
    static Station s;
    return s;
}

struct Layer {
    Station& s;
    ibx::TIBStoredProc check, set;
    explicit Layer(Station& st) : s(st) {
        check.SetTransaction(&s.tr);
        check.SetStoredProcName("CHECK_DEVICE");
        set.SetTransaction(&s.tr);
        set.SetStoredProcName("SET_DEVICE");
    }
    void Decide(const std::string& mac) {
        check.ParamByName("MAC").SetAsString(mac);
        check.ParamByName("NAME").SetAsString("Phone");
        check.ParamByName("COD").SetAsInteger(0x5A020C);
        check.ParamByName("MODEL").SetAsString("");
        check.ParamByName("MANUFACTURER").SetAsString("");
        check.ParamByName("CAMPAIGN_ID").SetAsInteger(s.campaign);
        check.ParamByName("DONGLE_MAC").SetAsString(kDongle);
        check.ExecProc();
        const int status = check.ParamByName("STATUS").AsInteger();
        s.tr.CommitRetaining();
        if (status != 5)
            throw std::runtime_error("device not accepted");
        set.ParamByName("MAC").SetAsString(mac);
        set.ParamByName("CAMPAIGN_ID").SetAsInteger(s.campaign);
        set.ParamByName("RESULT").SetAsInteger(1);
        set.ParamByName("DONGLE").SetAsString(kDongle);
        set.ExecProc();
        s.tr.CommitRetaining();
    }
};

// A prepared EXECUTE PROCEDURE with its input and output descriptors built once.
struct DirectCall {
    isc_stmt_handle stmt = 0;
    std::vector<char> inMem, outMem;
    XSQLDA* in = nullptr;
    XSQLDA* out = nullptr;
    std::vector<std::vector<char>> inBuf;
    std::vector<short> inInd;
    short outVal = 0, outInd = 0;

    static void Check(const ISC_STATUS* st) {
        if (st[0] == 1 && st[1]) {
            char line[512];
            const ISC_STATUS* p = st;
            fb_interpret(line, sizeof line, &p);
            throw std::runtime_error(line);
        }
    }

    DirectCall(isc_db_handle* db, isc_tr_handle* tr, const char* sql, int nIn, bool hasOut) {
        ISC_STATUS_ARRAY st{};
        isc_dsql_allocate_statement(st, db, &stmt);
        Check(st);
        outMem.assign(XSQLDA_LENGTH(1), 0);
        out = reinterpret_cast<XSQLDA*>(outMem.data());
        out->version = SQLDA_VERSION1;
        out->sqln = 1;
        isc_dsql_prepare(st, tr, &stmt, 0, sql, 3, out);
        Check(st);
        inMem.assign(XSQLDA_LENGTH(nIn), 0);
        in = reinterpret_cast<XSQLDA*>(inMem.data());
        in->version = SQLDA_VERSION1;
        in->sqln = static_cast<short>(nIn);
        isc_dsql_describe_bind(st, &stmt, 1, in);
        Check(st);
        inBuf.resize(nIn);
        inInd.assign(nIn, 0);
        for (int i = 0; i < nIn; ++i) {
            XSQLVAR& v = in->sqlvar[i];
            inBuf[i].assign(v.sqllen + 2, 0);
            v.sqldata = inBuf[i].data();
            v.sqlind = &inInd[i];
        }
        if (hasOut) {
            out->sqlvar[0].sqldata = reinterpret_cast<char*>(&outVal);
            out->sqlvar[0].sqlind = &outInd;
        } else {
            out = nullptr;
        }
    }
    void Text(int i, const char* s) {
        XSQLVAR& v = in->sqlvar[i];
        const auto n = static_cast<unsigned short>(std::strlen(s));
        std::memcpy(v.sqldata, &n, 2);
        std::memcpy(v.sqldata + 2, s, n);
    }
    void Int(int i, long value) {
        XSQLVAR& v = in->sqlvar[i];
        if ((v.sqltype & ~1) == SQL_SHORT) {
            const short x = static_cast<short>(value);
            std::memcpy(v.sqldata, &x, sizeof x);
        } else {
            const ISC_LONG x = static_cast<ISC_LONG>(value);
            std::memcpy(v.sqldata, &x, sizeof x);
        }
    }
    void Exec(isc_tr_handle* tr) {
        ISC_STATUS_ARRAY st{};
        isc_dsql_execute2(st, tr, &stmt, 3, in, out);
        Check(st);
    }
};

void DirectDecision(Station& s, DirectCall& check, DirectCall& set, const std::string& mac) {
    isc_tr_handle* tr = s.tr.Handle();
    check.Text(0, mac.c_str());
    check.Text(1, "Phone");
    check.Int(2, 0x5A020C);
    check.Text(3, "");
    check.Text(4, "");
    check.Int(5, s.campaign);
    check.Text(6, kDongle);
    check.Exec(tr);
    ISC_STATUS_ARRAY st{};
    isc_commit_retaining(st, tr);
    DirectCall::Check(st);
    if (check.outVal != 5)
        throw std::runtime_error("device not accepted");
    set.Text(0, mac.c_str());
    set.Int(1, s.campaign);
    set.Int(2, 1);
    set.Text(3, kDongle);
    set.Exec(tr);
    isc_commit_retaining(st, tr);
    DirectCall::Check(st);
}

// One decision through each road per iteration, timed apart, so that the growing
// tables and the engine's housekeeping weigh on both alike.
void BM_DeviceDecision(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Station& s = TheStation();
    if (!s.tr.InTransaction())
        s.tr.StartTransaction();
    isc_db_handle* db = s.conn->Handle();
    DirectCall check(db, s.tr.Handle(), "EXECUTE PROCEDURE CHECK_DEVICE(?, ?, ?, ?, ?, ?, ?)", 7, true);
    DirectCall set(db, s.tr.Handle(), "EXECUTE PROCEDURE SET_DEVICE(?, ?, ?, ?)", 4, false);
    Layer layer(s);
    const bool hardCommits = state.range(0) != 0;
    Clock::duration direct{}, through{};
    size_t i = 0;
    for (auto _ : state) {
        const std::string& mac = s.macs[i % s.macs.size()];
        const std::string& mac2 = s.macs[(i + s.macs.size() / 2) % s.macs.size()];
        const bool layerFirst = i % 2;
        ++i;
        for (int road = 0; road < 2; ++road) {
            const auto t0 = Clock::now();
            if ((road == 0) == layerFirst) {
                layer.Decide(mac2);
                through += Clock::now() - t0;
            } else {
                DirectDecision(s, check, set, mac);
                direct += Clock::now() - t0;
            }
        }
        if (hardCommits && i % 256 == 0) {
            // Lets the engine collect old record versions, as a station that commits would.
            s.tr.Commit();
            s.tr.StartTransaction();
        }
    }
    ISC_STATUS_ARRAY st{};
    isc_dsql_free_statement(st, &check.stmt, DSQL_drop);
    isc_dsql_free_statement(st, &set.stmt, DSQL_drop);
    const double n = static_cast<double>(state.iterations());
    const double d = std::chrono::duration<double, std::micro>(direct).count() / n;
    const double l = std::chrono::duration<double, std::micro>(through).count() / n;
    state.counters["direct_us"] = d;
    state.counters["layer_us"] = l;
    state.counters["overhead_pct"] = (l - d) / d * 100.0;
}

} // namespace

BENCHMARK(BM_DeviceDecision)->Arg(1)->MinTime(2.0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeviceDecision)->Arg(0)->MinTime(2.0)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
