#include "vyrLoaders.h"

#include <array>

namespace vyr {

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
