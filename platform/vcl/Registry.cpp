#include "vcl/Registry.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vcl {

namespace {

namespace fs = std::filesystem;

std::string EnvOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool StartsWithText(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && IniSameText(s.substr(0, prefix.size()), prefix);
}

[[noreturn]] void RaiseWriteFailure(const std::string& file, const std::string& reason) {
    throw ERegistryException("Unable to write the settings store " + file + ": " + reason);
}

void EnsureHiveFolder(const std::string& file) {
    fs::path dir = fs::path(file).parent_path();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir))
        RaiseWriteFailure(file, "the folder " + dir.string() + " cannot be created (" +
                                    (ec ? ec.message() : std::string("not a folder")) + ")");
}

} // namespace

std::string RegistryDirectory() {
    std::string dir = EnvOrEmpty("TAVLIN_REGISTRY_DIR");
    if (!dir.empty())
        return dir;
    std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
    if (config.empty()) {
        std::string home = EnvOrEmpty("HOME");
        config = (home.empty() ? std::string(".") : home) + "/.config";
    }
    return config + "/tavlin/registry";
}

std::string RegistryHiveFile(HKEY root) {
    switch (root) {
    case HKEY_CURRENT_USER:
        return RegistryDirectory() + "/HKEY_CURRENT_USER.ini";
    case HKEY_LOCAL_MACHINE:
        return RegistryDirectory() + "/HKEY_LOCAL_MACHINE.ini";
    default:
        throw ERegistryException("Unsupported registry root key " + Utf16ToUtf8(IntToHex(root, 8)));
    }
}

std::u16string NormalizeKeyPath(std::u16string_view key) {
    std::u16string out;
    size_t i = 0;
    while (i < key.size()) {
        while (i < key.size() && key[i] == u'\\')
            ++i;
        size_t start = i;
        while (i < key.size() && key[i] != u'\\')
            ++i;
        if (i > start) {
            if (!out.empty())
                out += u'\\';
            out.append(key.substr(start, i - start));
        }
    }
    return out;
}

void TRegistry::SetRootKey(HKEY root) {
    RegistryHiveFile(root); // validates
    CloseKey();
    root_ = root;
}

std::u16string TRegistry::Resolve(std::u16string_view key) const {
    if (!key.empty() && key[0] == u'\\')
        return NormalizeKeyPath(key);
    if (!open_ || current_.empty())
        return NormalizeKeyPath(key);
    return NormalizeKeyPath(current_ + u"\\" + std::u16string(key));
}

TIniFile TRegistry::Hive() const {
    return TIniFile(RegistryHiveFile(root_));
}

bool TRegistry::KeyExists(std::u16string_view key) const {
    std::u16string path = Resolve(key);
    if (path.empty())
        return true;
    std::u16string prefix = path + u"\\";
    for (const auto& section : Hive().ReadSections()) {
        std::u16string s = NormalizeKeyPath(section);
        if (IniSameText(s, path) || StartsWithText(s, prefix))
            return true;
    }
    return false;
}

bool TRegistry::OpenKey(std::u16string_view key, bool canCreate) {
    std::u16string path = Resolve(key);
    if (!KeyExists(u"\\" + path)) {
        if (!canCreate)
            return false;
        std::string file = RegistryHiveFile(root_);
        EnsureHiveFolder(file);
        try {
            TIniFile(file).CreateSection(path);
        } catch (const EIniFileException& e) {
            throw ERegistryException(e.Message());
        }
    }
    current_ = path;
    open_ = true;
    readOnly_ = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(std::u16string_view key) {
    if (!OpenKey(key, false))
        return false;
    readOnly_ = true;
    return true;
}

void TRegistry::CloseKey() {
    current_.clear();
    open_ = false;
    readOnly_ = false;
}

bool TRegistry::DeleteKey(std::u16string_view key) {
    std::u16string path = Resolve(key);
    if (path.empty())
        throw ERegistryException("The root key cannot be deleted");
    std::u16string prefix = path + u"\\";
    TIniFile hive = Hive();
    bool found = false;
    try {
        for (const auto& section : hive.ReadSections()) {
            std::u16string s = NormalizeKeyPath(section);
            if (IniSameText(s, path) || StartsWithText(s, prefix)) {
                hive.EraseSection(section);
                found = true;
            }
        }
    } catch (const EIniFileException& e) {
        throw ERegistryException(e.Message());
    }
    if (found && open_ && (IniSameText(current_, path) || StartsWithText(current_, prefix)))
        CloseKey();
    return found;
}

void TRegistry::RequireOpen(std::u16string_view what) const {
    if (!open_ || current_.empty())
        throw ERegistryException("No registry key is open to access '" + Utf16ToUtf8(what) + "'");
}

void TRegistry::RequireWritable(std::u16string_view name) const {
    RequireOpen(name);
    if (readOnly_)
        throw ERegistryException("Failed to set data for '" + Utf16ToUtf8(name) + "': the key is open read-only");
}

bool TRegistry::ValueExists(std::u16string_view name) const {
    if (!open_ || current_.empty())
        return false;
    return Hive().ValueExists(current_, name);
}

std::u16string TRegistry::ReadString(std::u16string_view name) const {
    RequireOpen(name);
    return Hive().ReadString(current_, name, u"");
}

int TRegistry::ReadInteger(std::u16string_view name) const {
    RequireOpen(name);
    TIniFile hive = Hive();
    if (!hive.ValueExists(current_, name))
        throw ERegistryException("Failed to get data for '" + Utf16ToUtf8(name) + "'");
    int v = 0;
    if (!TryStrToInt(hive.ReadString(current_, name, u""), v))
        throw ERegistryException("Invalid data type for '" + Utf16ToUtf8(name) + "'");
    return v;
}

void TRegistry::WriteString(std::u16string_view name, std::u16string_view value) {
    RequireWritable(name);
    std::string file = RegistryHiveFile(root_);
    EnsureHiveFolder(file);
    try {
        // Quoted, so blanks and quotes at either end survive the profile-file trimming.
        TIniFile(file).WriteString(current_, name, u"\"" + std::u16string(value) + u"\"");
    } catch (const EIniFileException& e) {
        throw ERegistryException(e.Message());
    }
}

void TRegistry::WriteInteger(std::u16string_view name, int value) {
    RequireWritable(name);
    std::string file = RegistryHiveFile(root_);
    EnsureHiveFolder(file);
    try {
        TIniFile(file).WriteInteger(current_, name, value);
    } catch (const EIniFileException& e) {
        throw ERegistryException(e.Message());
    }
}

bool TRegistry::DeleteValue(std::u16string_view name) {
    RequireWritable(name);
    TIniFile hive = Hive();
    if (!hive.ValueExists(current_, name))
        return false;
    try {
        hive.DeleteKey(current_, name);
    } catch (const EIniFileException& e) {
        throw ERegistryException(e.Message());
    }
    return true;
}

} // namespace vcl
