// The binary interface shared by the library's stack loaders and the stand-in vendor libraries.
//
// Every record here is declared once and used by both sides, so a stand-in and a loader cannot drift
// apart. Only <cstdint>/<cstddef>: the platform's own Win32 types are not needed to read these.
//
// Layout note for all abi.h headers: the vendor records were defined for 32-bit Windows. Our loaders and
// stand-ins are both x86-64 Linux builds, so records without pointers keep their original byte layout
// exactly (checked by static_assert), while records that carry pointers use the natural x86-64 layout and
// say which size they have; their size fields then carry sizeof() of our declaration.
//
// Entry points are declared extern "C" in each library's namespace, and each PFN_ typedef is the type of
// that declaration, which a loader casts GetProcAddress's result to. A stand-in defines its exports inside
// the same namespace (namespace stackabi::wd { extern "C" Bool32 WD_Init(...) {...} }): only there does the
// compiler reject a definition whose signature differs from the declaration.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stackabi {

// Windows scalar types, spelled with fixed widths.
using Bool32 = int32_t;   // BOOL: 0 false, anything else true
using Handle = void*;     // HANDLE, HMODULE and other opaque handles
using Hwnd = void*;       // HWND
using WParam = uintptr_t; // WPARAM
using LParam = intptr_t;  // LPARAM
using WChar = char16_t;   // WCHAR
using HResult = int32_t;  // HRESULT

// A GUID in its memory layout (Data1..Data3 little-endian on this machine, Data4 as bytes).
struct AbiGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    AbiGuid() = default; // trivial, so records holding a GUID stay trivially copyable; `AbiGuid g{}` is zero
    constexpr AbiGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4,
                      uint8_t b5, uint8_t b6, uint8_t b7)
        : Data1(d1), Data2(d2), Data3(d3), Data4{b0, b1, b2, b3, b4, b5, b6, b7} {}

    // "0850302A-B344-4FDA-9BE9-90576B8D46F0", braces optional. Compile time only, so a mistyped
    // constant fails the build instead of comparing unequal at run time.
    template <size_t N> static consteval AbiGuid FromText(const char (&text)[N]) {
        size_t at = 0;
        size_t end = N - 1;
        if (end == 38 && text[0] == '{' && text[37] == '}') {
            at = 1;
            end = 37;
        }
        if (end - at != 36)
            throw "GUID text must have 36 characters";
        auto hex = [&](size_t digits) {
            uint32_t value = 0;
            for (size_t i = 0; i < digits; ++i, ++at) {
                const char c = text[at];
                uint32_t d = 0;
                if (c >= '0' && c <= '9')
                    d = uint32_t(c - '0');
                else if (c >= 'A' && c <= 'F')
                    d = uint32_t(c - 'A' + 10);
                else if (c >= 'a' && c <= 'f')
                    d = uint32_t(c - 'a' + 10);
                else
                    throw "GUID text has a non-hexadecimal digit";
                value = value << 4 | d;
            }
            return value;
        };
        auto dash = [&] {
            if (text[at++] != '-')
                throw "GUID text has a misplaced '-'";
        };
        AbiGuid g{};
        g.Data1 = hex(8);
        dash();
        g.Data2 = uint16_t(hex(4));
        dash();
        g.Data3 = uint16_t(hex(4));
        dash();
        g.Data4[0] = uint8_t(hex(2));
        g.Data4[1] = uint8_t(hex(2));
        dash();
        for (int i = 2; i < 8; ++i)
            g.Data4[i] = uint8_t(hex(2));
        return g;
    }

    friend constexpr bool operator==(const AbiGuid&, const AbiGuid&) = default;
};
static_assert(sizeof(AbiGuid) == 16);
static_assert(offsetof(AbiGuid, Data2) == 4 && offsetof(AbiGuid, Data3) == 6 && offsetof(AbiGuid, Data4) == 8);

// 00000000-0000-1000-8000-00805F9B34FB: a 16- or 32-bit Bluetooth UUID goes into Data1 of this.
inline constexpr AbiGuid BLUETOOTH_BASE_UUID = AbiGuid::FromText("00000000-0000-1000-8000-00805F9B34FB");

inline constexpr AbiGuid BluetoothUuid16(uint16_t uuid16) {
    AbiGuid g = BLUETOOTH_BASE_UUID;
    g.Data1 = uuid16;
    return g;
}

// Bluetooth device address bytes as the stacks pass them. Which order (text order or reversed) is stated
// per stack.
inline constexpr size_t BD_ADDR_SIZE = 6;

} // namespace stackabi

// Helpers for the X-macro lists of entry-point names: ABI_XX_NAMES(ABI_ENTRY_NAME) expands to a list of
// string literals, in resolve order.
#define ABI_ENTRY_NAME(name) #name,
// An entry point the loader resolves by position but whose name is not known (BlueSoleil).
#define ABI_UNNAMED_ENTRY(index) nullptr,
