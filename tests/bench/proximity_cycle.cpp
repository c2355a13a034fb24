// One proximity cycle against many simulated phones that all accept a 20 KiB file, seven at a time,
// with inquiries and timers taking no time: wall time, CPU time and peak memory per phone count.
// CPU per phone is split: the station's own threads (the owner thread apart) and the simulated phones'
// server threads, which are not the station's cost.
#include "PhoneRoads.h"
#include "sim/air/Air.h"
#include "sim/air/ObexLink.h"
#include "vyrProximitySender.h"
#include "sim/win32/Testing.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

static double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

static void ProximityCycle(benchmark::State& state) {
    const int phones = static_cast<int>(state.range(0));
    win::test::Reset();
    auto& air = air::Air::Instance();
    air.Clear();
    air.SetTimeScale(1e-6);
    win::test::SetTimeScale(1000);
    const fs::path dir = fs::temp_directory_path() / ("tavlin-bench-prox-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "offer.jpg").string();
    std::ofstream(file, std::ios::binary) << std::string(20 * 1024, 'x');

    air::Radio radio;
    radio.present = true;
    radio.address = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    air.SetRadio(static_cast<int>(air::StackKind::Microsoft), radio);
    for (int i = 0; i < phones; ++i) {
        air::Phone p;
        p.address = {
            0x00, 0x1E, 0x3A, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        p.inbox = (dir / "inbox").string();
        air::Service s;
        s.uuid = air::Service::FromUuid16(air::kObexObjectPushUuid16);
        s.channel = 9;
        p.services.push_back(s);
        air.AddPhone(p);
    }
    tavtest::PhoneRoads roads;
    air::ResetObexLinkHighWater();
    vyr::TvyrBluetoothRadio ms(vyr::baMicrosoft);
    int completed = 0, failed = 0;
    bool asleep = false;
    double processCpu = 0, ownerCpu = 0, phoneCpu = 0;
    for (auto _ : state) {
        const double process0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID), owner0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double phones0 = air::ObexLinkCpuSeconds();
        vyr::TvyrProximitySender sender;
        sender.SetSendRadio(&ms);
        sender.SetDiscoveryRadio(&ms);
        sender.SetMaxConnections(7);
        sender.SetTimeout(255); // the sender's clock runs 1000 times fast; keep the time-outs out of the way
        sender.SetSendDelay(1);
        sender.SetDiscoverTimeout(1);
        sender.OnAcceptDevice = [](vcl::TObject*, vyr::TvyrBluetoothDevice*, bool& accept) { accept = true; };
        sender.OnGetFiles = [&](vcl::TObject*, vyr::TvyrBluetoothDevice*, vyr::TvyrFileList& f) { f = {file}; };
        sender.OnSendComplete = [&](vcl::TObject*, vyr::TvyrBluetoothDevice*, int e) {
            ++(e == 0 ? completed : failed);
        };
        asleep = false;
        sender.OnStartSleep = [&](vcl::TObject*) { asleep = true; };
        if (sender.Start() != 0 || !win::test::PumpUntil([&] { return asleep; }, 600000)) {
            state.SkipWithError("the cycle did not finish");
            break;
        }
        sender.Stop();
        // A phone's thread is counted when it ends, a moment after the station let go of the link.
        for (int i = 0; i < 2000 && air::ActiveObexLinks() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        processCpu += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
        ownerCpu += CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - owner0;
        phoneCpu += air::ObexLinkCpuSeconds() - phones0;
    }
    const double perPhone = state.iterations() ? 1000.0 / (static_cast<double>(state.iterations()) * phones) : 0;
    state.counters["station_cpu_ms_per_phone"] = (processCpu - phoneCpu) * perPhone;
    state.counters["owner_cpu_ms_per_phone"] = ownerCpu * perPhone;
    state.counters["phone_cpu_ms_per_phone"] = phoneCpu * perPhone;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["phones_ok"] = benchmark::Counter(completed, benchmark::Counter::kAvgIterations);
    state.counters["phones_failed"] = benchmark::Counter(failed, benchmark::Counter::kAvgIterations);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["link_high_water"] = static_cast<double>(air::ObexLinkHighWater());
    air.Clear();
    fs::remove_all(dir);
}
BENCHMARK(ProximityCycle)
    ->Arg(50)
    ->Arg(200)
    ->Arg(800)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

BENCHMARK_MAIN();
