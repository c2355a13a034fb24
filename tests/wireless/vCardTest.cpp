#include <gtest/gtest.h>

#include <ctime>
#include <utility>

#include "vcl/SysUtils.h"
#include "vyrvCard.h"

namespace {

std::string Save(const TvyrvCard& card) {
    std::string s;
    card.SaveToStream(s);
    return s;
}

// The physical lines of a stream, without their CR LF.
std::vector<std::string> PhysicalLines(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t p; (p = s.find("\r\n", start)) != std::string::npos; start = p + 2)
        out.push_back(s.substr(start, p - start));
    return out;
}

bool ValidUtf8(const std::string& s) {
    return vcl::Utf16ToUtf8(vcl::Utf8ToUtf16(s)) == s;
}

// Decodes "=XX" escapes of one physical line alone, as a line-wise decoder would.
std::string DecodeLine(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '=' && i + 2 < line.size()) {
            out += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (line[i] != '=') {
            out += line[i];
        }
    }
    return out;
}

const char* kHead = "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";

} // namespace

TEST(vCardWriter, ExactOutput) {
    TvyrvCard card;
    EXPECT_EQ(Save(card), "BEGIN:VCARD\r\nVERSION:2.1\r\nEND:VCARD\r\n");

    card.Business.Company.Name = u"Acme";
    card.Telecom.Phone1.Number = u"+4912345";
    card.Telecom.Phone1.Types = 3; // PREF, WORK
    EXPECT_EQ(Save(card), "BEGIN:VCARD\r\nVERSION:2.1\r\n"
                          "ORG;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=41=63=6D=65;\r\n"
                          "TEL;PREF;WORK:+4912345\r\nEND:VCARD\r\n");

    card.Clear();
    card.Identification.Name.FamilyName = u"Doe";
    card.Identification.Name.GivenName = u"Jo";
    card.Identification.FormattedName = u"J";
    card.Telecom.Email1.Address = u"a@b.c";
    card.Telecom.Email2.Address = u"x@y.z";
    card.Telecom.Email2.Type = 6;
    card.Telecom.Phone2.Number = u"1";
    card.Telecom.Phone3.Number = u"2";
    card.Telecom.Phone3.Types = (1 << 6) | (1 << 2); // HOME, CELL in table order
    card.Delivery.Address2.Street = u"S";
    card.Delivery.Address2.Types = (1 << 5) | 1; // DOM first, WORK last
    card.Explanatory.Url1 = u"http://u";
    card.Business.Title = u"T";
    card.Business.Role = u"R";
    EXPECT_EQ(Save(card), "BEGIN:VCARD\r\nVERSION:2.1\r\n"
                          "TITLE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=54\r\n"
                          "ROLE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=52\r\n"
                          "ADR;DOM;WORK;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;=53;;;;\r\n"
                          "URL:http://u\r\n"
                          "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=4A\r\n"
                          "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=44=6F=65;=4A=6F;;;\r\n"
                          "EMAIL;:a@b.c\r\nEMAIL;INTERNET:x@y.z\r\n"
                          "TEL:1\r\nTEL;HOME;CELL:2\r\nEND:VCARD\r\n");

    // An out-of-range e-mail type and a line break in a plain value cannot corrupt the card.
    card.Clear();
    card.Telecom.Email1.Address = u"a@b";
    card.Telecom.Email1.Type = 200;
    card.Explanatory.Url1 = u"http://x\r\nTEL:666";
    EXPECT_EQ(Save(card), "BEGIN:VCARD\r\nVERSION:2.1\r\nURL:http://x  TEL:666\r\nEMAIL;:a@b\r\nEND:VCARD\r\n");
}

