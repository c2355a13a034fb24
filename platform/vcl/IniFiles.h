// Profile-file access: "[section]" headers and "key=value" lines in UTF-8 text.
//
// Every call reads the file afresh (there is no cache, so a hand edit takes effect at
// the next call) and every write rewrites it atomically through a temporary file and a
// rename, so a crash mid-write leaves either the old or the new file, never half of one.
// Section and key names compare case-insensitively and the first match wins. Comments,
// blank lines and lines this class does not understand are kept byte for byte.
#pragma once

#include "vcl/SysUtils.h"

#include <string>
#include <string_view>
#include <vector>

namespace vcl {

class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

class TIniFile {
public:
    explicit TIniFile(std::u16string fileName);
    explicit TIniFile(std::string_view utf8FileName) : TIniFile(Utf8ToUtf16(utf8FileName)) {}
    explicit TIniFile(const char* utf8FileName) : TIniFile(std::string_view(utf8FileName)) {}

    const std::u16string& FileName() const { return fileName_; }

    // Reads give the value trimmed and without one pair of enclosing quotes; a missing
    // file, section or key gives the default.
    std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                              std::u16string_view defaultValue) const;
    // The value trimmed but with its quotes kept, so a quoted text can be told from a bare one.
    std::u16string ReadRawString(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view defaultValue) const;
    int ReadInteger(std::u16string_view section, std::u16string_view key, int defaultValue) const;
    bool ReadBool(std::u16string_view section, std::u16string_view key, bool defaultValue) const;

    // Writes replace the first matching key in place, else append it to the end of the
    // section's entries, else append a new section at the end; the file is created on
    // first write. Raise EIniFileException when the file cannot be written or when the
    // key or value would break the line structure.
    void WriteString(std::u16string_view section, std::u16string_view key, std::u16string_view value);
    void WriteInteger(std::u16string_view section, std::u16string_view key, int value);
    void WriteBool(std::u16string_view section, std::u16string_view key, bool value);

    // Key names of a section and section names of the file, each once, in file order.
    std::vector<std::u16string> ReadSection(std::u16string_view section) const;
    std::vector<std::u16string> ReadSections() const;
    bool SectionExists(std::u16string_view section) const;
    bool ValueExists(std::u16string_view section, std::u16string_view key) const;

    // Appends an empty section unless one of that name exists (creates the file).
    void CreateSection(std::u16string_view section);

    // Removes every section of that name with all its lines.
    void EraseSection(std::u16string_view section);
    // Removes the key (and any duplicates of it) from the first section of that name.
    void DeleteKey(std::u16string_view section, std::u16string_view key);

private:
    std::u16string fileName_;
};

// Case-insensitive comparison as the profile files use it (ASCII, Latin-1 and Cyrillic letters).
bool IniSameText(std::u16string_view a, std::u16string_view b);

} // namespace vcl
