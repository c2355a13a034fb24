// The accept phase of one cycle with a large file campaign: one sender on one simulated
// radio accepts 12 phones and prepares each one's file, on the embedded database. Measures
// the time the window's thread spends in the device checks and the file preparation (the
// time the window cannot answer), and the longest single event among them.
#include "AirPhones.h"
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

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

// TAVLIN_BENCH_PHONES and TAVLIN_BENCH_MB change the phone count and the campaign's size.
int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : fallback;
}
using Clock = std::chrono::steady_clock;

void Exec(TfmMain& w, const std::string& sql) {
    tavlin::test::ExecCommitted(w.IBTransaction, sql);
}

void BM_AcceptPhase(benchmark::State& state) {
#ifdef TAVLIN_SOURCE_DIR
    setenv("TAVLIN_AIR", TAVLIN_SOURCE_DIR "/tests/support/empty-air.json", 0);
#endif
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQApplication();
    win::MessageBridge::Install();
    const int kPhones = EnvInt("TAVLIN_BENCH_PHONES", 12);
    const int kMegabytes = EnvInt("TAVLIN_BENCH_MB", 50);
    for (auto _ : state) {
        state.PauseTiming();
        tavtest::StationHome home;
        tavlin::test::TestDatabase db;
        tavtest::WriteDbSettings(QString::fromStdString(db.Path()));
        air::Air::Instance().Clear();
        air::Air::Instance().SetTimeScale(0.01);
        win::test::SetTimeScale(100);
        tavtest::PlugRadio(1, 0x51);
        for (int i = 0; i < kPhones; ++i) {
            air::Air::Instance().AddPhone(tavtest::PushPhone(
                {0x00, 0x1E, 0x3A, 0x00, 0x00, static_cast<uint8_t>(i)}, "phone " + std::to_string(i),
                home.filePath("inbox").toStdString() + "/" + std::to_string(i)));
        }
        TMessageBoxScript boxes;
        auto w = std::make_unique<TfmMain>();
        tavtest::PhoneRoads roads;
        Exec(*w, "update SETTINGS set SETTINGS_MAX_CONN = 7, SETTINGS_SLEEP = 1, SETTINGS_DISC_TIMEOUT = 1, "
                 "SETTINGS_CONNECT_TIMEOUT = 30, SETTINGS_DELAY = 1, SETTINGS_MAX_PER_DONGLE = 1000");
        {
            QByteArray clip(kMegabytes << 20, Qt::Uninitialized);
            for (qsizetype i = 0; i < clip.size(); ++i)
                clip[i] = char((uint32_t(i) * 2654435761u) >> 13);
            ibx::TIBQuery q;
            q.SetTransaction(&w->IBTransaction);
            q.SetSQL("insert into CAMPAIGNS (CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, "
                     "CAMPAIGNS_FILE_NAME, CAMPAIGNS_DATA) values (1, 'Clip', 0, 0, 'clip.mp4', :d)");
            q.ParamByName("d").SetAsBytes(ibx::TBytes(clip.begin(), clip.end()));
            q.ExecSQL();
            w->IBTransaction.CommitRetaining();
        }

        // Time inside the accept phase's events; only the outermost counts, since the device
        // check pumps messages and other events run inside it.
        double acceptSeconds = 0, filesSeconds = 0, longest = 0;
        int depth = 0, prepared = 0;
        QEventLoop loop;
        auto* s = w->Sender(0);
        {
            auto inner = s->OnAcceptDevice;
            s->OnAcceptDevice = [&, inner](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, bool& accept) {
                const auto t0 = Clock::now();
                ++depth;
                inner(o, d, accept);
                if (--depth == 0) {
                    const double t = std::chrono::duration<double>(Clock::now() - t0).count();
                    acceptSeconds += t;
                    longest = std::max(longest, t);
                }
            };
        }
        {
            auto inner = s->OnGetFiles;
            s->OnGetFiles = [&, inner](vcl::TObject* o, vyr::TvyrBluetoothDevice* d, vyr::TvyrFileList& files) {
                const auto t0 = Clock::now();
                inner(o, d, files);
                const double t = std::chrono::duration<double>(Clock::now() - t0).count();
                filesSeconds += t;
                longest = std::max(longest, t);
                if (++prepared == kPhones)
                    QTimer::singleShot(0, &loop, &QEventLoop::quit);
            };
        }
        state.ResumeTiming();

        QTimer::singleShot(std::chrono::seconds(300), &loop, &QEventLoop::quit);
        w->acSenderStart->trigger();
        loop.exec();
        w->acSenderStop->trigger();

        state.PauseTiming();
        state.counters["phones"] = prepared;
        state.counters["accept_phase_s"] = acceptSeconds + filesSeconds;
        state.counters["prepare_s"] = filesSeconds;
        state.counters["longest_event_s"] = longest;
        w.reset();
        air::Air::Instance().Clear();
        win::test::SetTimeScale(1);
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_AcceptPhase)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
