// Push latency against the distribution's OBEX server (obexftpd on TCP port 650): the same 1 MiB and
// 4 MiB objects pushed by the distribution's client (obexftp) straight over TCP and by the station's
// Object Push client through the Microsoft road and the air's TCP bridge, with the server's packet size
// fixed to 1024 or left at its default.
//
// The server is timed from inside (a probe loaded into it records each reply), so both clients are
// measured by one clock at one place: round trips of the put, microseconds per round trip and MB/s
// from the first Continue to the final reply. CPU per MiB is the client's own: obexftp's whole process,
// and the station's process during the put (with its owner thread apart).
//
// Needs root (the server's port is below 1024) and obexftp installed; run by hand, e.g.
//   bench_push_latency --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "Spawn.h"
#include "sim/air/Air.h"
#include "sim/air/ObexLink.h"
#include "vyrAPI.h"
#include "vyrOBEX.h"
#include "sim/win32/Testing.h"
#include "win32/WinBase.h"
#include "win32/Windows.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace vyr;

namespace {

constexpr const char* kServer = "/usr/bin/obexftpd";
constexpr const char* kClient = "/usr/bin/obexftp";
constexpr int kPort = 650; // the server takes no other port
const char kPhoneText[] = "(00:1E:3A:47:9C:26)";

// What the probe in the server records (the layout of server_probe.c).
struct ProbeRecord {
    std::uint64_t replies;
    std::uint64_t continues;
    std::uint64_t firstContinueNs;
    std::uint64_t finalNs;
    std::uint64_t announced;
};

double Seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

fs::path Scratch() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("tavlin-bench-latency-" + std::to_string(::getpid()));
        fs::create_directories(d / "server");
        return d;
    }();
    return dir;
}

const fs::path& Object(std::size_t mib) {
    static std::vector<fs::path> made(8);
    fs::path& p = made.at(mib);
    if (p.empty()) {
        p = Scratch() / ("object-" + std::to_string(mib) + "MiB.bin");
        std::string content(mib << 20, '\0');
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>((i * 7 + i / 509) & 0xFF);
        std::ofstream(p, std::ios::binary) << content;
    }
    return p;
}

// A listening socket on the port, IPv4 or IPv6 (the server listens on both through one).
bool Listening(int port) {
    char want[16];
    std::snprintf(want, sizeof want, ":%04X ", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        while (std::getline(in, line)) {
            std::size_t at = line.find(want);
            // The local address comes first, then the remote one (all zero) and the state (0A: listening).
            if (at != std::string::npos && at < 50 && line.find(":0000 0A ", at) != std::string::npos)
                return true;
        }
    }
    return false;
}

// One server run, with the probe loaded, for one session.
class Server {
public:
    explicit Server(int packet) {
        // The interop tests take the same fixed port: one server at a time.
        lock_ = ::open("/tmp/tavlin-obexftpd.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        if (lock_ >= 0)
            ::flock(lock_, LOCK_EX);
        const fs::path probeFile = Scratch() / "probe.rec";
        {
            std::ofstream out(probeFile, std::ios::binary | std::ios::trunc);
            out << std::string(sizeof(ProbeRecord), '\0');
        }
        int fd = ::open(probeFile.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            void* p = ::mmap(nullptr, sizeof(ProbeRecord), PROT_READ, MAP_SHARED, fd, 0);
            ::close(fd);
            if (p != MAP_FAILED)
                record_ = static_cast<const volatile ProbeRecord*>(p);
        }
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0)
                env.emplace_back(*e);
        env.push_back(std::string("LD_PRELOAD=") + TAVLIN_SERVER_PROBE);
        env.push_back("TAVLIN_PROBE_FILE=" + probeFile.string());
        if (packet > 0)
            env.push_back("TAVLIN_PROBE_MTU=" + std::to_string(packet));
        const fs::path root = Scratch() / "server";
        pid_ = tavtest::SpawnQuiet({kServer, "-c", root.string(), "-n", std::to_string(kPort)}, root.string(), &env);
        for (int i = 0; pid_ > 0 && i < 500 && !Listening(kPort); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~Server() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (record_)
            ::munmap(const_cast<ProbeRecord*>(record_), sizeof(ProbeRecord));
        if (lock_ >= 0)
            ::close(lock_);
        std::error_code ec;
        for (auto& f : fs::directory_iterator(Scratch() / "server", ec))
            fs::remove_all(f.path(), ec);
    }
    bool Ready() const { return pid_ > 0 && record_ && Listening(kPort); }
    ProbeRecord Record() const {
        ProbeRecord r{};
        if (record_) {
            r.replies = record_->replies;
            r.continues = record_->continues;
            r.firstContinueNs = record_->firstContinueNs;
            r.finalNs = record_->finalNs;
            r.announced = record_->announced;
        }
        return r;
    }

private:
    pid_t pid_ = -1;
    int lock_ = -1;
    const volatile ProbeRecord* record_ = nullptr;
};

// Sums over the runs of one benchmark; reported per run.
struct Tally {
    double putSeconds = 0, roundTrips = 0, cpuSeconds = 0, ownerCpuSeconds = 0, bytes = 0, announced = 0;
    int runs = 0;

