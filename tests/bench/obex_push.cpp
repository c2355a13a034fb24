// Pushing 1 MiB to a simulated phone over a socketpair road, at two packet sizes; and the same
// push by the distribution's OBEX client (obexftp) to the same kind of phone, relayed over TCP.
// Counters: MB/s and CPU milliseconds per MiB (this process; for obexftp, the child's).
#include "Spawn.h"
#include "SocketRoad.h"
#include "sim/air/ObexLink.h"
#include "vyrOBEX.h"
#include "sim/win32/Testing.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vyr;

namespace {

constexpr std::size_t kSize = 1 << 20;

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

fs::path Scratch() {
    fs::path dir = fs::temp_directory_path() / ("tavlin-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

void PushOurs(benchmark::State& state) {
    const auto packet = static_cast<std::uint16_t>(state.range(0));
    fs::path dir = Scratch();
    air::Phone phone;
    phone.address = *air::AddressFromText("(00:1E:3A:47:9C:42)");
    phone.inbox = (dir / "inbox").string();
    phone.obex.maxPacket = packet;
    tavtest::SocketRoads roads([&] { return air::OpenObexLink(phone); });
    std::string content(kSize, 'x');
    vcl::TMemoryStream stream;
    stream.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));

    double cpu = 0;
    for (auto _ : state) {
        TvyrOPPClient opp;
        opp.SetTransport(ctSerial);
        opp.OBEXParams()->SetPacketSize(packet);
        int connectError = -1, putError = -1;
        opp.OnOBEXConnect = [&](vcl::TObject*, int e) { connectError = e; };
        opp.OnOBEXPutComplete = [&](vcl::TObject*, int e) { putError = e; };
        double c0 = CpuSeconds();
        if (opp.Connect() != 0 || !win::test::PumpUntil([&] { return opp.IsConnected(); }, 3000) ||
            opp.OBEXConnect() != 0 || !win::test::PumpUntil([&] { return connectError != -1; }, 3000) ||
            connectError != 0 || opp.Put(u"bench.bin", &stream, u"") != 0 ||
            !win::test::PumpUntil([&] { return putError != -1; }, 30000) || putError != 0) {
            state.SkipWithError("push failed");
            break;
        }
        cpu += CpuSeconds() - c0;
        opp.Disconnect();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSize));
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kSize) / 1e6, benchmark::Counter::kIsRate);
    state.counters["cpu_ms_per_MiB"] = state.iterations() ? cpu * 1000 / static_cast<double>(state.iterations()) : 0;
    air::StopObexLinks();
    fs::remove_all(dir);
}

// The distribution's client pushing the same 1 MiB into a phone's server through a TCP relay.
void PushByObexftp(benchmark::State& state) {
    const char* client = "/usr/bin/obexftp";
    if (::access(client, X_OK) != 0) {
        state.SkipWithError("obexftp is not installed");
        return;
    }
    fs::path dir = Scratch();
    { std::ofstream(dir / "bench.bin", std::ios::binary) << std::string(kSize, 'x'); }
    air::Phone phone;
    phone.address = *air::AddressFromText("(00:1E:3A:47:9C:42)");
    phone.inbox = (dir / "inbox").string();
    double childCpu = 0;
    for (auto _ : state) {
        int srv = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(srv, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(srv, 1);
        socklen_t len = sizeof sa;
        ::getsockname(srv, reinterpret_cast<sockaddr*>(&sa), &len);
        std::string host = "127.0.0.1:" + std::to_string(ntohs(sa.sin_port));
        std::string file = (dir / "bench.bin").string();
        const pid_t pid = tavtest::SpawnQuiet({client, "-n", host, "-U", "none", "-H", "-S", "-p", file});
        pollfd p{srv, POLLIN, 0};
        int conn = ::poll(&p, 1, 5000) == 1 ? ::accept4(srv, nullptr, nullptr, SOCK_CLOEXEC) : -1;
        int link = conn >= 0 ? air::OpenObexLink(phone) : -1;
        char buf[65536];
        while (conn >= 0 && link >= 0) {
            pollfd fds[2] = {{conn, POLLIN, 0}, {link, POLLIN, 0}};
            if (::poll(fds, 2, 2000) <= 0)
                break;
            bool done = false;
            for (int i = 0; i < 2 && !done; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
                done = n <= 0 || ::send(fds[1 - i].fd, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n;
            }
            if (done)
                break;
        }
        int status = 0;
        rusage ru{};
        ::wait4(pid, &status, 0, &ru);
        childCpu += static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                    static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
        if (conn >= 0)
            ::close(conn);
        if (link >= 0)
            ::close(link);
        ::close(srv);
    }
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kSize) / 1e6, benchmark::Counter::kIsRate);
    state.counters["client_cpu_ms_per_MiB"] =
        state.iterations() ? childCpu * 1000 / static_cast<double>(state.iterations()) : 0;
    air::StopObexLinks();
    fs::remove_all(dir);
}

} // namespace

BENCHMARK(PushOurs)->Arg(4096)->Arg(32767)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PushByObexftp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

BENCHMARK_MAIN();
