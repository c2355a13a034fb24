// Keeps a call on a database server's connection from waiting without end for a server that
// no longer answers (a stopped server process, a server host gone from the network, a dropped
// link): when the call has not returned within the connection's call time-out, the connection
// is cut from the watchdog's own thread and the call fails as a lost connection. The embedded
// engine's calls are never cut: nothing between it and the caller can stop answering.
#pragma once

#include <cstdint>

namespace ibx {

class TIBDatabase;

// Bounds the calls made while it lives; nested bounds of one connection count once, from the
// outermost.
class TIBCallBound {
public:
    explicit TIBCallBound(TIBDatabase* db);
    ~TIBCallBound();
    TIBCallBound(const TIBCallBound&) = delete;
    TIBCallBound& operator=(const TIBCallBound&) = delete;

private:
    TIBDatabase* db_ = nullptr;
    std::uint64_t token_ = 0;
};

} // namespace ibx
