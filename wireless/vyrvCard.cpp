#include "vyrvCard.h"

#include "vcl/SysUtils.h"

const std::array<std::u16string_view, 6> AddressTypeNames = {u"DOM", u"INTL", u"POSTAL", u"PARCEL", u"HOME", u"WORK"};
const std::array<std::u16string_view, 13> PhoneTypeNames = {u"PREF", u"WORK", u"HOME",  u"VOICE", u"FAX",
                                                            u"MSG",  u"CELL", u"PAGER", u"BBS",   u"MODEM",
                                                            u"CAR",  u"ISDN", u"VIDEO"};
const std::array<std::u16string_view, 13> EmailTypeNames = {
    u"",        u"AOL",     u"APPLELINK",  u"ATTMAIL", u"CIS", u"EWORLD", u"INTERNET",
    u"IBMMAIL", u"MCIMAIL", u"POWERSHARE", u"PRODIGY", u"TLX", u"X400"};

namespace {

// The system code page is UTF-8 on this platform.
std::string Narrow(std::u16string_view s) {
    return vcl::Utf16ToUtf8(s);
}
std::u16string Widen(std::string_view s) {
    return vcl::Utf8ToUtf16(s);
}

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameTextA(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

bool ContainsNoCase(std::string_view text, std::string_view what) {
    if (what.size() > text.size())
        return false;
    for (size_t i = 0; i + what.size() <= text.size(); ++i)
        if (SameTextA(text.substr(i, what.size()), what))
            return true;
    return false;
}

bool IsTrimChar(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view TrimView(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsTrimChar(s[b]))
        ++b;
    while (e > b && IsTrimChar(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string TrimA(std::string_view s) {
    return std::string(TrimView(s));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "=XX" becomes the byte XX; a soft line break ("=" before a line end, or a lone "="
// at the very end) disappears; anything else after "=" is a malformed value.
std::string DecodeQuotedPrintable(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    size_t i = 0;
    const size_t n = v.size();
    while (i < n) {
        char c = v[i];
        if (c != '=') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 == n)
            break;
        if (v[i + 1] == '\r' || v[i + 1] == '\n') {
            i += (v[i + 1] == '\r' && i + 2 < n && v[i + 2] == '\n') ? 3 : 2;
            continue;
        }
        if (i + 2 < n && HexDigit(v[i + 1]) >= 0 && HexDigit(v[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(v[i + 1]) * 16 + HexDigit(v[i + 2]));
            i += 3;
            continue;
        }
        std::string bad(v.substr(i, 3));
        throw vcl::EConvertError(vcl::Format(u"'%s' is not a valid quoted-printable escape", bad));
    }
    return out;
}

char16_t Iso88595ToUtf16(unsigned char b) {
    if (b < 0xA1)
        return b;
    if (b == 0xAD)
        return 0x00AD;
    if (b == 0xF0)
        return 0x2116;
    if (b == 0xFD)
        return 0x00A7;
    return static_cast<char16_t>(0x0401 + (b - 0xA1));
}

std::u16string DecodeIso88595(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s)
        out += Iso88595ToUtf16(static_cast<unsigned char>(c));
    return out;
}

// Splits at ";". Every piece before a ";" counts, even when empty; the piece after the
// last one only when it is not empty. In values "\;" is a ";" that belongs to the text.
TvyrStringList SplitAtSemicolons(std::string_view s, bool escapes) {
    TvyrStringList out;
    std::string cur;
    for (size_t i = 0; i < s.size(); ++i) {
        if (escapes && s[i] == '\\' && i + 1 < s.size() && s[i + 1] == ';') {
            cur += ';';
            ++i;
        } else if (s[i] == ';') {
            out.push_back(std::move(cur));
            cur.clear();
        } else {
            cur += s[i];
        }
    }
    if (!cur.empty())
        out.push_back(std::move(cur));
    return out;
}

std::u16string EscapeSemicolons(std::u16string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char16_t c : s) {
        if (c == u';')
            out += u'\\';
        out += c;
    }
    return out;
}

// A plain property stays on its line: a line break in its text would start a new property.
std::string PlainValue(std::u16string_view s) {
    std::string out = Narrow(s);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

std::u16string Entry(const TvyrStringList& values, size_t i) {
    return i < values.size() ? Widen(values[i]) : std::u16string();
}

bool HasParam(const TvyrStringList& params, std::u16string_view word) {
    std::string w = Narrow(word);
    for (const auto& p : params)
        if (SameTextA(p, w))
            return true;
    return false;
}

template <size_t N> std::string TypeWords(unsigned types, const std::array<std::u16string_view, N>& table) {
    std::string out;
    for (size_t k = 0; k < N; ++k)
        if (types & (1u << k)) {
            out += ';';
            out += Narrow(table[k]);
        }
    return out;
}

template <size_t N>
unsigned TypesFromParams(const TvyrStringList& params, const std::array<std::u16string_view, N>& table) {
    unsigned types = 0;
    for (size_t k = 0; k < N; ++k)
        if (HasParam(params, table[k]))
            types |= 1u << k;
    return types;
}

bool AnyNotEmpty(std::initializer_list<const std::u16string*> fields) {
    for (auto* f : fields)
        if (!f->empty())
            return true;
    return false;
}

// Length of the UTF-8 sequence starting at s[i], or 1 when it is not a whole sequence.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    auto b = static_cast<unsigned char>(s[i]);
    size_t len = b >= 0xF0 && b <= 0xF7 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (b >= 0xF8 || i + len > s.size())
        return 1;
    for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 1;
    return len;
}

} // namespace

std::string WriteProperty(std::u16string_view Name, const std::vector<std::u16string>& Values) {
    static const char kHex[] = "0123456789ABCDEF";
    const int kMaxLine = 75;
    std::string result = Narrow(Name) + ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
    std::string data;
    for (size_t i = 0; i < Values.size(); ++i) {
        if (i > 0)
            data += ';';
        data += Narrow(EscapeSemicolons(Values[i]));
    }
    int counter = static_cast<int>(result.size());
    size_t i = 0;
    while (i < data.size()) {
        // A character's encoded bytes stay on one line, so line-wise decoders see whole characters.
        size_t len = Utf8SequenceLength(data, i);
        if (counter + 3 * static_cast<int>(len) > kMaxLine) {
            result += "=\r\n";
            counter = 0;
        }
        for (size_t k = 0; k < len; ++k, ++i) {
            auto b = static_cast<unsigned char>(data[i]);
            if (b == ';') {
                result += ';';
                counter += 1;
            } else {
                result += '=';
                result += kHex[b >> 4];
                result += kHex[b & 0xF];
                counter += 3;
            }
        }
    }
    return result;
}

// ---- TvyrPropertyParser

TvyrPropertyParser::TvyrPropertyParser(TvyrStringList* Lines) : Lines(Lines) {}

void TvyrPropertyParser::Parse(std::u16string_view Name) {
    Params.clear();
    Values.clear();
    if (!Lines)
        return;
    const std::string name = Narrow(Name);
    size_t idx = 0;
    for (; idx < Lines->size(); ++idx) {
        const std::string& line = (*Lines)[idx];
        if (line.size() > name.size() && SameTextA(std::string_view(line).substr(0, name.size()), name) &&
            (line[name.size()] == ':' || line[name.size()] == ';'))
            break;
    }
    if (idx == Lines->size())
        return;
    // The property's lines are read in place and taken out of Lines in one go at the end: taking them one
    // by one would move the rest of the list for every continuation line.
    const auto& lines = *Lines;
    size_t next = idx + 1;
    std::string text = std::move((*Lines)[idx]);

    if (ContainsNoCase(text, "QUOTED-PRINTABLE")) {
        for (;;) {
            size_t end = text.size();
            while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t'))
                --end;
            if (end == 0 || text[end - 1] != '=')
                break;
            text.resize(end - 1);
            if (next >= lines.size() || lines[next].empty())
                break;
            const std::string& line = lines[next++];
            if (line[0] == ' ' || line[0] == '\t') {
                text += ' ';
                text += TrimView(line);
            } else {
                text += line;
            }
        }
    } else {
        while (next < lines.size() && !lines[next].empty() && (lines[next][0] == ' ' || lines[next][0] == '\t')) {
            text += ' ';
            text += TrimView(lines[next++]);
        }
    }
    Lines->erase(Lines->begin() + static_cast<std::ptrdiff_t>(idx), Lines->begin() + static_cast<std::ptrdiff_t>(next));

    text = TrimA(text);
    if (text.empty())
        return;
    size_t colon = text.find(':');
    std::string head = colon == std::string::npos ? std::string() : text.substr(0, colon);
    std::string value = colon == std::string::npos ? text : text.substr(colon + 1);

    if (ContainsNoCase(head, "QUOTED-PRINTABLE"))
        value = DecodeQuotedPrintable(TrimA(value));
    std::u16string decoded;
    if (head.find("UTF-8") != std::string::npos)
        decoded = vcl::Utf8ToUtf16(value);
    else if (head.find("ISO-8859-5") != std::string::npos)
        decoded = DecodeIso88595(value);
    else
        decoded = Widen(value);

    Params = SplitAtSemicolons(head, false);
    Values = SplitAtSemicolons(Narrow(decoded), true);
}

// ---- records

void TvyrCompanyRec::Clear() {
    Unit.clear();
    Name.clear();
}

void TvyrCompanyRec::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    TvyrPropertyParser p(Lines);
    p.Parse(u"ORG");
    Name = Entry(p.Values, 0);
    Unit = Entry(p.Values, 1);
}

void TvyrCompanyRec::SaveToStrings(TvyrStringList* Lines) const {
    if (Lines && AnyNotEmpty({&Name, &Unit}))
        Lines->push_back(WriteProperty(u"ORG", {Name, Unit}));
}

void TvyrBusinessInfo::Clear() {
    Company.Clear();
    Role.clear();
    Title.clear();
}

void TvyrBusinessInfo::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    Company.LoadFromStrings(Lines);
    TvyrPropertyParser p(Lines);
    p.Parse(u"TITLE");
    Title = Entry(p.Values, 0);
    p.Parse(u"ROLE");
    Role = Entry(p.Values, 0);
}

void TvyrBusinessInfo::SaveToStrings(TvyrStringList* Lines) const {
    if (!Lines)
        return;
    Company.SaveToStrings(Lines);
    if (!Title.empty())
        Lines->push_back(WriteProperty(u"TITLE", {Title}));
    if (!Role.empty())
        Lines->push_back(WriteProperty(u"ROLE", {Role}));
}

void TvyrAddressRec::Clear() {
    Types = 0;
    Country.clear();
    ExtendedAddress.clear();
    Locality.clear();
    PostOfficeBox.clear();
    PostalCode.clear();
    Region.clear();
    Street.clear();
}

void TvyrAddressRec::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    TvyrPropertyParser p(Lines);
    p.Parse(u"ADR");
    PostOfficeBox = Entry(p.Values, 0);
    ExtendedAddress = Entry(p.Values, 1);
    Street = Entry(p.Values, 2);
    Locality = Entry(p.Values, 3);
    Region = Entry(p.Values, 4);
    PostalCode = Entry(p.Values, 5);
    Country = Entry(p.Values, 6);
    Types = static_cast<uint8_t>(TypesFromParams(p.Params, AddressTypeNames));
}

void TvyrAddressRec::SaveToStrings(TvyrStringList* Lines) const {
    if (!Lines || !AnyNotEmpty({&PostOfficeBox, &ExtendedAddress, &Street, &Locality, &Region, &PostalCode, &Country}))
        return;
    std::u16string name = u"ADR" + Widen(TypeWords(Types, AddressTypeNames));
    Lines->push_back(
        WriteProperty(name, {PostOfficeBox, ExtendedAddress, Street, Locality, Region, PostalCode, Country}));
}

void TvyrDeliveryInfo::Clear() {
    Address1.Clear();
    Address2.Clear();
}

void TvyrDeliveryInfo::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    Address1.LoadFromStrings(Lines);
    Address2.LoadFromStrings(Lines);
}