TEST(vCardWriter, SoftLineBreaks) {
    TvyrvCard card;
    card.Explanatory.Notes = {std::string(100, 'x')};
    auto lines = PhysicalLines(Save(card));
    // NOTE head is 45 characters: 10 encoded bytes fill the first line, then 25 per line.
    ASSERT_GE(lines.size(), 7u);
    std::string first = kHead;
    for (int i = 0; i < 10; ++i)
        first += "=78";
    EXPECT_EQ(lines[2], first + "=");
    for (size_t i = 3; i < 6; ++i) {
        EXPECT_EQ(lines[i].size(), 76u) << i;
        EXPECT_EQ(lines[i].back(), '=');
    }
    // 100 x + CR LF = 102 bytes: 10 + 25 + 25 + 25 + 17.
    EXPECT_EQ(lines[6], [] {
        std::string s;
        for (int i = 0; i < 15; ++i)
            s += "=78";
        return s + "=0D=0A";
    }());

    // Every line stays within 75 characters before its "=", and a multi-byte character
    // is never split across a soft break.
    card.Clear();
    std::u16string text = u"abcdefghi";
    for (int i = 0; i < 40; ++i)
        text += (i % 3 == 0) ? u"\u0416" : (i % 3 == 1) ? u"\u20AC" : u"\U0001F600";
    card.Business.Title = text;
    card.Business.Company.Name = u"\u00C4" + text;
    std::string stream = Save(card);
    for (const auto& line : PhysicalLines(stream)) {
        std::string body = line;
        if (!body.empty() && body.back() == '=')
            body.pop_back();
        EXPECT_LE(body.size(), 75u) << line;
        size_t colon = line.find(':');
        std::string encoded = line.rfind("TITLE", 0) == 0 || line.rfind("ORG", 0) == 0 ? line.substr(colon + 1) : line;
        EXPECT_TRUE(ValidUtf8(DecodeLine(encoded))) << line;
    }
    TvyrvCard back;
    back.LoadFromStream(stream);
    EXPECT_EQ(back.Business.Title, text);
    EXPECT_EQ(back.Business.Company.Name, u"\u00C4" + text);
}

TEST(vCardReader, RoundTrips) {
    TvyrvCard card;
    card.Business.Company.Name = u"Ко; Ltd";
    card.Business.Company.Unit = u"Sales";
    card.Business.Title = u"Ch\u00E9f";
    card.Delivery.Address1.Street = u"Main St. 1";
    card.Delivery.Address1.Country = u"\u65E5\u672C";
    card.Delivery.Address1.Types = 0x3F;
    card.Delivery.Address2.Locality = u"Berlin";
    card.Explanatory.Notes = {"Hello; world"};
    card.Explanatory.Url1 = u"http://a";
    card.Explanatory.Url2 = u"http://b";
    card.Identification.FormattedName = std::u16string(80, u'\u0436');
    card.Identification.Name.Suffix = u"Jr.";
    card.Telecom.Email1.Address = u"a@b";
    card.Telecom.Email1.Type = 12;
    card.Telecom.Phone1.Number = u"1";
    card.Telecom.Phone1.Types = 0x1FFF;
    card.Telecom.Phone3.Number = u"3";

    auto check = [&](const TvyrvCard& b) {
        EXPECT_EQ(b.Business.Company.Name, card.Business.Company.Name); // ";" survives
        EXPECT_EQ(b.Business.Company.Unit, u"Sales");
        EXPECT_EQ(b.Business.Title, card.Business.Title);
        EXPECT_EQ(b.Delivery.Address1.Street, card.Delivery.Address1.Street);
        EXPECT_EQ(b.Delivery.Address1.Country, card.Delivery.Address1.Country);
        EXPECT_EQ(b.Delivery.Address1.Types, 0x3F);
        EXPECT_EQ(b.Delivery.Address2.Locality, u"Berlin");
        ASSERT_EQ(b.Explanatory.Notes.size(), 1u);
        EXPECT_EQ(b.Explanatory.Notes[0], "Hello; world\r\n");
        EXPECT_EQ(b.Explanatory.Url2, u"http://b");
        EXPECT_EQ(b.Identification.FormattedName, card.Identification.FormattedName);
        EXPECT_EQ(b.Identification.Name.Suffix, u"Jr.");
        EXPECT_EQ(b.Telecom.Email1.Type, 12);
        EXPECT_EQ(b.Telecom.Phone1.Types, 0x1FFF);
        EXPECT_EQ(b.Telecom.Phone2.Number, u"3"); // the third TEL line is the second one present
    };
    TvyrvCard viaStream;
    viaStream.LoadFromStream(Save(card));
    check(viaStream);

    // A list written by SaveToStrings keeps soft breaks inside its entries and reads back too.
    TvyrStringList lines;
    card.SaveToStrings(&lines);
    TvyrStringList before = lines;
    TvyrvCard viaList;
    viaList.LoadFromStrings(&lines);
    check(viaList);
    EXPECT_EQ(lines, before);

    // SaveToStrings appends.
    card.SaveToStrings(&lines);
    EXPECT_EQ(lines.size(), 2 * before.size());
}

