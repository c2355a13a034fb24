#include "vyrSDPParser.h"

namespace vyr {

namespace {

constexpr std::uint8_t kAttributeId = 0x09; // 2-byte unsigned integer: an attribute id at the top level
constexpr std::uint8_t kSequence8 = 0x35;   // sequence with an 8-bit length
constexpr std::uint8_t kSequence16 = 0x36;  // sequence with a 16-bit length

std::uint32_t ReadBE(const std::uint8_t* p, std::size_t bytes) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

// Bytes of the length field that follows a header byte with this size index.
std::size_t LengthBytes(std::uint8_t sizeIndex) {
    switch (sizeIndex) {
    case 5:
        return 1;
    case 6:
        return 2;
    case 7:
        return 4;
    default:
        return 0;
    }
}

std::uint32_t FixedSize(std::uint8_t sizeIndex) {
    return 1u << sizeIndex;
} // 1, 2, 4, 8, 16

} // namespace

TvyrSDPElement::TvyrSDPElement(std::uint8_t elementType, const std::uint8_t* data, std::uint32_t size)
    : elementType_(elementType), size_(size) {
    if (size)
        data_.assign(data, data + size);
}

std::uint8_t TvyrSDPElement::AsByte() const {
    return size_ >= 1 ? data_[0] : 0;
}

std::uint16_t TvyrSDPElement::AsWord() const {
    return static_cast<std::uint16_t>(size_ >= 2 ? ReadBE(data_.data(), 2) : AsByte() << 8);
}

std::uint32_t TvyrSDPElement::AsCardinal() const {
    std::uint8_t bytes[4] = {};
    for (std::size_t i = 0; i < 4 && i < size_; ++i)
        bytes[i] = data_[i];
    return ReadBE(bytes, 4);
}

TvyrSDPAttribute* TvyrSDPServiceRecord::AttributeById(std::uint16_t id) const {
    for (const auto& a : attributes_)
        if (a->ID() == id)
            return a.get();
    return nullptr;
}

TvyrSDPParser::TvyrSDPParser(const void* data, int size) {
    if (data && size > 0)
        Parse(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
}

void TvyrSDPParser::Parse(const std::uint8_t* d, std::size_t size) {
    std::size_t pos = 0;
    TvyrSDPServiceRecord* current = nullptr;
    while (pos < size) {
        std::uint8_t b = d[pos];
        if (b == kSequence8) {
            pos += 2;
            continue;
        }
        if (b != kAttributeId) {
            pos += 3; // taken as a sequence header with a 16-bit length
            continue;
        }
        if (size - pos < 3)
            return;
        auto id = static_cast<std::uint16_t>(ReadBE(d + pos + 1, 2));
        std::size_t h = pos + 3;
        if (id == 0) {
            // The record handle: its 4 bytes follow the value's header, whatever it says.
            if (size - h < 5)
                return;
            current = records_.Append(std::make_unique<TvyrSDPServiceRecord>());
            current->SetHandle(ReadBE(d + h + 1, 4));
            pos = h + 5;
            continue;
        }
        // The value's whole length, header included.
        if (h >= size)
            return;
        std::uint8_t sizeIndex = d[h] & 7;
        std::size_t lengthBytes = LengthBytes(sizeIndex);
        if (size - h - 1 < lengthBytes)
            return;
        std::uint64_t valueLength =
            lengthBytes ? ReadBE(d + h + 1, lengthBytes) + 1 + lengthBytes : FixedSize(sizeIndex) + 1;
        if (!current) {
            // No record to hold it: step over the value.
            pos = valueLength >= size - h ? size : h + static_cast<std::size_t>(valueLength);
            continue;
        }
        TvyrSDPAttributeElements* elements =
            current->Attributes()->Append(std::make_unique<TvyrSDPAttribute>(id))->Elements();

        // Walk the value; a remaining count that runs negative (a member longer than its
        // sequence) ends the value, as does the end of the input.
        pos = h;
        std::int64_t remaining = static_cast<std::int64_t>(valueLength);
        while (remaining > 0 && pos < size) {
            std::uint8_t c = d[pos];
            ++pos;
            --remaining;
            if (c == kSequence8 || c == kSequence16) {
                std::size_t skip = c == kSequence8 ? 1 : 2;
                pos += skip;
                remaining -= static_cast<std::int64_t>(skip);
                continue;
            }
            std::uint8_t index = c & 7;
            std::size_t n = LengthBytes(index);
            std::uint32_t dataSize = FixedSize(index);
            if (n) {
                if (size - pos < n)
                    return;
                dataSize = ReadBE(d + pos, n);
                pos += n;
                remaining -= static_cast<std::int64_t>(n);
            }
            if (dataSize > size - pos)
                return; // the element claims more than was received
            elements->Append(std::make_unique<TvyrSDPElement>(static_cast<std::uint8_t>(c >> 3), d + pos, dataSize));
            pos += dataSize;
            remaining -= dataSize;
        }
    }
}

} // namespace vyr
