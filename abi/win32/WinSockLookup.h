// Winsock's service lookup in the Bluetooth name space (NS_BTH), served by the simulated air as the
// Microsoft stack sees it: a service search on one device returns one SDP record per result.
#pragma once

#include "win32/WinTypes.h"
#include "win32/abi_winsock.h"

namespace win {

using WSAQUERYSETW = stackabi::ws::WSAQUERYSETW;
using HANDLE_LOOKUP = HANDLE;

inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSA_E_NO_MORE = 10110;
inline constexpr int WSA_INVALID_HANDLE = 6;

// Service search: flags with LUP_RES_SERVICE, lpszContext the device's "(XX:...)" text, lpServiceClassId
// the class (L2CAP_PROTOCOL_UUID for every service). SOCKET_ERROR with WSAGetLastError: 10108 when the
// device offers nothing of that class or must be paired first, WSAENETDOWN without a Microsoft radio,
// WSAEINVAL for a query it does not serve. Failure switch "WSALookupServiceBeginW".
int WSALookupServiceBeginW(const WSAQUERYSETW* restrictions, DWORD flags, HANDLE* lookup);
// One result into the caller's buffer (the record first, what it points to after it). WSA_E_NO_MORE at
// the end, WSAEFAULT (with *bufferLength set to the size needed) when the buffer is too small.
int WSALookupServiceNextW(HANDLE lookup, DWORD flags, DWORD* bufferLength, WSAQUERYSETW* results);
int WSALookupServiceEnd(HANDLE lookup);

} // namespace win
