// SDP service records (data-element streams) as a small tree: records, their
// attributes, and each attribute's value as a flat list of raw data elements.
// Sequences with an 8- or 16-bit length are flattened into their members; every
// other element keeps its content bytes unparsed.
//
// The stream comes from a remote device: every length is checked against the
// input, an element that does not fit ends the parse, and a value that comes
// before any record handle is skipped.
#pragma once

#include "vcl/Classes.h"
#include "vyrObjectList.h"

#include <cstdint>
#include <vector>

namespace vyr {

class TvyrSDPElement : public vcl::TObject {
public:
    TvyrSDPElement(std::uint8_t elementType, const std::uint8_t* data, std::uint32_t size);

    // The element's own copy of its data bytes; nullptr when Size is 0.
    const std::uint8_t* Data() const { return size_ ? data_.data() : nullptr; }
    // The SDP type descriptor (bits 7..3 of the element's header byte).
    std::uint8_t ElementType() const { return elementType_; }
    std::uint32_t Size() const { return size_; }

    // Big-endian values of the first 1, 2 or 4 data bytes; missing bytes read as 0.
    std::uint8_t AsByte() const;
    std::uint16_t AsWord() const;
    std::uint32_t AsCardinal() const;

private:
    std::uint8_t elementType_;
    std::uint32_t size_;
    std::vector<std::uint8_t> data_;
};

class TvyrSDPAttributeElements : public TvyrObjectList<TvyrSDPElement> {};

class TvyrSDPAttribute : public vcl::TObject {
public:
    explicit TvyrSDPAttribute(std::uint16_t id) : id_(id) {}
    std::uint16_t ID() const { return id_; }
    TvyrSDPAttributeElements* Elements() { return &elements_; }
    const TvyrSDPAttributeElements* Elements() const { return &elements_; }

private:
    std::uint16_t id_;
    TvyrSDPAttributeElements elements_;
};

class TvyrSDPAttributes : public TvyrObjectList<TvyrSDPAttribute> {};

class TvyrSDPServiceRecord : public vcl::TObject {
public:
    TvyrSDPAttributes* Attributes() { return &attributes_; }
    const TvyrSDPAttributes* Attributes() const { return &attributes_; }
    std::uint32_t Handle() const { return handle_; }
    void SetHandle(std::uint32_t handle) { handle_ = handle; }
    // The first attribute with that id, or nullptr.
    TvyrSDPAttribute* AttributeById(std::uint16_t id) const;

private:
    TvyrSDPAttributes attributes_;
    std::uint32_t handle_ = 0;
};

class TvyrSDPServiceRecords : public TvyrObjectList<TvyrSDPServiceRecord> {};

class TvyrSDPParser : public vcl::TObject {
public:
    // Parses size bytes at data at once; the caller keeps the buffer.
    TvyrSDPParser(const void* data, int size);
    TvyrSDPServiceRecords* Records() { return &records_; }
    const TvyrSDPServiceRecords* Records() const { return &records_; }

private:
    void Parse(const std::uint8_t* data, std::size_t size);

    TvyrSDPServiceRecords records_;
};

} // namespace vyr