void TvyrDeliveryInfo::SaveToStrings(TvyrStringList* Lines) const {
    Address1.SaveToStrings(Lines);
    Address2.SaveToStrings(Lines);
}

void TvyrExplanatoryInfo::Clear() {
    Notes.clear();
    Url1.clear();
    Url2.clear();
}

void TvyrExplanatoryInfo::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    TvyrPropertyParser p(Lines);
    p.Parse(u"NOTE");
    Notes.insert(Notes.end(), p.Values.begin(), p.Values.end());
    p.Parse(u"URL");
    Url1 = Entry(p.Values, 0);
    p.Parse(u"URL");
    Url2 = Entry(p.Values, 0);
}

void TvyrExplanatoryInfo::SaveToStrings(TvyrStringList* Lines) const {
    if (!Lines)
        return;
    if (!Notes.empty()) {
        std::string text;
        for (const auto& n : Notes)
            text += n + "\r\n";
        Lines->push_back(WriteProperty(u"NOTE", {Widen(text)}));
    }
    if (!Url1.empty())
        Lines->push_back("URL:" + PlainValue(Url1));
    if (!Url2.empty())
        Lines->push_back("URL:" + PlainValue(Url2));
}

void TvyrNameRec::Clear() {
    AdditionalNames.clear();
    FamilyName.clear();
    GivenName.clear();
    Prefix.clear();
    Suffix.clear();
}

