// Cards arrive from phones and the database: reading any bytes must either succeed or
// throw the conversion error, and whatever was read must write and read back.
#include <cstdint>
#include <string>
#include <vector>

#include "vcl/SysUtils.h"
#include "vyrvCard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    TvyrvCard card;
    try {
        card.LoadFromStream(input);
    } catch (const vcl::EConvertError&) {
        return 0;
    }
    std::string out;
    card.SaveToStream(out);
    TvyrvCard again;
    again.LoadFromStream(out); // our own output never fails to read
    TvyrStringList lines(1, std::string(input));
    TvyrPropertyParser p(&lines);
    try {
        p.Parse(u"N");
    } catch (const vcl::EConvertError&) {
    }
    return 0;
}

extern "C" size_t TavlinFuzzSeedCount() {
    return 3;
}

#ifdef __clang__
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" const std::vector<uint8_t>& TavlinFuzzSeed(size_t i) {
    static const std::vector<std::string> texts = {
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=44=6F=65;=4A=6F;;;\r\n"
        "TEL;PREF;WORK:+123\r\nNOTE;ENCODING=QUOTED-PRINTABLE:=41=\r\n=42\r\nEND:VCARD\r\n",
        "BEGIN:VCARD\nORG;CHARSET=ISO-8859-5;QUOTED-PRINTABLE:=B1=D0\nADR;HOME:;;a;b\n c\nEMAIL;X400:x\n",
        "FN;QUOTED-PRINTABLE:=\r\n=\r\n\r\nN:\\;;\\"};
    static std::vector<std::vector<uint8_t>> seeds;
    if (seeds.empty())
        for (const auto& t : texts)
            seeds.emplace_back(t.begin(), t.end());
    return seeds[i];
}
