#include "vyrLoaders.h"

#include <array>

namespace vyr {

// ---- Loaders whose unit is not written yet: the stack or transport counts as absent. ----
bool IrDALoaderPresent(win::HWND) {
    return false;
}
void FreeIrDALoader() {}
bool WiFiLoaderPresent(win::HWND) {
    return false;
}
void FreeWiFiLoader() {}
bool RapiLoaderPresent(win::HWND) {
    return false;
}
void FreeRapiLoader() {}
bool BlueSoleilLoaderPresent(win::HWND) {
    return false;
}
void FreeBlueSoleilLoader() {}
// ---- end of the stand-in pairs ----

TvyrLoaderEntry& LoaderEntry(TvyrLoaderKind kind) {
    static std::array<TvyrLoaderEntry, LoaderKindCount> table{{
        {IrDALoaderPresent, FreeIrDALoader},
        {WiFiLoaderPresent, FreeWiFiLoader},
        {RapiLoaderPresent, FreeRapiLoader},
        {MicrosoftLoaderPresent, FreeMicrosoftLoader},
        {ToshibaLoaderPresent, FreeToshibaLoader},
        {BlueSoleilLoaderPresent, FreeBlueSoleilLoader},
        {WidCommLoaderPresent, FreeWidCommLoader},
    }};
    return table[static_cast<int>(kind)];
}

} // namespace vyr
