// A small TCP relay between a station and its database server, standing in for the network a
// shop reaches its server through: the test steers it while connections run through it (a thin
// line, a path that drops after the first exchanges, a server host gone while the station's side
// of the connection stays open). It listens on a free loopback port of its own and passes every
// connection it takes to the server's port, each in both directions, on a thread of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace tavlin::test {

class TcpRelay {
public:
    // Throws std::runtime_error when it cannot listen.
    explicit TcpRelay(int serverPort);
    // Closes every connection at once (both sides) and ends its threads.
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int Port() const;
    // As a station's Server setting holds it.
    std::string Server() const { return "localhost/" + std::to_string(Port()); }

    // Bytes per second passed from the server to the station, over all connections together;
    // 0: as fast as they come. Applies at once, to connections open and new.
    void SetThrottle(std::size_t bytesPerSecond);
    // Each connection taken from now on passes only its first `answers` reads from the server to
    // the station; whatever the server sends after that is swallowed, and the station's side stays
    // open. -1 (the default): everything passes. Connections already open keep their count.
    void PassFirstAnswers(int answers);
    // While held, nothing passes from the server to the station on any connection (it waits in
    // the relay, in order, and goes on when released). The station's bytes still reach the server.
    void Hold();
    void Release();
    // When the server closes a connection, the station's side of it is kept open and nothing more
    // passes (as when a server host goes down and no reset arrives); otherwise it is closed too.
    void KeepStationSideOpen(bool keep);
    // Closes the station's side of every connection kept open so far.
    void CloseKept();

    // How many connections it took so far, and how many reads from the server it passed.
    int Connections() const;
    long AnswersPassed() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tavlin::test
