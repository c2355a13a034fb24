#include "Bytes.h"
#include "vyrSDPParser.h"

#include <gtest/gtest.h>

using namespace vyr;

namespace {

using tavtest::Bytes;
using tavtest::Cat;
using tavtest::Hex;

TvyrSDPParser Parse(const Bytes& b) {
    return TvyrSDPParser(b.data(), static_cast<int>(b.size()));
}

Bytes DataOf(const TvyrSDPElement* e) {
    return e->Data() ? Bytes(e->Data(), e->Data() + e->Size()) : Bytes{};
}

} // namespace

TEST(vyrSDPParser, RecordHandleAndFlattenedValues) {
    Bytes stream = Hex("35 10 09 00 00 0A 00 00 00 07 09 00 01 35 03 19 11 05");
    TvyrSDPParser parser(stream.data(), static_cast<int>(stream.size()));
    stream.assign(stream.size(), 0xEE); // every element holds its own copy
    ASSERT_EQ(parser.Records()->Count(), 1);
    TvyrSDPServiceRecord* rec = parser.Records()->Items(0);
    EXPECT_EQ(rec->Handle(), 7u);
    ASSERT_EQ(rec->Attributes()->Count(), 1); // the handle is not an attribute
    EXPECT_EQ(rec->AttributeById(0x0000), nullptr);
    EXPECT_EQ(rec->AttributeById(0x0004), nullptr);
    TvyrSDPAttribute* a = rec->AttributeById(0x0001);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->Elements()->Count(), 1);
    TvyrSDPElement* e = a->Elements()->Items(0);
    EXPECT_EQ(e->ElementType(), 3);
    EXPECT_EQ(e->Size(), 2u);
    EXPECT_EQ(DataOf(e), Hex("11 05"));
    EXPECT_EQ(e->AsWord(), 0x1105);
    EXPECT_THROW(a->Elements()->Items(1), vyrEIndexOutOfBounds);
    EXPECT_THROW(parser.Records()->Items(-1), vyrEIndexOutOfBounds);

    // The protocol descriptor list: members of nested sequences, one level after the other.
    Bytes pdl = Hex("35 1A 09 00 00 0A 00 01 00 00 09 00 04 35 0C 35 03 19 01 00 35 05 19 00 03 08 0C");
    auto p2 = Parse(pdl);
    ASSERT_EQ(p2.Records()->Count(), 1);
    EXPECT_EQ(p2.Records()->Items(0)->Handle(), 0x10000u);
    TvyrSDPAttribute* list = p2.Records()->Items(0)->AttributeById(4);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Elements()->Count(), 3);
    EXPECT_EQ(list->Elements()->Items(0)->AsWord(), 0x0100);
    EXPECT_EQ(list->Elements()->Items(1)->AsWord(), 0x0003);
    EXPECT_EQ(list->Elements()->Items(1)->ElementType(), 3);
    TvyrSDPElement* channel = list->Elements()->Items(2);
    EXPECT_EQ(channel->ElementType(), 1);
    EXPECT_EQ(channel->Size(), 1u);
    EXPECT_EQ(channel->AsByte(), 0x0C);
}

TEST(vyrSDPParser, LongValuesSequencesAndSeveralRecords) {
    // A text with a 16-bit length is read whole and the walk goes on right after it.
    Bytes text(300, 'T');
    Bytes s = Cat(Hex("36 01 40 09 00 00 0A 00 00 00 01 09 01 00 26 01 2C"), text, Hex("09 01 01 08 05"));
    auto p = Parse(s);
    ASSERT_EQ(p.Records()->Count(), 1);
    auto* name = p.Records()->Items(0)->AttributeById(0x0100);
    ASSERT_NE(name, nullptr);
    ASSERT_EQ(name->Elements()->Count(), 1);
    EXPECT_EQ(name->Elements()->Items(0)->ElementType(), 4);
    EXPECT_EQ(DataOf(name->Elements()->Items(0)), text);
    ASSERT_NE(p.Records()->Items(0)->AttributeById(0x0101), nullptr);
    EXPECT_EQ(p.Records()->Items(0)->AttributeById(0x0101)->Elements()->Items(0)->AsByte(), 5);

    // A sequence with a 32-bit length stays one raw element; alternatives too.
    auto seq = Parse(Hex("09 00 00 0A 00 00 00 02 09 00 05 37 00 00 00 03 19 11 05 09 00 06 3D 02 08 01"));
    auto* rec = seq.Records()->Items(0);
    auto* browse = rec->AttributeById(5);
    ASSERT_EQ(browse->Elements()->Count(), 1);
    EXPECT_EQ(browse->Elements()->Items(0)->ElementType(), 6);
    EXPECT_EQ(DataOf(browse->Elements()->Items(0)), Hex("19 11 05"));
    ASSERT_EQ(rec->AttributeById(6)->Elements()->Count(), 1);
    EXPECT_EQ(rec->AttributeById(6)->Elements()->Items(0)->ElementType(), 7);

    // Two records: each attribute lands in the record opened last. Nil is one byte.
    auto two = Parse(Hex("35 08 09 00 00 0A 00 00 00 01 09 00 01 00 00 "
                         "35 08 09 00 00 0A 00 00 00 02 09 00 03 28 01 09 00 03 09 12 34"));
    ASSERT_EQ(two.Records()->Count(), 2);
    EXPECT_EQ(two.Records()->Items(0)->Handle(), 1u);
    EXPECT_EQ(two.Records()->Items(1)->Handle(), 2u);
    ASSERT_EQ(two.Records()->Items(0)->Attributes()->Count(), 1);
    EXPECT_EQ(two.Records()->Items(0)->AttributeById(1)->Elements()->Items(0)->Size(), 1u);
    ASSERT_EQ(two.Records()->Items(1)->Attributes()->Count(), 2);
    // The first attribute of a repeated id is the one found.
    EXPECT_EQ(two.Records()->Items(1)->AttributeById(3)->Elements()->Items(0)->ElementType(), 5);

    // Accessors never read past the element's own bytes.
    auto shortOne = Parse(Hex("09 00 00 0A 00 00 00 01 09 00 07 08 AB 09 00 08 25 00"));
    auto* byteOnly = shortOne.Records()->Items(0)->AttributeById(7)->Elements()->Items(0);
    EXPECT_EQ(byteOnly->AsWord(), 0xAB00);
    EXPECT_EQ(byteOnly->AsCardinal(), 0xAB000000u);
    auto* empty = shortOne.Records()->Items(0)->AttributeById(8)->Elements()->Items(0);
    EXPECT_EQ(empty->Size(), 0u);
    EXPECT_EQ(empty->Data(), nullptr);
    EXPECT_EQ(empty->AsCardinal(), 0u);
}