void TvyrNameRec::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    TvyrPropertyParser p(Lines);
    p.Parse(u"N");
    FamilyName = Entry(p.Values, 0);
    GivenName = Entry(p.Values, 1);
    AdditionalNames = Entry(p.Values, 2);
    Prefix = Entry(p.Values, 3);
    Suffix = Entry(p.Values, 4);
}

void TvyrNameRec::SaveToStrings(TvyrStringList* Lines) const {
    if (Lines && AnyNotEmpty({&FamilyName, &GivenName, &AdditionalNames, &Prefix, &Suffix}))
        Lines->push_back(WriteProperty(u"N", {FamilyName, GivenName, AdditionalNames, Prefix, Suffix}));
}

void TvyrIdentification::Clear() {
    FormattedName.clear();
    Name.Clear();
}

void TvyrIdentification::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    Name.LoadFromStrings(Lines);
    TvyrPropertyParser p(Lines);
    p.Parse(u"FN");
    FormattedName = Entry(p.Values, 0);
}

void TvyrIdentification::SaveToStrings(TvyrStringList* Lines) const {
    if (!Lines)
        return;
    if (!FormattedName.empty())
        Lines->push_back(WriteProperty(u"FN", {FormattedName}));
    Name.SaveToStrings(Lines);
}

void TvyrEmailRec::Clear() {
    Address.clear();
    Type = 0;
}

