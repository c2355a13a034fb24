// Scripted far ends: what answers a link to one phone's channel (or one IrDA device's service) when a test
// wants something other than the phone's Object Push server. The socket layer and the stand-in stacks ask
// here first.
#pragma once

#include "sim/air/Air.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace air {

enum class FarEndMode {
    Echo,       // sends back every byte it reads
    Refuse,     // the connect is refused
    Silence,    // the connect is never answered
    Drop,       // echoes `dropAfter` bytes, then closes its end
    ObjectPush, // the Object Push server of the air's phone `phone` (e.g. its infrared port)
};

struct FarEnd {
    FarEndMode mode = FarEndMode::Echo;
    size_t dropAfter = 0;
    Address phone{};
};

using IrdaDeviceId = std::array<uint8_t, 4>;

void SetRfcommFarEnd(const Address& phone, uint8_t channel, FarEnd script);
void SetIrdaFarEnd(const IrdaDeviceId& device, const std::string& service, FarEnd script);
void ClearFarEnds();

std::optional<FarEnd> FindRfcommFarEnd(const Address& phone, uint8_t channel);
std::optional<FarEnd> FindIrdaFarEnd(const IrdaDeviceId& device, const std::string& service);
// Whether any service of this IrDA device is scripted (the device is then in range).
bool IrdaDeviceKnown(const IrdaDeviceId& device);

// Opens a connected far end of an Echo, Drop or ObjectPush script: the caller's end of a stream socketpair (blocking,
// close-on-exec), served by a thread that ends when the caller closes its end. -1 with errno otherwise.
int OpenFarEnd(const FarEnd& script);
// Far ends still served.
size_t ActiveFarEnds();

} // namespace air
