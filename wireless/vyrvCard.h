// Electronic business cards in the vCard 2.1 text format.
//
// The writer is narrow and fixed: every text property is UTF-8 quoted-printable with
// soft line breaks after at most 75 characters; e-mail, telephone and URL are plain.
// The reader is lenient: properties in any order, folded lines, quoted-printable,
// UTF-8 and ISO-8859-5 values.
//
// Lines and lists hold 8-bit text in the system code page (UTF-8 here); the record
// fields are UTF-16.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vcl/Classes.h"

// A list of 8-bit text lines in the system code page.
using TvyrStringList = std::vector<std::string>;

// vCard 2.1 type parameters; bit n of a type set stands for entry n.
extern const std::array<std::u16string_view, 6> AddressTypeNames;
extern const std::array<std::u16string_view, 13> PhoneTypeNames;
extern const std::array<std::u16string_view, 13> EmailTypeNames;

// Reads one property at a time out of a card's lines, removing what it reads.
class TvyrPropertyParser : public vcl::TObject {
public:
    explicit TvyrPropertyParser(TvyrStringList* Lines);

    // Finds the first property Name, takes its lines out of Lines and fills Params
    // (the property name first, then its parameters) and Values (the decoded value
    // split at ";"). Both stay empty when there is no such property.
    // Throws vcl::EConvertError for a malformed quoted-printable escape.
    void Parse(std::u16string_view Name);

    TvyrStringList Params;
    TvyrStringList* Lines;
    TvyrStringList Values;
};

class TvyrCompanyRec : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    std::u16string Unit;
    std::u16string Name;
};

class TvyrBusinessInfo : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    TvyrCompanyRec Company;
    std::u16string Role;
    std::u16string Title;
};

class TvyrAddressRec : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    uint8_t Types = 0; // bit n = AddressTypeNames[n]
    std::u16string Country;
    std::u16string ExtendedAddress;
    std::u16string Locality;
    std::u16string PostOfficeBox;
    std::u16string PostalCode;
    std::u16string Region;
    std::u16string Street;
};

class TvyrDeliveryInfo : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    TvyrAddressRec Address1;
    TvyrAddressRec Address2;
};

class TvyrExplanatoryInfo : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    TvyrStringList Notes; // 8-bit text
    std::u16string Url1;
    std::u16string Url2;
};

class TvyrNameRec : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    std::u16string AdditionalNames;
    std::u16string FamilyName;
    std::u16string GivenName;
    std::u16string Prefix;
    std::u16string Suffix;
};

class TvyrIdentification : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    std::u16string FormattedName;
    TvyrNameRec Name;
};

class TvyrEmailRec : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    std::u16string Address;
    uint8_t Type = 0; // index into EmailTypeNames, 0 = no type
};

class TvyrPhoneRec : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    uint16_t Types = 0; // bit n = PhoneTypeNames[n]
    std::u16string Number;
};

class TvyrTelecomInfo : public vcl::TObject {
public:
    void Clear();
    void LoadFromStrings(TvyrStringList* Lines);
    void SaveToStrings(TvyrStringList* Lines) const;

    TvyrEmailRec Email1;
    TvyrEmailRec Email2;
    TvyrPhoneRec Phone1;
    TvyrPhoneRec Phone2;
    TvyrPhoneRec Phone3;
};

class TvyrvCard : public vcl::TObject {
public:
    void Clear();

    // Appends the card to Lines, one entry per property; a long quoted-printable
    // property is one entry with its soft line breaks inside.
    void SaveToStrings(TvyrStringList* Lines) const;
    // Appends the card to Stream as 8-bit text, CR LF after every entry.
    void SaveToStream(std::string& Stream) const;

    // Clears the card and reads it from a copy of Lines (left unchanged). On a
    // malformed value it throws vcl::EConvertError and the card is left empty.
    void LoadFromStrings(const TvyrStringList* Lines);
    // Reads the text lines of Stream (ending at CR, LF or CR LF) and loads them.
    void LoadFromStream(std::string_view Stream);

    TvyrBusinessInfo Business;
    TvyrDeliveryInfo Delivery;
    TvyrExplanatoryInfo Explanatory;
    TvyrIdentification Identification;
    TvyrTelecomInfo Telecom;
};

// One quoted-printable property: Name;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE: and the
// values joined by ";", each byte but ";" written as =XX, with soft line breaks.
std::string WriteProperty(std::u16string_view Name, const std::vector<std::u16string>& Values);
