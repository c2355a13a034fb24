// The seam between the API object and the stack and transport loaders.
//
// Each loader unit (vyrIrDA, vyrWlan, vyrRAPI, vyrMicrosoft, vyrToshiba, vyrBlueSoleil, vyrWidComm)
// defines its probe and its free function declared here. A unit that is not written yet has a stand-in
// pair in vyrLoaders.cpp that reports "absent": adding a unit means deleting its pair there.
//
// TvyrAPI reaches the loaders only through LoaderEntry(), so a test can put its own functions in the
// table to watch the order of probes and frees (restore the entry afterwards).
#pragma once

#include "win32/WinTypes.h"

namespace vyr {

// The probe builds the loader on first use, keeping apiWindow as the window it reports to, and says
// whether the stack or transport is present. The free function frees the loader if it exists.
bool IrDALoaderPresent(win::HWND apiWindow);
void FreeIrDALoader();
bool WiFiLoaderPresent(win::HWND apiWindow);
void FreeWiFiLoader();
bool RapiLoaderPresent(win::HWND apiWindow);
void FreeRapiLoader();
bool MicrosoftLoaderPresent(win::HWND apiWindow);
void FreeMicrosoftLoader();
bool ToshibaLoaderPresent(win::HWND apiWindow);
void FreeToshibaLoader();
bool BlueSoleilLoaderPresent(win::HWND apiWindow);
void FreeBlueSoleilLoader();
bool WidCommLoaderPresent(win::HWND apiWindow);
void FreeWidCommLoader();

enum class TvyrLoaderKind { IrDA, WiFi, Rapi, Microsoft, Toshiba, BlueSoleil, WidComm };
inline constexpr int LoaderKindCount = 7;

struct TvyrLoaderEntry {
    bool (*Present)(win::HWND apiWindow);
    void (*Free)();
};

// The live entry of one loader; defaults to the functions above.
TvyrLoaderEntry& LoaderEntry(TvyrLoaderKind kind);

} // namespace vyr
