// A real OBEX client from the distribution pushes a file to a simulated phone over
// loopback TCP; the bytes are relayed into the phone's own link.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Spawn.h"
#include "sim/air/ObexLink.h"

using namespace air;
namespace fs = std::filesystem;

namespace {

// Copies bytes both ways until either side closes or the time runs out.
void Relay(int a, int b, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    while (std::chrono::steady_clock::now() < end) {
        pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        if (::poll(fds, 2, 50) < 0)
            return;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            if (::send(fds[1 - i].fd, buf, size_t(n), MSG_NOSIGNAL) != n)
                return;
        }
    }
}

} // namespace

TEST(ObexInterop, DistributionClientPushesAFile) {
    const char* client = "/usr/bin/obexftp";
    if (::access(client, X_OK) != 0)
        GTEST_SKIP() << "no obexftp installed";
    fs::path dir = fs::temp_directory_path() / ("tavlin-interop-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string content(10000, 'q');
    { std::ofstream(dir / "promo.txt", std::ios::binary) << content; }

    int srv = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(srv, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(srv, 1), 0);
    socklen_t len = sizeof sa;
    ::getsockname(srv, reinterpret_cast<sockaddr*>(&sa), &len);
    const std::string host = "127.0.0.1:" + std::to_string(ntohs(sa.sin_port));
    const std::string file = (dir / "promo.txt").string();

    const pid_t pid = tavtest::SpawnQuiet({client, "-n", host, "-U", "none", "-H", "-S", "-p", file});
    ASSERT_GT(pid, 0);

    pollfd p{srv, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1) << "the client never connected";
    int conn = ::accept4(srv, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(conn, 0);

    Phone phone;
    phone.address = *AddressFromText("(00:1E:3A:47:9C:42)");
    phone.inbox = (dir / "inbox").string();
    int link = OpenObexLink(phone);
    ASSERT_GE(link, 0);
    Relay(conn, link, std::chrono::seconds(10));
    ::close(conn);
    ::close(link);
    ::close(srv);

    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    std::ifstream in(dir / "inbox" / "promo.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), content);
    fs::remove_all(dir);
}
