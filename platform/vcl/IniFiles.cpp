#include "vcl/IniFiles.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace vcl {

namespace {

namespace fs = std::filesystem;

char16_t FoldChar(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 32);
    if (c >= 0x00E0 && c <= 0x00FE && c != 0x00F7)
        return static_cast<char16_t>(c - 32);
    if (c >= 0x0430 && c <= 0x044F)
        return static_cast<char16_t>(c - 32);
    if (c >= 0x0450 && c <= 0x045F)
        return static_cast<char16_t>(c - 80);
    return c;
}

enum class LineKind { Other, Section, Key };

struct Line {
    std::string raw; // without its line terminator
    LineKind kind = LineKind::Other;
    std::u16string name; // section or key name, trimmed
    std::u16string value;
};

struct Document {
    bool bom = false;
    bool crlf = false;
    std::vector<Line> lines;
};

std::u16string TrimView(std::u16string_view s) {
    return Trim(s);
}

std::u16string Unquote(std::u16string_view v) {
    std::u16string t = TrimView(v);
    if (t.size() >= 2 && t.front() == t.back() && (t.front() == u'"' || t.front() == u'\''))
        return t.substr(1, t.size() - 2);
    return t;
}

Line ParseLine(std::string raw) {
    Line line;
    line.raw = std::move(raw);
    std::u16string text = Utf8ToUtf16(line.raw);
    std::u16string trimmed = TrimView(text);
    if (trimmed.empty() || trimmed[0] == u';' || trimmed[0] == u'#')
        return line;
    if (trimmed[0] == u'[') {
        size_t close = trimmed.find(u']');
        if (close != std::u16string::npos) {
            line.kind = LineKind::Section;
            line.name = TrimView(std::u16string_view(trimmed).substr(1, close - 1));
        }
        return line;
    }
    size_t eq = text.find(u'=');
    if (eq == std::u16string::npos)
        return line;
    std::u16string key = TrimView(std::u16string_view(text).substr(0, eq));
    if (key.empty())
        return line;
    line.kind = LineKind::Key;
    line.name = std::move(key);
    line.value = Unquote(std::u16string_view(text).substr(eq + 1));
    return line;
}

std::string FileNameUtf8(const std::u16string& name) {
    return Utf16ToUtf8(name);
}

std::string ErrnoText(int err) {
    return std::strerror(err);
}

// Reads and parses the file. A missing file is an empty document; any other read
// failure gives nullopt with the reason, so a writer never replaces a file it could not read.
std::optional<Document> Load(const std::string& path, std::string* error) {
    Document doc;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return doc;
        if (error)
            *error = ErrnoText(errno);
        return std::nullopt;
    }
    std::string content;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (error)
                *error = ErrnoText(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);

    size_t pos = 0;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        doc.bom = true;
        pos = 3;
    }
    while (pos < content.size()) {
        size_t nl = content.find('\n', pos);
        size_t end = nl == std::string::npos ? content.size() : nl;
        std::string raw = content.substr(pos, end - pos);
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
            doc.crlf = true;
        }
        doc.lines.push_back(ParseLine(std::move(raw)));
        pos = nl == std::string::npos ? content.size() : nl + 1;
    }
    return doc;
}

Document LoadForRead(const std::u16string& fileName) {
    auto doc = Load(FileNameUtf8(fileName), nullptr);
    return doc ? std::move(*doc) : Document{};
}

[[noreturn]] void RaiseWrite(const std::u16string& fileName, const std::string& reason) {
    throw EIniFileException("Unable to write to " + FileNameUtf8(fileName) + ": " + reason);
}

