// Address texts and the byte orders of the stacks' records.
//
// A Bluetooth address text is "(XX:XX:XX:XX:XX:XX)" (19 characters, first pair most significant), an
// IrDA address text "(XX:XX:XX:XX)" (13 characters). Produced texts use upper-case digits.
#pragma once

#include "win32/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vyr {

inline constexpr char16_t EmptyBluetoothAddress[] = u"(00:00:00:00:00:00)";
inline constexpr char16_t EmptyIrDAAddress[] = u"(00:00:00:00)";

// The two hexadecimal digits of `text` at the 1-based position `pos` (either case), 0..255.
// Anything else, a pair cut short by the end of the text included, raises vcl::EConvertError.
int HexPairToByte(const std::u16string& text, int pos);

// The parsers read the pairs at 1-based positions 2, 5, 8, 11, 14, 17 (IrDA: 2, 5, 8, 11). They expect a
// text that passed the validator; for any other text they raise vcl::EConvertError and write nothing.
// BlueSoleil extended device record (size 132) and device record (size 84): offsets 4..9, reversed.
void AddressTextToBtDeviceInfoEx(const std::u16string& text, void* record);
void AddressTextToBtDeviceInfo(const std::u16string& text, void* record);
// The Microsoft device record (560 bytes): offsets 8..13, reversed.
void AddressTextToMsDeviceInfo(const std::u16string& text, void* record);
// A plain 6-byte array in text order (Toshiba, WidComm, BlueSoleil's newer interface).
void AddressTextToBytes(const std::u16string& text, std::uint8_t* bytes);
// An IrDA socket address (16-bit family, then the 4-byte device id): offsets 2..5, reversed.
void AddressTextToIrDADeviceId(const std::u16string& text, void* sockaddr);

// "(%.2X:...)" of `count` bytes (6 for Bluetooth, 4 for IrDA). `reversed` reads a little-endian layout
// (the last byte first), as in the Microsoft record or the IrDA device id.
std::u16string BytesToAddressText(const std::uint8_t* bytes, std::size_t count = 6, bool reversed = false);

// Length, brackets and separators at their places, and a hexadecimal digit (either case) at every
// digit position.
bool IsValidBluetoothAddressText(const std::u16string& text);
bool IsValidIrDAAddressText(const std::u16string& text);

// The GUID as a 128-bit UUID in big-endian (network) order: {00001105-0000-1000-8000-00805F9B34FB}
// gives 00 00 11 05 00 00 10 00 80 00 00 80 5F 9B 34 FB.
void GuidToBytes(const win::GUID& guid, std::uint8_t (&bytes)[16]);

// True when the system reports the NT family, version 6 or later.
bool IsVistaOrLater();

} // namespace vyr
