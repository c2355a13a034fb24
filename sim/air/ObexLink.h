// Links to the simulated phones: a socketpair whose far end is served by the phone's
// Object Push server on a thread of its own, or a connection to an external endpoint
// that stands in for the phone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/air/Air.h"

namespace air {

// Opens a link to the phone's Object Push server and returns the caller's end (a blocking,
// close-on-exec stream socket; the caller owns it and closes it to end the link), or -1 with
// errno set. A bridged phone is reached through its endpoint instead. The server thread
// honours the phone's behaviour: silence reads without answering, a drop closes its end,
// a delay holds every response back.
int OpenObexLink(const Phone& phone);

// Opens a link as a stack's RFCOMM connect would: checks the radio, the phone's reach,
// its link policy and the channel (0 takes the Object Push service's channel).
// errno: ENETDOWN no such radio, EHOSTUNREACH phone unknown or out of reach,
// ECONNREFUSED link refused or no service on that channel, EACCES not paired when it must be.
int ConnectRfcomm(int stackKind, const Address& address, uint8_t channel);

// "tcp:HOST:PORT" (numeric IPv4 or "localhost") or a path to a tty or pseudo-terminal.
// Returns a connected descriptor or -1 with errno set.
int OpenBridge(const std::string& endpoint);

// Server threads still running (finished ones are reaped first).
size_t ActiveObexLinks();
// CPU seconds used by the server threads that have ended, since the process started.
double ObexLinkCpuSeconds();
// The most links open at one time since the last reset, counted as each link opens; a link
// counts until either side ends it.
size_t ObexLinkHighWater();
void ResetObexLinkHighWater();
// Ends every server thread and closes their ends; the callers' ends then read end-of-file.
void StopObexLinks();

} // namespace air