Document LoadForWrite(const std::u16string& fileName) {
    std::string error;
    auto doc = Load(FileNameUtf8(fileName), &error);
    if (!doc)
        RaiseWrite(fileName, "the file cannot be read (" + error + ")");
    return std::move(*doc);
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes through a temporary file in the same folder and renames it over the target.
void Save(const std::u16string& fileName, const Document& doc) {
    const char* eol = doc.crlf ? "\r\n" : "\n";
    std::string content;
    if (doc.bom)
        content = "\xEF\xBB\xBF";
    for (const auto& line : doc.lines) {
        content += line.raw;
        content += eol;
    }

    std::error_code ec;
    fs::path target = fs::path(FileNameUtf8(fileName));
    // Replace the file a link points at, not the link.
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    fs::path dir = target.parent_path();
    if (dir.empty())
        dir = ".";

    mode_t mode = 0666;
    bool keepMode = false;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
        keepMode = true;
    }

    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 rng{std::random_device{}()};
    int fd = -1;
    fs::path temp;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = dir / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
                      std::to_string(counter++) + "-" + std::to_string(rng() % 100000));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        RaiseWrite(fileName, ErrnoText(errno));

    int err = 0;
    if (!WriteAll(fd, content))
        err = errno;
    if (!err && keepMode)
        (void)::fchmod(fd, mode); // best effort: the content matters more than the mode
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err)
        err = errno;
    if (!err && ::rename(temp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.c_str());
        RaiseWrite(fileName, ErrnoText(err));
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// Index of the first section of that name, or -1.
int FindSection(const Document& doc, std::u16string_view section) {
    for (size_t i = 0; i < doc.lines.size(); ++i)
        if (doc.lines[i].kind == LineKind::Section && IniSameText(doc.lines[i].name, section))
            return static_cast<int>(i);
    return -1;
}

// One past the last line belonging to the section whose header is at index header.
size_t SectionEnd(const Document& doc, int header) {
    size_t i = static_cast<size_t>(header) + 1;
    while (i < doc.lines.size() && doc.lines[i].kind != LineKind::Section)
        ++i;
    return i;
}

const Line* FindKey(const Document& doc, std::u16string_view section, std::u16string_view key) {
    int h = FindSection(doc, section);
    if (h < 0)
        return nullptr;
    size_t end = SectionEnd(doc, h);
    for (size_t i = static_cast<size_t>(h) + 1; i < end; ++i)
        if (doc.lines[i].kind == LineKind::Key && IniSameText(doc.lines[i].name, key))
            return &doc.lines[i];
    return nullptr;
}

bool HasLineBreak(std::u16string_view s) {
    return s.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string_view::npos;
}

void CheckNames(const std::u16string& fileName, std::u16string_view section, std::u16string_view key) {
    std::u16string s = TrimView(section);
    if (s.empty() || HasLineBreak(section) || s.find(u']') != std::u16string::npos)
        RaiseWrite(fileName, "invalid section name \"" + Utf16ToUtf8(section) + "\"");
    std::u16string k = TrimView(key);
    if (k.empty() || HasLineBreak(key) || k.find(u'=') != std::u16string::npos || k[0] == u'[' || k[0] == u';' ||
        k[0] == u'#')
        RaiseWrite(fileName, "invalid key name \"" + Utf16ToUtf8(key) + "\"");
}

std::string KeyLine(std::u16string_view key, std::u16string_view value) {
    return Utf16ToUtf8(key) + "=" + Utf16ToUtf8(value);
}

std::mutex& WriteLock() {
    static std::mutex m;
    return m;
}

} // namespace

bool IniSameText(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i]))
            return false;
    return true;
}

TIniFile::TIniFile(std::u16string fileName) : fileName_(std::move(fileName)) {}

std::u16string TIniFile::ReadString(std::u16string_view section, std::u16string_view key,
                                    std::u16string_view defaultValue) const {
    Document doc = LoadForRead(fileName_);
    if (const Line* line = FindKey(doc, section, key))
        return line->value;
    return std::u16string(defaultValue);
}

std::u16string TIniFile::ReadRawString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue) const {
    Document doc = LoadForRead(fileName_);
    if (const Line* line = FindKey(doc, section, key)) {
        const std::u16string text = Utf8ToUtf16(line->raw);
        return TrimView(std::u16string_view(text).substr(text.find(u'=') + 1));
    }
    return std::u16string(defaultValue);
}

int TIniFile::ReadInteger(std::u16string_view section, std::u16string_view key, int defaultValue) const {
    std::u16string s = ReadString(section, key, u"");
    int v = 0;
    return TryStrToInt(s, v) ? v : defaultValue;
}

