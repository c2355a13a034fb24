// The socket subset the connectors use: Bluetooth RFCOMM (AF_BTH) and IrDA (AF_IRDA) stream sockets in
// event-select mode, served by the simulated air.
//
// A SOCKET is a real file descriptor. Until it connects it is a placeholder; connect puts the link in its
// place (the air's phone, a scripted far end, or the bridge endpoint of a bridged phone), non-blocking,
// so send/recv/select behave as on a socket. WSAEventSelect records network events the way the system
// does: FD_CONNECT once, FD_READ re-armed by each recv, FD_CLOSE once the peer has closed and every byte
// was read. Errors are the Windows numbers (WSAGetLastError).
//
// Failure switches: "socket", "setsockopt", "WSAEventSelect", "WSAAsyncSelect", "WSAEnumNetworkEvents",
// "connect", "send", "recv", "WSAStringToAddressW".
#pragma once

#include "win32/WinSock.h"
#include "win32/abi_winsock.h"

namespace win {

using SOCKET = UINT_PTR;
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
using WSAEVENT = HANDLE;

using namespace stackabi::ws;

inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAEMFILE = 10024;

struct WSANETWORKEVENTS {
    LONG lNetworkEvents;
    int iErrorCode[FD_MAX_EVENTS];
};

inline constexpr int FD_SETSIZE_WS = 64;
// The system's socket set: a count and an array (not the Linux bit set).
struct fd_set {
    unsigned int fd_count;
    SOCKET fd_array[FD_SETSIZE_WS];
};
struct timeval {
    LONG tv_sec;
    LONG tv_usec;
};

SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
// Event-selected sockets: SOCKET_ERROR with WSAEWOULDBLOCK, the outcome comes as FD_CONNECT. Others: the
// outcome at once.
int connect(SOCKET s, const void* name, int namelen);
int send(SOCKET s, const char* buf, int len, int flags);
inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;
// Ends one or both directions; a select waiting on the socket then sees it readable (end of stream).
int shutdown(SOCKET s, int how);
int recv(SOCKET s, char* buf, int len, int flags);
// nfds is ignored; a null timeout waits without limit. Returns the number of ready sockets, and leaves
// only those in the sets.
int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout);

WSAEVENT WSACreateEvent(); // manual reset, not signalled
BOOL WSACloseEvent(WSAEVENT event);
int WSAEventSelect(SOCKET s, WSAEVENT event, LONG networkEvents);
// Selects the socket to a window instead of an event: while the socket is readable (bytes, or the end of
// the stream) the window's thread gets `msg` (wParam = the socket, lParam = FD_READ, or FD_CLOSE when only
// that is asked), one at a time, the next after a recv. Ends event selection; a null window with no
// events ends this selection. The notices come from the window's own thread's message wait: no other
// thread is woken for them.
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, LONG events);
// Takes the recorded events (and resets the event when one is given).
int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, WSANETWORKEVENTS* events);
// AF_BTH: "(XX:XX:XX:XX:XX:XX)" (parentheses optional) into a SOCKADDR_BTH.
int WSAStringToAddressW(const char16_t* text, int family, void* protocolInfo, void* address, int* addressLength);

namespace test {
// Sockets open now (for leak checks).
int OpenSocketCount();
} // namespace test

} // namespace win
