// A private database server for tests and benchmarks, started and ended through scripts/fbserver:
// its own folder, port, lock folder and security database, and the station database made from
// db/schema.sql (with the demo campaign). The object ends the server by its process id.
#pragma once

#include "ibx/IBDatabase.h"

#include <memory>
#include <string>

namespace tavlin::test {

class PrivateServer {
public:
    // Throws std::runtime_error with the helper's output when the server does not start.
    PrivateServer();
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    int Port() const { return port_; }
    // As a station's Server and Path settings hold them.
    std::string Server() const { return "localhost/" + std::to_string(port_); }
    const std::string& Path() const { return path_; }
    static const char* Password() { return "quandorel"; }
    // A new connection through the server (user SYSDBA, UTF8), open.
    std::unique_ptr<ibx::TIBDatabase> Connect() const;

    // Ends the server, as a shop's server that goes down would; its database stays.
    void Stop();
    // Starts it again on the same port; throws std::runtime_error when it does not start.
    void Start();
    // Holds the server process (SIGSTOP) as a hung server or a host gone from the network would
    // be: its port still takes connections, nothing answers. Thaw lets it go on.
    void Freeze();
    void Thaw();

private:
    std::string dir_;
    std::string path_;
    int port_ = 0;
};

} // namespace tavlin::test