    bool Add(const ProbeRecord& r, std::size_t size) {
        if (r.continues == 0 || r.finalNs <= r.firstContinueNs)
            return false;
        // From the first Continue to the final reply: one round trip per Continue.
        putSeconds += static_cast<double>(r.finalNs - r.firstContinueNs) / 1e9;
        roundTrips += static_cast<double>(r.continues);
        bytes += static_cast<double>(size);
        announced = static_cast<double>(r.announced);
        ++runs;
        return true;
    }
    void Report(benchmark::State& state) const {
        if (runs == 0)
            return;
        const double mib = bytes / (1 << 20);
        state.counters["MB/s"] = bytes / 1e6 / putSeconds;
        state.counters["round_trips"] = roundTrips / runs + 1; // the final reply's own
        state.counters["us_per_rt"] = putSeconds * 1e6 / roundTrips;
        state.counters["cpu_ms_per_MiB"] = cpuSeconds * 1000 / mib;
        if (ownerCpuSeconds > 0)
            state.counters["owner_cpu_ms_per_MiB"] = ownerCpuSeconds * 1000 / mib;
        state.counters["server_packet"] = announced;
    }
};

bool Prerequisites(benchmark::State& state) {
    if (::access(kServer, X_OK) != 0 || ::access(kClient, X_OK) != 0) {
        state.SkipWithError("obexftp and obexftpd must be installed");
        return false;
    }
    if (::geteuid() != 0) {
        state.SkipWithError("the server's port 650 needs root");
        return false;
    }
    return true;
}

void ByObexftp(benchmark::State& state) {
    if (!Prerequisites(state))
        return;
    const auto mib = static_cast<std::size_t>(state.range(0));
    const int packet = static_cast<int>(state.range(1));
    const std::string file = Object(mib).string();
    Tally tally;
    for (auto _ : state) {
        Server server(packet);
        if (!server.Ready()) {
            state.SkipWithError("the server did not start");
            return;
        }
        const pid_t pid = tavtest::SpawnQuiet(
            {kClient, "-n", "127.0.0.1:" + std::to_string(kPort), "-U", "none", "-H", "-S", "-p", file},
            Scratch().string());
        if (pid < 0) {
            state.SkipWithError("obexftp did not start");
            return;
        }
        int status = 0;
        rusage ru{};
        ::wait4(pid, &status, 0, &ru);
        tally.cpuSeconds += static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
        if (!tally.Add(server.Record(), mib << 20)) {
            state.SkipWithError("obexftp's push did not complete");
            return;
        }
    }
    tally.Report(state);
}

// The station's side: the library loaded, the Microsoft radio in the air and a phone bridged to the server.
class Station {
public:
    Station() {
        win::test::Reset();
        auto& air = air::Air::Instance();
        air.Clear();
        air::Radio radio;
        radio.present = true;
        radio.address = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        radio.name = "STATION";
        air.SetRadio(static_cast<int>(air::StackKind::Microsoft), radio);
        air::Phone phone;
        phone.address = *air::AddressFromText(kPhoneText);
        phone.name = "bench";
        air::Service s;
        s.uuid = air::Service::FromUuid16(air::kObexObjectPushUuid16);
        s.channel = 9;
        phone.services.push_back(s);
        phone.bridge = "tcp:127.0.0.1:" + std::to_string(kPort);
        air.AddPhone(phone);
        loaded_ = api_.Load() == 0;
    }
    ~Station() {
        api_.Unload();
        air::Air::Instance().Clear();
        win::test::Reset();
    }
    bool Loaded() const { return loaded_; }

private:
    TvyrAPI api_;
    bool loaded_ = false;
};

// The owner's message loop as an application runs it: GetMessage waits with no time limit, so the thread
// sleeps until a message or a selected socket wakes it. A watchdog thread bounds the whole wait.
template <typename Done> bool RunUntil(Done done, unsigned limitMs) {
    const win::DWORD owner = win::GetCurrentThreadId();
    std::mutex mu;
    std::condition_variable cv;
    bool finished = false, expired = false;
    std::thread watchdog([&] {
        std::unique_lock lk(mu);
        if (!cv.wait_for(lk, std::chrono::milliseconds(limitMs), [&] { return finished; })) {
            expired = true;
            win::PostThreadMessageW(owner, win::WM_NULL, 0, 0);
        }
    });
    win::MSG m{};
    for (;;) {
        if (done())
            break;
        {
            std::lock_guard lk(mu);
            if (expired)
                break;
        }
        if (win::GetMessageW(&m, nullptr, 0, 0) <= 0)
            break;
        win::DispatchMessageW(&m);
    }
    {
        std::lock_guard lk(mu);
        finished = true;
    }
    cv.notify_all();
    watchdog.join();
    return done();
}

void ByStation(benchmark::State& state) {
    if (!Prerequisites(state))
        return;
    const auto mib = static_cast<std::size_t>(state.range(0));
    const int packet = static_cast<int>(state.range(1));
    Station station;
    if (!station.Loaded()) {
        state.SkipWithError("the library did not load");
        return;
    }
    std::string content(mib << 20, '\0');
    {
        std::ifstream in(Object(mib), std::ios::binary);
        in.read(content.data(), static_cast<std::streamsize>(content.size()));
    }
    vcl::TMemoryStream stream;
    stream.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
    TvyrBluetoothRadio radio(baMicrosoft);
    Tally tally;
    for (auto _ : state) {
        Server server(packet);
        if (!server.Ready()) {
            state.SkipWithError("the server did not start");
            return;
        }
        TvyrOPPClient opp;
        opp.BluetoothParams()->SetRadio(&radio);
        opp.BluetoothParams()->SetAddress(u"(00:1E:3A:47:9C:26)");
        opp.BluetoothParams()->SetChannel(0);
        opp.BluetoothParams()->SetAuthentication(false);
        opp.OBEXParams()->SetPacketSize(0xFFFF);
        int connected = -1, session = -1, put = -1;
        opp.OnConnect = [&](vcl::TObject*, int e) { connected = e; };
        opp.OnOBEXConnect = [&](vcl::TObject*, int e) { session = e; };
        opp.OnOBEXPutComplete = [&](vcl::TObject*, int e) { put = e; };
        if (opp.Connect() != 0 || !win::test::PumpUntil([&] { return connected != -1; }, 10000) || connected != 0 ||
            opp.OBEXConnect() != 0 || !win::test::PumpUntil([&] { return session != -1; }, 10000) || session != 0) {
            state.SkipWithError("the station could not connect");
            return;
        }
        const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID), owner0 = Seconds(CLOCK_THREAD_CPUTIME_ID);
        if (opp.Put(u"bench.bin", &stream, u"") != 0 || !RunUntil([&] { return put != -1; }, 120000) || put != 0) {
            state.SkipWithError("the station's push failed");
            return;
        }
        tally.cpuSeconds += Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
        tally.ownerCpuSeconds += Seconds(CLOCK_THREAD_CPUTIME_ID) - owner0;
        opp.OBEXDisconnect();
        win::test::PumpUntil([&] { return opp.SessionState() == ssNone; }, 3000);
        opp.Disconnect();
        if (!tally.Add(server.Record(), mib << 20)) {
            state.SkipWithError("the server saw no put");
            return;
        }
    }
    tally.Report(state);
    air::StopObexLinks();
}

void Arguments(benchmark::internal::Benchmark* b) {
    // Server packet 0: the server's own default (reported as server_packet).
    b->ArgNames({"MiB", "server_packet"})->ArgsProduct({{1, 4}, {1024, 0}});
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
}

} // namespace

BENCHMARK(ByObexftp)->Apply(Arguments);
BENCHMARK(ByStation)->Apply(Arguments);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(Scratch(), ec);
    return 0;
}
