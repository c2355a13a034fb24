// The station's radios and the phones the tests put on the simulated air.
#pragma once

#include "sim/air/Air.h"

#include <cstdint>
#include <string>

namespace tavtest {

// A phone that takes files by Object Push on channel 9 into inbox; bonded with the station
// unless told otherwise.
air::Phone PushPhone(const air::Address& address, const std::string& name, const std::string& inbox,
                     bool paired = true);

// A station radio of that stack kind on the air (or unplugged), told apart by the last byte of
// its address, (00:11:22:33:44:last).
void PlugRadio(int stack, std::uint8_t last, bool present = true);

// A phone's address as a folder name: its hexadecimal digits, "(00:1E:3A:00:00:01)" -> "001E3A000001".
std::string AddressFolder(const std::string& address);

} // namespace tavtest