TEST(vCardReader, LenientInput) {
    TvyrvCard card;
    card.LoadFromStream("begin:vcard\n"
                        "TEL;work;Voice:555\n"
                        "NOTE:first part\n"
                        "  second part  \n"
                        "\tthird\n"
                        "\n"
                        " not a continuation after an empty line\n"
                        "item1.TEL:999\n"
                        "ADR:;;One\r"
                        "ADR;HOME:;;Two\r\n"
                        "ADR:;;Three\n"
                        "EMAIL;INTERNET;X400:x@y\n"
                        "ORG;CHARSET=ISO-8859-5;ENCODING=QUOTED-PRINTABLE:=B1=D0=DD=DA\n"
                        "TITLE;charset=utf-8;encoding=quoted-printable:=41=\n"
                        " =42=\n"
                        "=43\n"
                        "N;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:=D0=96=d0=b6;=\n"
                        "\n"
                        "FN:x\n"
                        "end:vcard");
    EXPECT_EQ(card.Telecom.Phone1.Number, u"555");
    EXPECT_EQ(card.Telecom.Phone1.Types, (1 << 1) | (1 << 3));
    EXPECT_TRUE(card.Telecom.Phone2.Number.empty()); // item1.TEL is not a TEL line
    ASSERT_EQ(card.Explanatory.Notes.size(), 1u);
    EXPECT_EQ(card.Explanatory.Notes[0], "first part second part third");
    EXPECT_EQ(card.Delivery.Address1.Street, u"One");
    EXPECT_EQ(card.Delivery.Address2.Street, u"Two");
    EXPECT_EQ(card.Delivery.Address2.Types, 1 << 4);
    EXPECT_EQ(card.Telecom.Email1.Type, 12);
    EXPECT_EQ(card.Business.Company.Name, u"\u0411\u0430\u043D\u043A");
    EXPECT_EQ(card.Business.Title, u"A BC"); // a space-led continuation is trimmed and joined with one space
    EXPECT_EQ(card.Identification.Name.FamilyName, u"\u0416\u0436");
    EXPECT_EQ(card.Identification.FormattedName, u"x");

    // The parser consumes what it reads: repeated calls return the next occurrence.
    TvyrStringList lines = {"X-A:1", "tel;type=HOME:2", "TEL:3", "TELEX:4", "TEL"};
    TvyrPropertyParser p(&lines);
    p.Parse(u"TEL");
    EXPECT_EQ(p.Params, (TvyrStringList{"tel", "type=HOME"}));
    EXPECT_EQ(p.Values, (TvyrStringList{"2"}));
    p.Parse(u"TEL");
    EXPECT_EQ(p.Values, (TvyrStringList{"3"}));
    p.Parse(u"TEL");
    EXPECT_TRUE(p.Params.empty() && p.Values.empty());
    EXPECT_EQ(lines, (TvyrStringList{"X-A:1", "TELEX:4", "TEL"}));
}

TEST(vCardReader, MalformedEscapesAreRejectedCleanly) {
    for (const char* bad :
         {"N;ENCODING=QUOTED-PRINTABLE:=G1", "N;ENCODING=QUOTED-PRINTABLE:abc=4", "ORG;QUOTED-PRINTABLE:=\x01\x02x"}) {
        TvyrvCard card;
        card.Telecom.Phone1.Number = u"old";
        std::string text = std::string("TEL:1\r\nFN:f\r\n") + bad + "\r\n";
        EXPECT_THROW(card.LoadFromStream(text), vcl::EConvertError) << bad;
        EXPECT_TRUE(card.Telecom.Phone1.Number.empty());
        EXPECT_TRUE(card.Identification.FormattedName.empty());
    }
    // A lone "=" at the very end is dropped.
    TvyrvCard card;
    card.LoadFromStream("FN;QUOTED-PRINTABLE:=41=");
    EXPECT_EQ(card.Identification.FormattedName, u"A");
}

// Reading takes time in proportion to the card: a note of 60,000 folded lines and one of 60,000
// quoted-printable lines each read in well under a second of CPU (a reader that moves the rest of the
// list for every continuation line needs several seconds for each).
TEST(vCardReader, LongNotesReadInLinearTime) {
    const int kLines = 60000;
    std::string folded = "NOTE:n0\r\n", foldedNote = "n0";
    std::string quoted = "NOTE;ENCODING=QUOTED-PRINTABLE:", quotedNote;
    for (int i = 1; i < kLines; ++i) {
        folded += "  n" + std::to_string(i) + "\r\n";
        foldedNote += " n" + std::to_string(i);
    }
    for (int i = 0; i < kLines; ++i) {
        quoted += i + 1 < kLines ? "=41B=\r\n" : "=41B\r\n";
        quotedNote += "AB";
    }
    for (auto [text, note] : {std::pair{&folded, &foldedNote}, std::pair{&quoted, &quotedNote}}) {
        TvyrvCard card;
        timespec t0{}, t1{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
        card.LoadFromStream(*text + "TEL:5\r\n");
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
        EXPECT_LT(static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9, 2.0);
        EXPECT_EQ(card.Explanatory.Notes, (TvyrStringList{*note}));
        EXPECT_EQ(card.Telecom.Phone1.Number, u"5");
    }
}
