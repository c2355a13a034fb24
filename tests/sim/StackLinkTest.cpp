// The virtual COM port relay: what the phone wrote reaches whoever holds the port, even when the phone
// hangs up right after writing it.
#include "RoadEvents.h"
#include "ScopedEnv.h"

#include "sim/air/StackLink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ComFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavlin-stacklink-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        env_.Set(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Everything the port gives until it reports the hang-up (or nothing comes for a long while).
    static std::string ReadUntilHangUp(int fd) {
        std::string got;
        char buf[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                return got + "<no hang-up>";
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return got;
        }
    }

    std::string dir_;
    tavtest::ScopedEnv env_{"TAVLIN_COM_DIR"};
};

} // namespace

TEST_F(ComFolder, ThePhonesLastBytesReachThePortBeforeItHangsUp) {
    // The loss is a race inside the terminal: many short tries, each a phone that answers and hangs up.
    int lostBytes = 0, tries = 0;
    for (; tries < 200; ++tries) {
        auto port = air::VirtualComPort::Create(4);
        ASSERT_TRUE(port);
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
        std::atomic<bool> lost{false};
        ASSERT_TRUE(port->Attach(sv[0], [&] { lost = true; }));
        int fd = ::open((dir_ + "/COM4").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);

        const std::string said = tavtest::Pattern(1 + (tries * 37) % 600, static_cast<unsigned>(tries));
        std::thread phone([&] {
            ASSERT_EQ(::send(sv[1], said.data(), said.size(), MSG_NOSIGNAL), static_cast<ssize_t>(said.size()));
            ::close(sv[1]);
        });
        const std::string got = ReadUntilHangUp(fd);
        phone.join();
        if (got != said)
            ++lostBytes;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!lost && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(lost) << "the stack never heard of the hang-up";
        ::close(fd);
        port.reset();
        EXPECT_FALSE(fs::exists(dir_ + "/COM4"));
        if (lostBytes > 0)
            break;
    }
    EXPECT_EQ(lostBytes, 0) << "try " << tries << " lost what the phone said last";
}
