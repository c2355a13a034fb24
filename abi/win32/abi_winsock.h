// Winsock records and constants for the Bluetooth (AF_BTH, NS_BTH) and IrDA (AF_IRDA) families, shared by
// the platform's socket layer, the simulated Microsoft stack behind it, and the library's connectors and
// discovery. Only what the library uses.
//
// A few Windows names are also macros in the Linux socket headers with other values (AF_IRDA, SOL_SOCKET,
// SO_RCVBUF, SO_SNDBUF, SO_REUSEADDR, SOCK_STREAM); those carry a WS_ prefix here so both can be included.
#pragma once

#include "stacks/abi_common.h"

namespace stackabi::ws {

using BTH_ADDR = uint64_t; // low 48 bits, least significant byte first in memory

inline constexpr int32_t AF_BTH = 32;
inline constexpr int32_t WS_AF_IRDA = 26;
inline constexpr int32_t WS_SOCK_STREAM = 1;
inline constexpr int32_t BTHPROTO_RFCOMM = 3;

// Socket options.
inline constexpr int32_t WS_SOL_SOCKET = 0xFFFF;
inline constexpr int32_t WS_SO_REUSEADDR = 0x0004;
inline constexpr int32_t WS_SO_SNDBUF = 0x1001;
inline constexpr int32_t WS_SO_RCVBUF = 0x1002;
inline constexpr int32_t SOL_RFCOMM = 3; // = BTHPROTO_RFCOMM
inline constexpr int32_t SO_BTH_AUTHENTICATE = int32_t(0x80000001u);
inline constexpr int32_t SO_BTH_ENCRYPT = 2;
inline constexpr int32_t SOL_IRLMP = 255;
inline constexpr int32_t IRLMP_9WIRE_MODE = 22;

// Network events of event-select mode.
inline constexpr int32_t FD_READ = 0x01;
inline constexpr int32_t FD_WRITE = 0x02;
inline constexpr int32_t FD_CONNECT = 0x10;
inline constexpr int32_t FD_CLOSE = 0x20;
inline constexpr int32_t FD_READ_BIT = 0;
inline constexpr int32_t FD_CONNECT_BIT = 4;
inline constexpr int32_t FD_CLOSE_BIT = 5;
inline constexpr int32_t FD_MAX_EVENTS = 10;

// Name space and lookup flags of WSALookupServiceBeginW.
inline constexpr uint32_t NS_BTH = 16;
inline constexpr uint32_t LUP_CONTAINERS = 0x0002;
inline constexpr uint32_t LUP_RETURN_NAME = 0x0010;
inline constexpr uint32_t LUP_RETURN_TYPE = 0x0020;
inline constexpr uint32_t LUP_RETURN_COMMENT = 0x0080;
inline constexpr uint32_t LUP_RETURN_ADDR = 0x0100;
inline constexpr uint32_t LUP_RETURN_BLOB = 0x0200;
inline constexpr uint32_t LUP_FLUSHCACHE = 0x1000;
inline constexpr uint32_t LUP_RES_SERVICE = 0x8000;
// Device inquiry and service search as the library asks them.
inline constexpr uint32_t kDeviceInquiryFlags = LUP_CONTAINERS | LUP_RETURN_ADDR | LUP_FLUSHCACHE;
inline constexpr uint32_t kServiceSearchFlags = LUP_RES_SERVICE | LUP_FLUSHCACHE | LUP_RETURN_BLOB | LUP_RETURN_ADDR |
                                                LUP_RETURN_COMMENT | LUP_RETURN_TYPE | LUP_RETURN_NAME;
static_assert(kDeviceInquiryFlags == 0x1102);
static_assert(kServiceSearchFlags == 0x93B0);

// Socket error numbers (WSAGetLastError and the network events' error codes).
inline constexpr int32_t WSAEACCES = 10013;
inline constexpr int32_t WSAEINVAL = 10022;
inline constexpr int32_t WSAEWOULDBLOCK = 10035;
inline constexpr int32_t WSAEADDRINUSE = 10048;
inline constexpr int32_t WSAEADDRNOTAVAIL = 10049; // no such service on the peer
inline constexpr int32_t WSAECONNABORTED = 10053;
inline constexpr int32_t WSAEISCONN = 10056;
inline constexpr int32_t WSAETIMEDOUT = 10060;
inline constexpr int32_t WSAECONNREFUSED = 10061;
inline constexpr int32_t WSAEHOSTDOWN = 10064;
inline constexpr int32_t WSASERVICE_NOT_FOUND = 10108; // lookup found nothing (or the device wants pairing)

// The protocol the service search asks for when no service class is given.
inline constexpr AbiGuid L2CAP_PROTOCOL_UUID = AbiGuid::FromText("00000100-0000-1000-8000-00805F9B34FB");

// ---- Socket addresses: no pointers, so the Windows byte layout is kept exactly ----
#pragma pack(push, 1)
// Packed on Windows too: the 64-bit address sits at offset 2.
struct SOCKADDR_BTH {
    uint16_t addressFamily; // AF_BTH
    BTH_ADDR btAddr;
    AbiGuid serviceClassId;
    uint32_t port; // RFCOMM channel; 0 = look the service class up
};
#pragma pack(pop)
static_assert(sizeof(SOCKADDR_BTH) == 30);
static_assert(offsetof(SOCKADDR_BTH, btAddr) == 2);
static_assert(offsetof(SOCKADDR_BTH, serviceClassId) == 10);
static_assert(offsetof(SOCKADDR_BTH, port) == 26);

struct SOCKADDR_IRDA {
    uint16_t irdaAddressFamily; // WS_AF_IRDA
    uint8_t irdaDeviceID[4];    // the address text's 4 bytes reversed
    char irdaServiceName[25];   // 8-bit text, NUL-terminated
};
static_assert(sizeof(SOCKADDR_IRDA) == 32);
static_assert(offsetof(SOCKADDR_IRDA, irdaDeviceID) == 2);
static_assert(offsetof(SOCKADDR_IRDA, irdaServiceName) == 6);

#pragma pack(push, 1)
// The restriction blob of a device inquiry.
struct BTH_QUERY_DEVICE {
    uint32_t LAP;   // 0: general inquiry
    uint8_t length; // inquiry length as the caller's Timeout
};
#pragma pack(pop)
static_assert(sizeof(BTH_QUERY_DEVICE) == 5);
static_assert(offsetof(BTH_QUERY_DEVICE, length) == 4);

// ---- Lookup records: these carry pointers, so they have the natural x86-64 layout; the sizes the
// library fills in are sizeof() of these (WSAQUERYSETW is 120 bytes here, 60 on 32-bit Windows). ----
#pragma pack(push, 8)

struct BLOB {
    uint32_t cbSize;
    uint8_t* pBlobData;
};
static_assert(sizeof(BLOB) == 16);

struct SOCKET_ADDRESS {
    void* lpSockaddr; // a SOCKADDR_BTH in the NS_BTH name space
    int32_t iSockaddrLength;
};
static_assert(sizeof(SOCKET_ADDRESS) == 16);

struct CSADDR_INFO {
    SOCKET_ADDRESS LocalAddr;
    SOCKET_ADDRESS RemoteAddr; // the found device (inquiry) or service (search)
    int32_t iSocketType;
    int32_t iProtocol;
};
static_assert(sizeof(CSADDR_INFO) == 40);

// The query and result record. In a result the pointers point into the caller's result buffer, right
// after the record. Members the library leaves null are typed void*.
struct WSAQUERYSETW {
    uint32_t dwSize; // sizeof(WSAQUERYSETW)
    char16_t* lpszServiceInstanceName;
    AbiGuid* lpServiceClassId; // service search: the class, or L2CAP_PROTOCOL_UUID for all
    void* lpVersion;
    char16_t* lpszComment;
    uint32_t dwNameSpace; // NS_BTH
    AbiGuid* lpNSProviderId;
    char16_t* lpszContext; // service search: the device's address text, parentheses included
    uint32_t dwNumberOfProtocols;
    void* lpafpProtocols;
    char16_t* lpszQueryString;
    uint32_t dwNumberOfCsAddrs;
    CSADDR_INFO* lpcsaBuffer;
    uint32_t dwOutputFlags;
    BLOB* lpBlob; // inquiry: a BTH_QUERY_DEVICE; service search result: one SDP service record
};
static_assert(sizeof(WSAQUERYSETW) == 120);
static_assert(offsetof(WSAQUERYSETW, dwNameSpace) == 40);
static_assert(offsetof(WSAQUERYSETW, lpszContext) == 56);
static_assert(offsetof(WSAQUERYSETW, lpcsaBuffer) == 96);
static_assert(offsetof(WSAQUERYSETW, lpBlob) == 112);
// The original 32-bit record's size, for reference: 15 four-byte members.
inline constexpr uint32_t kWsaQuerySetSize32 = 60;

#pragma pack(pop)

} // namespace stackabi::ws
