// Keeps a call on a database server's connection from waiting without end for a server that
// no longer answers (a stopped server process, a server host gone from the network, a dropped
// link). What counts is the server's silence, not how long the work takes: every answer (a row,
// a blob segment, a statement's or a commit's reply) starts the count again, and a server busy
// with one long call still answers a ping on a small side attachment of its own, which counts
// as an answer too. When the connection's call time-out passes in silence, the connection is
// cut from the watchdog's own thread and the call fails as a lost connection. The embedded
// engine's calls are never cut: nothing between it and the caller can stop answering.
#pragma once

#include "ibx/IBDatabase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace ibx {

// Bounds the calls made while it lives. Nested bounds of one connection are one call to the
// watchdog, armed by the outermost; an inner one ending is an answer of the server.
class TIBCallBound {
public:
    explicit TIBCallBound(TIBDatabase* db);
    ~TIBCallBound();
    TIBCallBound(const TIBCallBound&) = delete;
    TIBCallBound& operator=(const TIBCallBound&) = delete;

    // The server answered part of the call under way on `db` (a blob segment, say).
    static void Answered(TIBDatabase* db);
    // The program is ending: from now on a call (those under way too) is cut after half a
    // second of silence, and no side check keeps it. Any thread.
    static void ProcessEnding();

private:
    TIBDatabase* db_ = nullptr;
    std::uint64_t token_ = 0;
    bool inner_ = false;
};

// A small attachment of its own to a connection's server, asked whether the server still
// answers while a long call keeps the connection itself silent. It lives on threads of its own:
// a server that does not answer holds only them.
class TIBSideProbe : public std::enable_shared_from_this<TIBSideProbe> {
public:
    explicit TIBSideProbe(TIBDatabase::TAttachRequest request);
    ~TIBSideProbe();
    TIBSideProbe(const TIBSideProbe&) = delete;
    TIBSideProbe& operator=(const TIBSideProbe&) = delete;

    // Starts one ping unless one is under way; `answered` runs on the ping's thread when the
    // server answered it.
    void Ask(std::function<void()> answered);
    // The connection it stood beside is gone: a ping under way is cut, and the attachment goes
    // with the last thread that uses it.
    void Drop();

private:
    const TIBDatabase::TAttachRequest request_;
    std::mutex mutex_;
    bool asking_ = false;
    bool dropped_ = false;
    unsigned int handle_ = 0;
};

} // namespace ibx
