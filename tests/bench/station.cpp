// The whole station: the main window's four senders on four simulated radios serve 200
// simulated phones that answer at once, on the embedded database. Measures phones served
// per second (Start until every phone's push is recorded) and the time the senders' events
// spend in the station's own code, mostly database calls, per phone.
#include "AirPhones.h"
#include "ScopedEnv.h"
#include "StationHome.h"
#include "StationSettings.h"
#include "PhoneRoads.h"
#include "QtTestApp.h"
#include "TestDatabase.h"
#include "dbsettings.h"
#include "main.h"
#include "msgbox.h"
#include "qt/MessageBridge.h"
#include "sim/air/Air.h"
#include "vcl/Registry.h"
#include "sim/win32/Testing.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <cstdlib>

namespace {

// TAVLIN_BENCH_PHONES and TAVLIN_BENCH_SCALE change the phone count and the clock's speed-up
// (for profiling); TAVLIN_BENCH_DIAG prints what the database recorded.

double ClockScale() {
    const char* v = std::getenv("TAVLIN_BENCH_SCALE");
    const double scale = v ? std::atof(v) : 0;
    return scale >= 1 && scale <= 1000 ? scale : 100;
}

int PhoneCount() {
    const char* v = std::getenv("TAVLIN_BENCH_PHONES");
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : 200;
}
using Clock = std::chrono::steady_clock;

int Count(TfmMain& w, const std::string& sql) {
    ibx::TIBQuery q;
    q.SetTransaction(&w.IBTransaction);
    q.SetSQL(sql);
    q.Open();
    const int n = q.Eof() ? 0 : q.Fields(0).AsInteger();
    q.Close();
    return n;
}

void Exec(TfmMain& w, const std::string& sql) {
    tavlin::test::ExecCommitted(w.IBTransaction, sql);
}

void BM_Station(benchmark::State& state) {
#ifdef TAVLIN_SOURCE_DIR
    setenv("TAVLIN_AIR", TAVLIN_SOURCE_DIR "/tests/support/empty-air.json", 0);
#endif
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQApplication();
    win::MessageBridge::Install();
    const int kPhones = PhoneCount();
    for (auto _ : state) {
        state.PauseTiming();
        tavtest::StationHome home;
        // Two of the stacks push through virtual COM ports, which need a folder to live in;
        // without it every push on those radios fails.
        QDir(home.path()).mkpath(QStringLiteral("com"));
        tavtest::ScopedEnv comDir("TAVLIN_COM_DIR", home.filePath("com").toStdString());
        tavlin::test::TestDatabase db;
        tavtest::WriteDbSettings(QString::fromStdString(db.Path()));
        air::Air::Instance().Clear();
        // The air and the clock run faster than real time, the station's own work does not: at a
        // thousandfold a millisecond of database work is a second of air time, so a sender's pass
        // over 200 phones outlasts the push time-outs and the idle senders' cycles come back-to-back.
        // A hundredfold keeps the station's work small beside the air's times, as it is in the field.
        const double scale = ClockScale();
        air::Air::Instance().SetTimeScale(1 / scale);
        win::test::SetTimeScale(scale);
        for (int kind = 0; kind < 4; ++kind)
            tavtest::PlugRadio(kind, static_cast<uint8_t>(0x50 + kind));
        for (int i = 0; i < kPhones; ++i) {
            air::Air::Instance().AddPhone(tavtest::PushPhone(
                {0x00, 0x1E, 0x3A, 0x00, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)},
                "phone " + std::to_string(i), home.filePath("inbox").toStdString() + "/" + std::to_string(i)));
        }
        TMessageBoxScript boxes;
        auto w = std::make_unique<TfmMain>();
        tavtest::PhoneRoads roads;
        Exec(*w, "update SETTINGS set SETTINGS_MAX_CONN = 7, SETTINGS_SLEEP = 1, SETTINGS_DISC_TIMEOUT = 1, "
                 "SETTINGS_CONNECT_TIMEOUT = 30, SETTINGS_DELAY = 1, SETTINGS_MAX_PER_DONGLE = 1000");
        Exec(*w, "insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
                 "CAMPAIGNS_FILE_NAME, CAMPAIGNS_DATA) values (1, 'Card', 1, 0, 'shop.vcf', "
                 "'BEGIN:VCARD' || ascii_char(13) || ascii_char(10) || 'END:VCARD')");

        // Time inside the station's handlers, where its database calls are.
        // Only the outermost event counts: the device check pumps messages, and other events run inside it.
        double handlerSeconds = 0;
        TSendingEngine::TDatabaseTime database;
        w->Engine->SenderDatabaseTime = &database;
        int depth = 0;
        auto timed = [&handlerSeconds, &depth](auto& event) {
            auto inner = event;
            event = [&handlerSeconds, &depth, inner](auto&&... args) {
                const auto t0 = Clock::now();
                ++depth;
                inner(args...);
                if (--depth == 0)
                    handlerSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
            };
        };
        std::map<int, int> errors;
        int succeeded = 0;
        std::function<void()> onServed;
        for (int tag = 0; tag < 4; ++tag) {
            auto* s = w->Sender(tag);
            {
                auto inner = s->OnSendComplete;
                s->OnSendComplete = [inner, &errors, &succeeded, &onServed](vcl::TObject* o,
                                                                            vyr::TvyrBluetoothDevice* d, int e) {
                    ++errors[e];
                    inner(o, d, e);
                    if (e == 0) {
                        ++succeeded;
                        if (onServed)
                            onServed();
                    }
                };
            }
            timed(s->OnDiscoveryStarted);
            timed(s->OnAcceptDevice);
            timed(s->OnGetFiles);
            timed(s->OnSendComplete);
            timed(s->OnStartSleep);
        }
        state.ResumeTiming();

        // Runs the event loop without sleeping or polling the database: every successful push
        // counts as it is reported, and the loop ends with the last one (or the deadline).
        QEventLoop loop;
        QTimer::singleShot(std::chrono::seconds(120), &loop, &QEventLoop::quit);
        onServed = [&] {
            if (succeeded >= kPhones)
                loop.quit();
        };
        const auto start = Clock::now();
        w->acSenderStart->trigger();
        if (succeeded < kPhones)
            loop.exec();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        w->acSenderStop->trigger();

        state.PauseTiming();
        const int served = Count(*w, "select count(*) from PROCESSED");
        state.counters["phones"] = served;
        if (std::getenv("TAVLIN_BENCH_DIAG")) {
            fprintf(stderr, "sightings %d history %d ok %d ign %d rej %d wbl %d\n",
                    Count(*w, "select sum(DEVICES_COUNT) from DEVICES"), Count(*w, "select count(*) from HISTORY"),
                    Count(*w, "select count(*) from HISTORY where HISTORY_RESULT = 0"),
                    Count(*w, "select count(*) from HISTORY where HISTORY_RESULT = 1"),
                    Count(*w, "select count(*) from HISTORY where HISTORY_RESULT = 2"),
                    Count(*w, "select count(*) from WORK_BLACK_LIST"));
            for (auto [e, n] : errors)
                fprintf(stderr, "error %d: %d\n", e, n);
        }
        state.counters["phones_per_s"] = served / seconds;
        state.counters["handler_ms_per_phone"] = served ? handlerSeconds * 1000 / served : 0;
        state.counters["db_ms_per_phone"] = served ? database.Seconds * 1000 / served : 0;
        state.counters["db_calls_per_phone"] = served ? double(database.Calls) / served : 0;
        w.reset();
        air::Air::Instance().Clear();
        win::test::SetTimeScale(1);
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_Station)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
