// A file-backed registry: one profile file per hive, one section per key path.
//
//   $TAVLIN_REGISTRY_DIR, else $XDG_CONFIG_HOME/tavlin/registry, else ~/.config/tavlin/registry
//     HKEY_CURRENT_USER.ini    [SOFTWARE\Maker\Product\Settings]  Path="/data/station.fdb"
//     HKEY_LOCAL_MACHINE.ini
//
// Key paths compare case-insensitively. A key exists when its section or a section of a
// sub-key exists. Strings are stored quoted so that surrounding blanks and quotes survive;
// integers are stored as plain decimals. Opening a key that does not exist fails unless
// asked to create it; a write creates the key. A write that cannot be done raises
// ERegistryException whose message names the file and the reason.
#pragma once

#include "vcl/IniFiles.h"
#include "vcl/SysUtils.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vcl {

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

using HKEY = std::uint32_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

// The folder holding the hive files, from the environment at the time of the call.
std::string RegistryDirectory();
// Full path of a hive's file; raises ERegistryException for a root other than the two above.
std::string RegistryHiveFile(HKEY root);

class TRegistry {
public:
    TRegistry() = default;
    explicit TRegistry(HKEY root) { SetRootKey(root); }

    HKEY RootKey() const { return root_; }
    void SetRootKey(HKEY root); // closes the current key
    // The open key's path without leading backslash; empty when none is open.
    const std::u16string& CurrentPath() const { return current_; }

    // A path starting with "\" is absolute, otherwise relative to the open key.
    // Returns false when the key does not exist and canCreate is false; creating a key
    // that cannot be written raises ERegistryException.
    bool OpenKey(std::u16string_view key, bool canCreate);
    bool OpenKeyReadOnly(std::u16string_view key);
    void CloseKey();
    bool KeyExists(std::u16string_view key) const;
    // Deletes the key with all its sub-keys; false when it did not exist.
    bool DeleteKey(std::u16string_view key);

    bool ValueExists(std::u16string_view name) const;
    // Raise ERegistryException when no key is open; a missing value reads as empty text.
    std::u16string ReadString(std::u16string_view name) const;
    // Raises ERegistryException when the value is missing or not a number.
    int ReadInteger(std::u16string_view name) const;
    void WriteString(std::u16string_view name, std::u16string_view value);
    void WriteInteger(std::u16string_view name, int value);
    bool DeleteValue(std::u16string_view name);

private:
    std::u16string Resolve(std::u16string_view key) const;
    TIniFile Hive() const;
    void RequireOpen(std::u16string_view what) const;
    void RequireWritable(std::u16string_view name) const;

    HKEY root_ = HKEY_CURRENT_USER;
    std::u16string current_;
    bool open_ = false;
    bool readOnly_ = false;
};

// Normalised key path: no leading, trailing or doubled backslashes.
std::u16string NormalizeKeyPath(std::u16string_view key);

} // namespace vcl
