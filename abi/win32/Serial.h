// Serial ports: CreateFileW("\\.\COM<n>") and the communication calls the serial connector makes.
//
// COM<n> is the path of that name in the COM folder ($TAVLIN_COM_DIR; entries are links to ttys or
// pseudo-terminals), else /dev/ttyS<n-1>. A port is opened once at a time and always put in raw mode.
// Overlapped reads that cannot complete at once are carried by the port's own I/O thread and end with the
// record's event; CancelIo returns only when no read touches the caller's buffer any more. Writes always
// complete before WriteFile returns (bounded by the port's write time-out).
// Modem-line calls that a pseudo-terminal refuses count as success.
//
// Failure switches: "CreateFileW", "SetCommState", "SetCommTimeouts", "PurgeComm", "SetupComm",
// "EscapeCommFunction", "ReadFile", "WriteFile".
#pragma once

#include "win32/WinTypes.h"

#include <string>

namespace win {

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 1;
inline constexpr DWORD FILE_SHARE_WRITE = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_IO_INCOMPLETE = 996;
inline constexpr DWORD ERROR_IO_PENDING = 997;

struct OVERLAPPED {
    ULONG_PTR Internal;     // status: 0, an error, or pending
    ULONG_PTR InternalHigh; // bytes transferred
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;   // NOPARITY 0, ODDPARITY 1, EVENPARITY 2, MARKPARITY 3, SPACEPARITY 4
    BYTE StopBits; // ONESTOPBIT 0, ONE5STOPBITS 1, TWOSTOPBITS 2
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
static_assert(sizeof(DCB) == 28);

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

struct COMSTAT {
    DWORD flags;
    DWORD cbInQue;
    DWORD cbOutQue;
};

inline constexpr DWORD PURGE_TXABORT = 1;
inline constexpr DWORD PURGE_RXABORT = 2;
inline constexpr DWORD PURGE_TXCLEAR = 4;
inline constexpr DWORD PURGE_RXCLEAR = 8;
inline constexpr DWORD SETRTS = 3;
inline constexpr DWORD CLRRTS = 4;
inline constexpr DWORD SETDTR = 5;
inline constexpr DWORD CLRDTR = 6;

// Only COM ports exist here ("\\.\COM<n>" or "COM<n>", n 1 to 255); anything else: ERROR_FILE_NOT_FOUND.
// A port already open: ERROR_ACCESS_DENIED.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD creation, DWORD flags,
                   HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written, OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
BOOL CancelIo(HANDLE file);

BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommState(HANDLE file, const DCB* dcb);
BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat);

// The path COM<n> opens (the COM folder's entry, else /dev/ttyS<n-1>).
std::string ComPortPath(unsigned number);

namespace test {
// The descriptor behind a port handle, -1 for anything else (tests inspect its terminal settings).
int PortDescriptor(HANDLE file);
} // namespace test

} // namespace win
