#include "PrivateServer.h"

#include "Bytes.h"

#include <QProcess>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavlin::test {

namespace {

std::string Helper() {
    const char* env = std::getenv("TAVLIN_SOURCE_DIR");
    const std::string root = env && *env ? env : TAVLIN_SOURCE_DIR;
    return root + "/scripts/fbserver";
}

// A port nobody listens on now; another process may still take it before the server does,
// which the caller survives by trying again.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// Runs the helper; true on success, its output in `output`.
bool RunHelper(const QStringList& args, std::string& output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromStdString(Helper()), args);
    // Making the databases the first time waits for the disk; a busy machine is slow at it.
    const bool finished = p.waitForFinished(120000);
    output = p.readAll().toStdString();
    if (!finished) {
        p.kill();
        p.waitForFinished(5000);
        output += "(the helper did not finish)";
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Making the security and station databases takes seconds; a prepared folder per schema is
// made once and copied for every server.
std::filesystem::path Template() {
    namespace fs = std::filesystem;
    const std::string root = fs::path(Helper()).parent_path().parent_path().string();
    const std::string text = tavtest::ReadFile(root + "/db/schema.sql") + tavtest::ReadFile(root + "/db/demo.sql") +
                             tavtest::ReadFile(Helper());
    const fs::path base = fs::temp_directory_path() / ("tavlin-fbserver-template-" + std::to_string(getuid()));
    const fs::path dir = base / std::to_string(std::hash<std::string>{}(text));
    if (fs::exists(dir))
        return dir;
    fs::create_directories(base);
    const fs::path tmp = base / ("build-" + std::to_string(getpid()));
    std::error_code ec;
    fs::remove_all(tmp, ec);
    std::string output;
    if (!RunHelper({"prepare", QString::fromStdString(tmp.string())}, output)) {
        fs::remove_all(tmp, ec);
        throw std::runtime_error("Preparing the database server's folder failed:\n" + output);
    }
    fs::rename(tmp, dir, ec); // atomic; a parallel process that won the race leaves ours behind
    fs::remove_all(tmp, ec);
    return dir;
}

void Signal(const std::string& dir, int signal) {
    const std::string text = tavtest::ReadFile(dir + "/server.pid");
    const int pid = std::atoi(text.c_str());
    if (pid <= 0 || ::kill(pid, signal) != 0)
        throw std::runtime_error("The private database server's process cannot be signalled");
}

} // namespace

PrivateServer::PrivateServer() {
    char pattern[] = "/tmp/tavlin-fbserver-XXXXXX";
    const char* d = mkdtemp(pattern);
    if (!d)
        throw std::runtime_error("Cannot create a temporary folder");
    dir_ = d;
    path_ = dir_ + "/data/tavlin.fdb";
    std::string output;
    try {
        const auto from = Template();
        namespace fs = std::filesystem;
        fs::create_directories(dir_ + "/data");
        fs::copy_file(from / "security3.fdb", dir_ + "/security3.fdb");
        fs::copy_file(from / "data/tavlin.fdb", path_);
        fs::copy(from / "intl", dir_ + "/intl", fs::copy_options::recursive);
    } catch (const std::exception& e) {
        // The helper makes whatever is missing itself, only slower.
        output = e.what();
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = FreePort();
        if (port_ && RunHelper({"start", QString::fromStdString(dir_), QString::number(port_)}, output))
            return;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    throw std::runtime_error("The private database server did not start:\n" + output);
}

PrivateServer::~PrivateServer() {
    // A frozen server could not end.
    try {
        Thaw();
    } catch (const std::exception&) {
    }
    std::string output;
    RunHelper({"stop", QString::fromStdString(dir_)}, output);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void PrivateServer::Stop() {
    std::string output;
    RunHelper({"stop", QString::fromStdString(dir_)}, output);
}

void PrivateServer::Start() {
    // The stations know the server by its port, so it comes back on the same one.
    std::string output;
    if (!RunHelper({"start", QString::fromStdString(dir_), QString::number(port_)}, output))
        throw std::runtime_error("The private database server did not start again:\n" + output);
}

void PrivateServer::Freeze() {
    Signal(dir_, SIGSTOP);
}

void PrivateServer::Thaw() {
    Signal(dir_, SIGCONT);
}

std::unique_ptr<ibx::TIBDatabase> PrivateServer::Connect() const {
    auto db = std::make_unique<ibx::TIBDatabase>();
    db->SetDatabaseName(Server() + ":" + path_);
    db->SetParams({"user_name=SYSDBA", std::string("password=") + Password(), "lc_ctype=UTF8"});
    db->Open();
    return db;
}

} // namespace tavlin::test
