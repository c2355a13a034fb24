// A small literal XML reader for the OBEX folder-listing object, and the listing
// reader on top of it.
//
// The reader knows elements, attributes in double quotes, text and CDATA sections;
// no entities, no namespaces, and closing tags are not matched against their
// element. Document text is kept as read: one character per byte (so a UTF-8 name
// is decoded by the listing reader, not here).
//
// Listings come from a phone: the reader always returns, never recurses on the
// document's nesting, and never reads outside its input.
#pragma once

#include "vcl/Classes.h"
#include "vyrObjectList.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vyr {

class TvyrXMLAttribute : public vcl::TObject {
public:
    TvyrXMLAttribute(std::u16string name, std::u16string value) : name_(std::move(name)), value_(std::move(value)) {}
    const std::u16string& Name() const { return name_; }
    const std::u16string& Value() const { return value_; }
    void SetName(std::u16string name) { name_ = std::move(name); }
    void SetValue(std::u16string value) { value_ = std::move(value); }

private:
    std::u16string name_;
    std::u16string value_;
};

class TvyrXMLNode : public vcl::TObject {
public:
    // Does not add itself to parent's children (AddChild does).
    TvyrXMLNode(std::u16string name, TvyrXMLNode* parent, std::u16string value);
    ~TvyrXMLNode() override;
    TvyrXMLNode(const TvyrXMLNode&) = delete;
    TvyrXMLNode& operator=(const TvyrXMLNode&) = delete;

    const std::u16string& Name() const { return name_; }
    const std::u16string& Value() const { return value_; }
    bool IsCData() const { return isCData_; }
    TvyrXMLNode* Parent() const { return parent_; }
    void SetName(std::u16string name) { name_ = std::move(name); }
    void SetValue(std::u16string value) { value_ = std::move(value); }
    void SetIsCData(bool isCData) { isCData_ = isCData; }

    int ChildCount() const { return static_cast<int>(children_.size()); }
    TvyrXMLNode* Children(int index) const;
    int AttributeCount() const { return static_cast<int>(attributes_.size()); }
    TvyrXMLAttribute* Attributes(int index) const;

    // A child from the text of a tag: the name up to the first space, then name="value" pairs.
    TvyrXMLNode* AddChild(std::u16string_view tagText, std::u16string value);
    TvyrXMLAttribute* AddAttribute(std::u16string name, std::u16string value);
    // The first attribute of exactly that name, or nullptr.
    TvyrXMLAttribute* FindAttribute(std::u16string_view name) const;
    // Depth-first search of the descendants in document order (not this node), or nullptr.
    TvyrXMLNode* FindNode(std::u16string_view name) const;
    TvyrXMLNode* FirstChild() const { return children_.empty() ? nullptr : children_.front().get(); }
    // The node after this one in its parent's children; nullptr for the last and for the root.
    TvyrXMLNode* NextSibling() const;
    void ClearChildren();
    void ClearAttributes() { attributes_.clear(); }

private:
    std::u16string name_;
    std::u16string value_;
    std::vector<std::unique_ptr<TvyrXMLNode>> children_;
    std::vector<std::unique_ptr<TvyrXMLAttribute>> attributes_;
    TvyrXMLNode* parent_;
    std::size_t index_ = 0; // position in the parent's children
    bool isCData_ = false;
};

class TvyrXMLTree : public TvyrXMLNode {
public:
    explicit TvyrXMLTree(std::u16string name = u"root", TvyrXMLNode* parent = nullptr, std::u16string value = {});

    // The token lines of the last load: "OT:", "CT:", "ET:", "TX:" or "CD:" and the text.
    const std::vector<std::string>& Lines() const { return lines_; }
    // Open-tag lines of the last load (empty-element tags are not counted).
    int NodeCount() const { return nodeCount_; }

    // Reads the bytes (a stream from its current position) as 8-bit text lines,
    // tokenizes them and builds the tree under this node.
    void LoadFromStream(const std::uint8_t* data, std::size_t size);
    // Replaces text lines by their token lines.
    static void TokenizeXml(std::vector<std::string>& lines);
    // Builds the tree from Lines.
    void Build();

private:
    std::vector<std::string> lines_;
    int nodeCount_ = 0;
};

// Text helpers of the tokenizer (positions are 1-based, 0 = not found; white space is
// every character of code 32 or below).
std::size_t PosFrom(std::string_view sub, std::string_view text, std::size_t start);
std::string NormalizeXmlText(std::string_view s);
std::string NormalizeCData(std::string_view s);

// ---- Folder listing ----------------------------------------------------------

enum TvyrFilePermission : std::uint8_t { fpRead = 0, fpWrite = 1, fpDelete = 2 };

// A set of TvyrFilePermission stored in one byte (fpRead = 1, fpWrite = 2, fpDelete = 4).
class TvyrFilePermissions {
public:
    constexpr TvyrFilePermissions() = default;
    constexpr TvyrFilePermissions(std::initializer_list<TvyrFilePermission> items) {
        for (auto p : items)
            Include(p);
    }
    constexpr bool Contains(TvyrFilePermission p) const { return bits_ & (1u << p); }
    constexpr void Include(TvyrFilePermission p) { bits_ = static_cast<std::uint8_t>(bits_ | (1u << p)); }
    constexpr void Exclude(TvyrFilePermission p) { bits_ = static_cast<std::uint8_t>(bits_ & ~(1u << p)); }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const TvyrFilePermissions&) const = default;

private:
    std::uint8_t bits_ = 0;
};

// Date-time values are days since 30 December 1899, the time as the day's fraction.
using TDateTime = double;

class TvyrFileSystemObject : public vcl::TObject {
public:
    TvyrFileSystemObject() = default;

    TDateTime Created() const { return created_; }
    TDateTime Modified() const { return modified_; }
    const std::u16string& Name() const { return name_; }
    bool IsFolder() const { return isFolder_; }
    TvyrFilePermissions Permissions() const { return permissions_; }
    std::int32_t Size() const { return size_; }
    void SetCreated(TDateTime v) { created_ = v; }
    void SetModified(TDateTime v) { modified_ = v; }
    void SetName(std::u16string v) { name_ = std::move(v); }
    void SetIsFolder(bool v) { isFolder_ = v; }
    void SetPermissions(TvyrFilePermissions v) { permissions_ = v; }
    void SetSize(std::int32_t v) { size_ = v; }

private:
    TDateTime created_ = 0;
    TDateTime modified_ = 0;
    std::u16string name_;
    bool isFolder_ = true;
    TvyrFilePermissions permissions_;
    std::int32_t size_ = 0;
};

class TvyrFileSystemObjects : public TvyrObjectList<TvyrFileSystemObject> {
public:
    // Takes ownership; nullptr raises vyrEInvalidArgument. Returns the new index.
    int Add(TvyrFileSystemObject* object);
};

// The objects of an "x-obex/folder-listing" document (empty when there is none).
std::unique_ptr<TvyrFileSystemObjects> ParseFolderListing(const std::uint8_t* data, std::size_t size);

// A listing date ("20050131T235959Z", read by fixed positions, no time-zone
// conversion); false when it cannot be read.
bool ParseListingDate(std::u16string_view text, TDateTime& value);

} // namespace vyr
