// Window messages of the library (WM_USER = 1024). A number's meaning depends on the window that gets it:
// the Toshiba stack reuses 1025, 1026, 1033 and 1034 on private windows of its own.
#pragma once

#include "win32/WinTypes.h"

namespace vyr {

inline constexpr win::UINT WM_TRANSPORT_CHANGED = win::WM_USER + 1;         // 1025 loader -> API window
inline constexpr win::UINT WM_BLUETOOTH_API_CHANGED = win::WM_USER + 2;     // 1026 loader/bridge -> API window
inline constexpr win::UINT WM_LINK_LOST = win::WM_USER + 3;                 // 1027 transport -> connection window
inline constexpr win::UINT WM_API_UNLOADED = win::WM_USER + 4;              // 1028 sent to every listener
inline constexpr win::UINT WM_API_CHANGED = win::WM_USER + 5;               // 1029 posted to every listener
inline constexpr win::UINT WM_DISCOVERY_STARTED = win::WM_USER + 6;         // 1030
inline constexpr win::UINT WM_DISCOVERY_COMPLETED = win::WM_USER + 7;       // 1031
inline constexpr win::UINT WM_TOSHIBA_DISCOVERY_NOTIFY = win::WM_USER + 8;  // 1032
inline constexpr win::UINT WM_TOSHIBA_SDP_CONNECT = win::WM_USER + 9;       // 1033 private Toshiba windows
inline constexpr win::UINT WM_TOSHIBA_SDP_SEARCH = win::WM_USER + 10;       // 1034 private Toshiba windows
inline constexpr win::UINT WM_WIDCOMM_DISCOVERY_RESULT = win::WM_USER + 11; // 1035
inline constexpr win::UINT WM_CONNECT_RESULT = win::WM_USER + 12;           // 1036
inline constexpr win::UINT WM_DATA_PENDING = win::WM_USER + 13;             // 1037
inline constexpr win::UINT WM_WIDCOMM_DATA = win::WM_USER + 15;             // 1039
inline constexpr win::UINT WM_WIDCOMM_DELAYED_CLOSE = win::WM_USER + 16;    // 1040
inline constexpr win::UINT WM_TOSHIBA_PORT_READY = win::WM_USER + 17;       // 1041
inline constexpr win::UINT WM_TOSHIBA_CONNECT_STATUS = win::WM_USER + 18;   // 1042
inline constexpr win::UINT WM_TOSHIBA_COMM_STATUS = win::WM_USER + 19;      // 1043
inline constexpr win::UINT WM_TOSHIBA_CHANNEL_FOUND = win::WM_USER + 20;    // 1044
inline constexpr win::UINT WM_BLUESOLEIL_NOTIFY = win::WM_USER + 23;        // 1047
inline constexpr win::UINT WM_DISCOVERY_FINISH = win::WM_USER + 29;         // 1053 discovery -> itself
inline constexpr win::UINT WM_WIDCOMM_CLIENTS_RELEASED = win::WM_USER + 30; // 1054 -> API window
inline constexpr win::UINT WM_SOCKET_NOTIFY = win::WM_USER + 31;            // 1055 socket -> connection window

static_assert(WM_TRANSPORT_CHANGED == 1025 && WM_API_UNLOADED == 1028 && WM_WIDCOMM_DATA == 1039);
static_assert(WM_BLUESOLEIL_NOTIFY == 1047 && WM_WIDCOMM_CLIENTS_RELEASED == 1054);

// Window timer ids.
inline constexpr win::UINT_PTR CONNECT_TIMER_ID = 1;    // a connection's connect time-out
inline constexpr win::UINT_PTR LINK_TIMER_ID = 2;       // a connection's 1000 ms link check
inline constexpr win::UINT_PTR OBEX_TIMER_ID = 3;       // an OBEX client's time-out
inline constexpr win::UINT_PTR SEND_DELAY_TIMER_ID = 3; // a proximity sender's send delay
inline constexpr win::UINT_PTR SLEEP_TIMER_ID = 4;      // a proximity sender's sleep

} // namespace vyr