bool TIniFile::ReadBool(std::u16string_view section, std::u16string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    CheckNames(fileName_, section, key);
    if (HasLineBreak(value))
        RaiseWrite(fileName_, "a value cannot hold a line break (key \"" + Utf16ToUtf8(key) + "\")");
    std::u16string sectionName = TrimView(section);
    std::u16string keyName = TrimView(key);

    std::lock_guard<std::mutex> lock(WriteLock());
    Document doc = LoadForWrite(fileName_);
    int h = FindSection(doc, sectionName);
    if (h < 0) {
        doc.lines.push_back(ParseLine("[" + Utf16ToUtf8(sectionName) + "]"));
        doc.lines.push_back(ParseLine(KeyLine(keyName, value)));
        Save(fileName_, doc);
        return;
    }
    size_t end = SectionEnd(doc, h);
    size_t insertAt = static_cast<size_t>(h) + 1;
    for (size_t i = static_cast<size_t>(h) + 1; i < end; ++i) {
        Line& line = doc.lines[i];
        if (line.kind != LineKind::Key)
            continue;
        if (IniSameText(line.name, keyName)) {
            // Keep the key as the file spells it.
            line = ParseLine(KeyLine(line.name, value));
            Save(fileName_, doc);
            return;
        }
        insertAt = i + 1;
    }
    doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), ParseLine(KeyLine(keyName, value)));
    Save(fileName_, doc);
}

void TIniFile::CreateSection(std::u16string_view section) {
    CheckNames(fileName_, section, u"x");
    std::lock_guard<std::mutex> lock(WriteLock());
    Document doc = LoadForWrite(fileName_);
    if (FindSection(doc, section) >= 0)
        return;
    doc.lines.push_back(ParseLine("[" + Utf16ToUtf8(TrimView(section)) + "]"));
    Save(fileName_, doc);
}

void TIniFile::WriteInteger(std::u16string_view section, std::u16string_view key, int value) {
    WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(std::u16string_view section, std::u16string_view key, bool value) {
    WriteString(section, key, value ? u"1" : u"0");
}

std::vector<std::u16string> TIniFile::ReadSection(std::u16string_view section) const {
    std::vector<std::u16string> keys;
    Document doc = LoadForRead(fileName_);
    int h = FindSection(doc, section);
    if (h < 0)
        return keys;
    size_t end = SectionEnd(doc, h);
    for (size_t i = static_cast<size_t>(h) + 1; i < end; ++i) {
        const Line& line = doc.lines[i];
        if (line.kind != LineKind::Key)
            continue;
        bool seen = false;
        for (const auto& k : keys)
            seen = seen || IniSameText(k, line.name);
        if (!seen)
            keys.push_back(line.name);
    }
    return keys;
}

std::vector<std::u16string> TIniFile::ReadSections() const {
    std::vector<std::u16string> sections;
    Document doc = LoadForRead(fileName_);
    for (const auto& line : doc.lines) {
        if (line.kind != LineKind::Section)
            continue;
        bool seen = false;
        for (const auto& s : sections)
            seen = seen || IniSameText(s, line.name);
        if (!seen)
            sections.push_back(line.name);
    }
    return sections;
}

bool TIniFile::SectionExists(std::u16string_view section) const {
    return FindSection(LoadForRead(fileName_), section) >= 0;
}

bool TIniFile::ValueExists(std::u16string_view section, std::u16string_view key) const {
    return FindKey(LoadForRead(fileName_), section, key) != nullptr;
}

void TIniFile::EraseSection(std::u16string_view section) {
    std::lock_guard<std::mutex> lock(WriteLock());
    Document doc = LoadForWrite(fileName_);
    bool changed = false;
    for (int h = FindSection(doc, section); h >= 0; h = FindSection(doc, section)) {
        size_t end = SectionEnd(doc, h);
        doc.lines.erase(doc.lines.begin() + h, doc.lines.begin() + static_cast<std::ptrdiff_t>(end));
        changed = true;
    }
    if (changed)
        Save(fileName_, doc);
}

void TIniFile::DeleteKey(std::u16string_view section, std::u16string_view key) {
    std::lock_guard<std::mutex> lock(WriteLock());
    Document doc = LoadForWrite(fileName_);
    int h = FindSection(doc, section);
    if (h < 0)
        return;
    size_t end = SectionEnd(doc, h);
    bool changed = false;
    for (size_t i = end; i-- > static_cast<size_t>(h) + 1;) {
        if (doc.lines[i].kind == LineKind::Key && IniSameText(doc.lines[i].name, key)) {
            doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(i));
            changed = true;
        }
    }
    if (changed)
        Save(fileName_, doc);
}

} // namespace vcl
