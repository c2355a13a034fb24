#include "vyrFuncs.h"

#include "vcl/SysUtils.h"
#include "win32/WinBase.h"

#include <array>
#include <cstring>

namespace vyr {
namespace {

// Every pair is converted before anything is written, so a bad text leaves the record as it was.
template <std::size_t N> std::array<std::uint8_t, N> ReadPairs(const std::u16string& text) {
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = static_cast<std::uint8_t>(HexPairToByte(text, static_cast<int>(2 + 3 * i)));
    return out;
}

void WriteReversed(const std::array<std::uint8_t, 6>& pairs, void* record, std::size_t offset) {
    auto* p = static_cast<std::uint8_t*>(record) + offset;
    for (std::size_t i = 0; i < 6; ++i)
        p[5 - i] = pairs[i];
}

bool IsValidText(const std::u16string& text, std::size_t pairs) {
    const std::size_t length = pairs * 3 + 1;
    if (text.size() != length || text.front() != u'(' || text.back() != u')')
        return false;
    for (std::size_t i = 1; i + 1 < length; ++i) {
        bool separator = i % 3 == 0;
        if (separator ? text[i] != u':' : vcl::HexDigit(text[i]) < 0)
            return false;
    }
    return true;
}

} // namespace

int HexPairToByte(const std::u16string& text, int pos) {
    std::u16string pair;
    if (pos >= 1 && static_cast<std::size_t>(pos) + 1 <= text.size())
        pair = text.substr(static_cast<std::size_t>(pos) - 1, 2);
    if (pair.size() != 2 || vcl::HexDigit(pair[0]) < 0 || vcl::HexDigit(pair[1]) < 0)
        throw vcl::EConvertError(vcl::Format(u"'%s' is not a valid integer value", u"$" + pair));
    return vcl::HexDigit(pair[0]) * 16 + vcl::HexDigit(pair[1]);
}

void AddressTextToBtDeviceInfoEx(const std::u16string& text, void* record) {
    WriteReversed(ReadPairs<6>(text), record, 4);
}

void AddressTextToBtDeviceInfo(const std::u16string& text, void* record) {
    WriteReversed(ReadPairs<6>(text), record, 4);
}

void AddressTextToMsDeviceInfo(const std::u16string& text, void* record) {
    WriteReversed(ReadPairs<6>(text), record, 8);
}

void AddressTextToBytes(const std::u16string& text, std::uint8_t* bytes) {
    auto pairs = ReadPairs<6>(text);
    std::memcpy(bytes, pairs.data(), pairs.size());
}

void AddressTextToIrDADeviceId(const std::u16string& text, void* sockaddr) {
    auto pairs = ReadPairs<4>(text);
    auto* p = static_cast<std::uint8_t*>(sockaddr) + 2;
    for (std::size_t i = 0; i < 4; ++i)
        p[3 - i] = pairs[i];
}

std::u16string BytesToAddressText(const std::uint8_t* bytes, std::size_t count, bool reversed) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string text = u"(";
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t b = bytes[reversed ? count - 1 - i : i];
        if (i)
            text += u':';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text + u")";
}

bool IsValidBluetoothAddressText(const std::u16string& text) {
    return IsValidText(text, 6);
}
bool IsValidIrDAAddressText(const std::u16string& text) {
    return IsValidText(text, 4);
}

void GuidToBytes(const win::GUID& guid, std::uint8_t (&bytes)[16]) {
    bytes[0] = static_cast<std::uint8_t>(guid.Data1 >> 24);
    bytes[1] = static_cast<std::uint8_t>(guid.Data1 >> 16);
    bytes[2] = static_cast<std::uint8_t>(guid.Data1 >> 8);
    bytes[3] = static_cast<std::uint8_t>(guid.Data1);
    bytes[4] = static_cast<std::uint8_t>(guid.Data2 >> 8);
    bytes[5] = static_cast<std::uint8_t>(guid.Data2);
    bytes[6] = static_cast<std::uint8_t>(guid.Data3 >> 8);
    bytes[7] = static_cast<std::uint8_t>(guid.Data3);
    std::memcpy(bytes + 8, guid.Data4, 8);
}

bool IsVistaOrLater() {
    win::OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return win::GetVersionExA(&info) && info.dwPlatformId == win::VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 6;
}

} // namespace vyr