void TvyrEmailRec::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    TvyrPropertyParser p(Lines);
    p.Parse(u"EMAIL");
    Address = Entry(p.Values, 0);
    for (size_t k = EmailTypeNames.size() - 1; k > 0; --k)
        if (HasParam(p.Params, EmailTypeNames[k])) {
            Type = static_cast<uint8_t>(k);
            break;
        }
}

void TvyrEmailRec::SaveToStrings(TvyrStringList* Lines) const {
    if (!Lines || Address.empty())
        return;
    // A type beyond the table is written as no type rather than read out of bounds.
    std::u16string_view word = Type < EmailTypeNames.size() ? EmailTypeNames[Type] : EmailTypeNames[0];
    Lines->push_back("EMAIL;" + Narrow(word) + ":" + PlainValue(Address));
}

void TvyrPhoneRec::Clear() {
    Types = 0;
    Number.clear();
}

void TvyrPhoneRec::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    TvyrPropertyParser p(Lines);
    p.Parse(u"TEL");
    Number = Entry(p.Values, 0);
    Types = static_cast<uint16_t>(TypesFromParams(p.Params, PhoneTypeNames));
}

void TvyrPhoneRec::SaveToStrings(TvyrStringList* Lines) const {
    if (Lines && !Number.empty())
        Lines->push_back("TEL" + TypeWords(Types, PhoneTypeNames) + ":" + PlainValue(Number));
}

