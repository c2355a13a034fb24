// How late a 50 ms timer of the owner's thread fires while a proximity sender pushes to 20 phones, one
// radio of each stack at a time. The clock runs twice as fast as real time, so the stacks' own waits keep
// their weight against the machine's scheduling delays; lateness is in clock milliseconds.
#include "AirPhones.h"
#include "PhoneRoads.h"
#include "sim/air/Air.h"
#include "sim/win32/Testing.h"
#include "vyrAPI.h"
#include "vyrProximitySender.h"
#include "win32/Windows.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kPhones = 20;

struct Ticks : vyr::TvyrHiddenWindowOwner {
    std::vector<win::DWORD> at;
    void HiddenWindowMessage(win::UINT msg, win::WPARAM, win::LPARAM) override {
        if (msg == win::WM_TIMER)
            at.push_back(win::GetTickCount());
    }
};

void OwnerTimerLateness(benchmark::State& state) {
    const int stack = static_cast<int>(state.range(0));
    win::test::Reset();
    auto& air = air::Air::Instance();
    air.Clear();
    air.SetTimeScale(0.001); // inquiries end at once
    win::test::SetTimeScale(2);
    const fs::path dir = fs::temp_directory_path() / ("tavlin-bench-lateness-" + std::to_string(::getpid()));
    fs::create_directories(dir / "com");
    // The BlueSoleil and Toshiba stand-ins enter their virtual ports here, away from any other process's.
    ::setenv("TAVLIN_COM_DIR", (dir / "com").c_str(), 1);
    const std::string file = (dir / "offer.jpg").string();
    std::ofstream(file, std::ios::binary) << std::string(20 * 1024, 'x');
    tavtest::PlugRadio(stack, 0x55);
    for (int i = 1; i <= kPhones; ++i)
        air.AddPhone(tavtest::PushPhone({0x00, 0x1E, 0x3A, 0x00, 0x00, static_cast<std::uint8_t>(i)},
                                        "phone " + std::to_string(i), (dir / "inbox").string()));
    tavtest::PhoneRoads roads;
    vyr::TvyrBluetoothRadio radio(static_cast<vyr::TvyrBluetoothApi>(stack));
    double worst = 0, ticks = 0, sent = 0;
    for (auto _ : state) {
        vyr::TvyrProximitySender sender;
        sender.SetSendRadio(&radio);
        sender.SetDiscoveryRadio(&radio);
        sender.SetDiscoverTimeout(1);
        sender.SetSendDelay(1);
        sender.SetTimeout(255);
        int completed = 0;
        bool asleep = false;
        sender.OnAcceptDevice = [](vcl::TObject*, vyr::TvyrBluetoothDevice*, bool& accept) { accept = true; };
        sender.OnGetFiles = [&](vcl::TObject*, vyr::TvyrBluetoothDevice*, vyr::TvyrFileList& f) { f = {file}; };
        sender.OnSendComplete = [&](vcl::TObject*, vyr::TvyrBluetoothDevice*, int e) { completed += e == 0; };
        sender.OnStartSleep = [&](vcl::TObject*) { asleep = true; };
        Ticks timer;
        win::HWND window = vyr::CreateHiddenWindow();
        vyr::AttachHiddenWindow(window, &timer);
        win::SetTimer(window, 1, 50, nullptr);
        timer.at.push_back(win::GetTickCount());
        const bool done = sender.Start() == 0 && win::test::PumpUntil([&] { return asleep; }, 120000);
        vyr::DestroyHiddenWindow(window);
        sender.Stop();
        if (!done) {
            state.SkipWithError("the cycle did not finish");
            break;
        }
        for (size_t i = 1; i < timer.at.size(); ++i)
            worst = std::max(worst, static_cast<double>(timer.at[i] - timer.at[i - 1]) - 50.0);
        ticks += static_cast<double>(timer.at.size() - 1);
        sent += completed;
    }
    state.counters["late_ms_max"] = worst;
    state.counters["ticks"] = benchmark::Counter(ticks, benchmark::Counter::kAvgIterations);
    state.counters["phones_ok"] = benchmark::Counter(sent, benchmark::Counter::kAvgIterations);
    air.Clear();
    fs::remove_all(dir);
}

} // namespace

// Stack kinds: 0 BlueSoleil, 1 Microsoft, 2 Toshiba, 3 WidComm.
BENCHMARK(OwnerTimerLateness)
    ->ArgName("stack")
    ->DenseRange(0, 3)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
