// Winsock's device inquiry in the Bluetooth name space (NS_BTH), served by the simulated air as the
// Microsoft stack sees it, and the text form of a Bluetooth socket address. The lookup calls themselves
// (WSALookupServiceBeginW with LUP_CONTAINERS, NextW, End) are declared in WinSockLookup.h.
#pragma once

#include "win32/Kernel.h"
#include "win32/WinSockLookup.h"
#include "win32/WinTypes.h"

namespace win {

// The object behind a device inquiry's lookup handle.
class LookupQuery : public KernelObject {
public:
    // One result into the caller's buffer (the record first, what it points to after it); 0, or
    // SOCKET_ERROR with the Winsock error set.
    virtual int Next(DWORD flags, DWORD* bufferLength, WSAQUERYSETW* results) = 0;
};

// Device inquiry: flags with LUP_CONTAINERS, lpBlob a BTH_QUERY_DEVICE whose length is in units of
// 1.28 s. Blocks for the inquiry as the air times it. SOCKET_ERROR with WSAGetLastError: WSAENETDOWN
// without a Microsoft radio, 10108 (WSASERVICE_NOT_FOUND) when no device answered, WSAEINVAL for a query
// it does not serve. Failure switch "WSALookupServiceBeginW" (error: value "WSALookupServiceBeginW",
// default 10108). Journalled as "inquiry <length> flags=<flags>".
int BeginDeviceInquiry(const WSAQUERYSETW* restrictions, DWORD flags, HANDLE* lookup);

// A device result of WSALookupServiceNextW carries one CSADDR_INFO whose remote address is a SOCKADDR_BTH.

// "(XX:XX:XX:XX:XX:XX)" of a SOCKADDR_BTH, most significant byte first, followed by ":<port>" when the
// port is not 0. *length: the buffer's size in characters on entry, the characters written (with the
// NUL) on return; WSAEFAULT (and the size needed) when it is too small, WSAEINVAL for another family.
// Failure switch "WSAAddressToStringW"; "WSAAddressToStringW:garbled" writes a digit that is no digit.
int WSAAddressToStringW(const void* address, DWORD addressLength, const void* protocolInfo, char16_t* text,
                        DWORD* length);

} // namespace win