TEST(vyrSDPParser, HostileStreamsStayInsideTheInput) {
    // Empty, null, negative sizes.
    EXPECT_EQ(TvyrSDPParser(nullptr, 10).Records()->Count(), 0);
    Bytes one = Hex("09");
    EXPECT_EQ(TvyrSDPParser(one.data(), 0).Records()->Count(), 0);
    EXPECT_EQ(TvyrSDPParser(one.data(), -5).Records()->Count(), 0);
    EXPECT_EQ(Parse(one).Records()->Count(), 0);

    // An attribute before any record handle is skipped, and the record after it still parsed.
    auto orphan = Parse(Hex("09 00 01 35 03 19 11 05 09 00 00 0A 00 00 00 09 09 00 04 08 03"));
    ASSERT_EQ(orphan.Records()->Count(), 1);
    EXPECT_EQ(orphan.Records()->Items(0)->Handle(), 9u);
    EXPECT_EQ(orphan.Records()->Items(0)->Attributes()->Count(), 1);
    // Orphan with a length far beyond the input.
    EXPECT_EQ(Parse(Hex("09 00 01 27 FF FF FF F0 00")).Records()->Count(), 0);

    // A handle cut short opens no record.
    EXPECT_EQ(Parse(Hex("09 00 00 0A 00 00")).Records()->Count(), 0);

    // An element claiming more than was received: no element, no read past the input.
    auto cut = Parse(Cat(Hex("09 00 00 0A 00 00 00 01 09 01 00 26 01 2C"), Bytes(10, 'x')));
    ASSERT_EQ(cut.Records()->Count(), 1);
    ASSERT_NE(cut.Records()->Items(0)->AttributeById(0x100), nullptr);
    EXPECT_EQ(cut.Records()->Items(0)->AttributeById(0x100)->Elements()->Count(), 0);
    // Lengths near UINT32_MAX, in the value and inside a sequence; length fields cut short.
    for (const char* bad : {"09 00 00 0A 00 00 00 01 09 00 02 27 FF FF FF FF 41",
                            "09 00 00 0A 00 00 00 01 09 00 02 35 08 27 FF FF FF FE 41 41 41",
                            "09 00 00 0A 00 00 00 01 09 00 02 27 FF", "09 00 00 0A 00 00 00 01 09 00 02 26 01",
                            "09 00 00 0A 00 00 00 01 09 00 02 35 03 1C 00", "09 00 00 0A 00 00 00 01 09 00 02",
                            "09 00 00 0A 00 00 00 01 09 00 02 35", "09 00 00 0A 00 00 00 01 09 00 02 35 05 36 FF"}) {
        Bytes b = Hex(bad);
        // An exactly sized heap copy lets the sanitizers see any over-read.
        auto heap = std::make_unique<std::uint8_t[]>(b.size());
        std::copy(b.begin(), b.end(), heap.get());
        TvyrSDPParser p(heap.get(), static_cast<int>(b.size()));
        ASSERT_EQ(p.Records()->Count(), 1) << bad;
        for (const auto& attr : *p.Records()->Items(0)->Attributes())
            for (const auto& e : *attr->Elements())
                EXPECT_LE(e->Size(), b.size()) << bad;
    }
    // A member longer than its sequence ends the value there; the stream goes on after it.
    auto overrun = Parse(Hex("09 00 00 0A 00 00 00 01 09 00 02 35 02 0A 00 00 00 05 09 00 03 08 07"));
    ASSERT_NE(overrun.Records()->Items(0)->AttributeById(2), nullptr);
    EXPECT_EQ(overrun.Records()->Items(0)->AttributeById(2)->Elements()->Items(0)->AsCardinal(), 5u);
    ASSERT_NE(overrun.Records()->Items(0)->AttributeById(3), nullptr);
}
