#include "win32/Registry.h"
#include "vcl/SysUtils.h"

#include "vcl/IniFiles.h"
#include "vcl/Registry.h"
#include "sim/win32/Testing.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace win {
namespace {

struct OpenKey {
    vcl::HKEY root;
    std::u16string path; // normalised
};

struct Keys {
    std::mutex mu;
    std::map<std::uintptr_t, OpenKey> open;
    std::uintptr_t next = 0x4E000;
};

Keys& K() {
    static Keys* k = new Keys;
    return *k;
}

std::optional<vcl::HKEY> HiveOf(HKEY key) {
    if (key == HKEY_CURRENT_USER)
        return vcl::HKEY_CURRENT_USER;
    if (key == HKEY_LOCAL_MACHINE)
        return vcl::HKEY_LOCAL_MACHINE;
    return std::nullopt;
}

// The hive and path a handle stands for: a hive's root or an open key.
std::optional<OpenKey> Resolve(HKEY key) {
    if (auto hive = HiveOf(key))
        return OpenKey{*hive, {}};
    std::lock_guard lock(K().mu);
    auto it = K().open.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == K().open.end())
        return std::nullopt;
    return it->second;
}

std::u16string Text(LPCWSTR s) {
    return s ? std::u16string(s) : std::u16string();
}

std::string Narrow(const std::u16string& s) {
    return vcl::Utf16ToUtf8(s);
}

std::string BinaryText(const BYTE* data, DWORD size) {
    std::string out = "hex:";
    char pair[4];
    for (DWORD i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, i ? ",%02x" : "%02x", data[i]);
        out += pair;
    }
    return out;
}

// "hex:41,42,00" back into bytes; nullopt when the text is not a binary value.
std::optional<std::vector<BYTE>> ParseBinary(std::u16string_view text) {
    if (text.size() < 4 || !vcl::IniSameText(text.substr(0, 4), u"hex:"))
        return std::nullopt;
    std::vector<BYTE> bytes;
    size_t i = 4;
    while (i < text.size()) {
        if (!bytes.empty()) {
            if (text[i] != u',')
                return std::nullopt;
            ++i;
        }
        if (i + 2 > text.size())
            return std::nullopt;
        const int hi = vcl::HexDigit(text[i]), lo = vcl::HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(static_cast<BYTE>(hi * 16 + lo));
        i += 2;
    }
    return bytes;
}

} // namespace

LONG RegOpenKeyW(HKEY key, LPCWSTR subKey, HKEY* result) {
    const std::u16string sub = Text(subKey);
    test::Record("RegOpenKeyW", Narrow(sub));
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (test::ShouldFail("RegOpenKeyW"))
        return ERROR_ACCESS_DENIED;
    auto base = Resolve(key);
    if (!base)
        return ERROR_INVALID_HANDLE;
    OpenKey opened{base->root, vcl::NormalizeKeyPath(base->path + u"\\" + sub)};
    try {
        vcl::TRegistry reg(opened.root);
        if (opened.path.empty() || !reg.KeyExists(u"\\" + opened.path))
            return ERROR_FILE_NOT_FOUND;
    } catch (const vcl::Exception&) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::lock_guard lock(K().mu);
    const std::uintptr_t id = K().next;
    K().next += 4;
    K().open.emplace(id, std::move(opened));
    *result = reinterpret_cast<HKEY>(id);
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    const std::u16string name = Text(valueName);
    test::Record("RegSetValueExW",
                 Narrow(name) + " type=" + std::to_string(type) + " " + (data ? BinaryText(data, dataSize) : "null"));
    if (test::ShouldFail("RegSetValueExW"))
        return ERROR_ACCESS_DENIED;
    if (type != REG_BINARY || (!data && dataSize != 0))
        return ERROR_INVALID_PARAMETER;
    auto target = Resolve(key);
    if (!target || HiveOf(key))
        return ERROR_INVALID_HANDLE; // values live in keys, not at a hive's root
    try {
        vcl::TIniFile(vcl::RegistryHiveFile(target->root))
            .WriteString(target->path, name, vcl::Utf8ToUtf16(BinaryText(data, dataSize)));
    } catch (const vcl::Exception&) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize) {
    const std::u16string name = Text(valueName);
    test::Record("RegQueryValueExW", Narrow(name));
    if (test::ShouldFail("RegQueryValueExW"))
        return ERROR_ACCESS_DENIED;
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;
    auto target = Resolve(key);
    if (!target || HiveOf(key))
        return ERROR_INVALID_HANDLE;
    std::vector<BYTE> bytes;
    DWORD kind = REG_BINARY;
    try {
        vcl::TIniFile hive(vcl::RegistryHiveFile(target->root));
        if (!hive.ValueExists(target->path, name))
            return ERROR_FILE_NOT_FOUND;
        // Raw, so that a quoted string of the class library never reads as a binary value.
        if (auto binary = ParseBinary(hive.ReadRawString(target->path, name, u""))) {
            bytes = std::move(*binary);
        } else {
            const std::u16string text = hive.ReadString(target->path, name, u"");
            kind = REG_SZ;
            bytes.resize((text.size() + 1) * sizeof(char16_t), 0);
            std::memcpy(bytes.data(), text.data(), text.size() * sizeof(char16_t));
        }
    } catch (const vcl::Exception&) {
        return ERROR_ACCESS_DENIED;
    }
    if (type)
        *type = kind;
    if (!dataSize)
        return ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(bytes.size());
    const DWORD room = *dataSize;
    *dataSize = needed;
    if (!data)
        return ERROR_SUCCESS;
    if (room < needed)
        return ERROR_MORE_DATA;
    if (needed)
        std::memcpy(data, bytes.data(), needed);
    return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    const std::u16string name = Text(valueName);
    test::Record("RegDeleteValueW", Narrow(name));
    if (test::ShouldFail("RegDeleteValueW"))
        return ERROR_ACCESS_DENIED;
    auto target = Resolve(key);
    if (!target || HiveOf(key))
        return ERROR_INVALID_HANDLE;
    try {
        vcl::TIniFile hive(vcl::RegistryHiveFile(target->root));
        if (!hive.ValueExists(target->path, name))
            return ERROR_FILE_NOT_FOUND;
        hive.DeleteKey(target->path, name);
    } catch (const vcl::Exception&) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    test::Record("RegCloseKey", test::HandleText(key));
    if (HiveOf(key))
        return ERROR_SUCCESS;
    std::lock_guard lock(K().mu);
    return K().open.erase(reinterpret_cast<std::uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace test {
int OpenRegistryKeyCount() {
    std::lock_guard lock(K().mu);
    return static_cast<int>(K().open.size());
}
} // namespace test
} // namespace win