void TvyrTelecomInfo::Clear() {
    Email1.Clear();
    Email2.Clear();
    Phone1.Clear();
    Phone2.Clear();
    Phone3.Clear();
}

void TvyrTelecomInfo::LoadFromStrings(TvyrStringList* Lines) {
    if (!Lines)
        return;
    Clear();
    Email1.LoadFromStrings(Lines);
    Email2.LoadFromStrings(Lines);
    Phone1.LoadFromStrings(Lines);
    Phone2.LoadFromStrings(Lines);
    Phone3.LoadFromStrings(Lines);
}

void TvyrTelecomInfo::SaveToStrings(TvyrStringList* Lines) const {
    Email1.SaveToStrings(Lines);
    Email2.SaveToStrings(Lines);
    Phone1.SaveToStrings(Lines);
    Phone2.SaveToStrings(Lines);
    Phone3.SaveToStrings(Lines);
}

// ---- TvyrvCard

void TvyrvCard::Clear() {
    Business.Clear();
    Delivery.Clear();
    Explanatory.Clear();
    Identification.Clear();
    Telecom.Clear();
}

void TvyrvCard::SaveToStrings(TvyrStringList* Lines) const {
    if (!Lines)
        return;
    Lines->push_back("BEGIN:VCARD");
    Lines->push_back("VERSION:2.1");
    Business.SaveToStrings(Lines);
    Delivery.SaveToStrings(Lines);
    Explanatory.SaveToStrings(Lines);
    Identification.SaveToStrings(Lines);
    Telecom.SaveToStrings(Lines);
    Lines->push_back("END:VCARD");
}

void TvyrvCard::SaveToStream(std::string& Stream) const {
    TvyrStringList lines;
    SaveToStrings(&lines);
    for (const auto& l : lines) {
        Stream += l;
        Stream += "\r\n";
    }
}

namespace {

// Appends the lines of text (ending at CR, LF or CR LF) to out; a final empty piece
// after the last line end is not a line.
void AppendTextLines(std::string_view text, TvyrStringList& out) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        out.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        out.emplace_back(text.substr(start));
}

} // namespace

void TvyrvCard::LoadFromStrings(const TvyrStringList* Lines) {
    Clear();
    if (!Lines)
        return;
    // An entry written by SaveToStrings carries its soft line breaks inside; as
    // separate lines they unfold like those read from a stream.
    TvyrStringList copy;
    copy.reserve(Lines->size());
    for (const auto& l : *Lines) {
        if (l.empty())
            copy.emplace_back();
        else
            AppendTextLines(l, copy);
    }
    try {
        Business.LoadFromStrings(&copy);
        Delivery.LoadFromStrings(&copy);
        Explanatory.LoadFromStrings(&copy);
        Identification.LoadFromStrings(&copy);
        Telecom.LoadFromStrings(&copy);
    } catch (...) {
        Clear();
        throw;
    }
}

void TvyrvCard::LoadFromStream(std::string_view Stream) {
    TvyrStringList lines;
    AppendTextLines(Stream, lines);
    LoadFromStrings(&lines);
}
