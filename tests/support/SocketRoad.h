// A transport road over a connected stream socket, for tests and benchmarks: the far end is a
// simulated phone's Object Push server (a socketpair) or a real server reached over loopback TCP.
#pragma once

#include "vyrAPI.h"
#include "vyrTransportRoad.h"

#include <functional>
#include <string>

namespace tavtest {

// Opens the link for one Connect: a connected stream socket the road then owns, or -1.
using LinkOpener = std::function<int()>;

// While an object of this class lives, every client connection's road is a socket road whose
// link comes from opener, and the library is loaded (serial transport available).
class SocketRoads {
public:
    explicit SocketRoads(LinkOpener opener);
    ~SocketRoads();
    SocketRoads(const SocketRoads&) = delete;
    SocketRoads& operator=(const SocketRoads&) = delete;

    void SetOpener(LinkOpener opener);
    // Bytes the clients wrote so far, over every road made.
    long long BytesWritten() const;

private:
    vyr::TvyrAPI api_;
};

// A connected socket to 127.0.0.1:port, or -1.
int ConnectTcp(int port, int timeoutMs);

} // namespace tavtest
