#include "vyrXML.h"

#include "vcl/SysUtils.h"

#include <algorithm>
#include <cmath>

namespace vyr {

namespace {

bool IsBlank(unsigned c) {
    return c <= 32;
}

template <typename S> S TrimBlank(const S& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(static_cast<std::make_unsigned_t<typename S::value_type>>(s[b])))
        ++b;
    while (e > b && IsBlank(static_cast<std::make_unsigned_t<typename S::value_type>>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

// Document text is kept one character per byte.
std::u16string Widen(std::string_view s) {
    std::u16string r(s.size(), u'\0');
    std::transform(s.begin(), s.end(), r.begin(), [](char c) { return static_cast<unsigned char>(c); });
    return r;
}

std::u16string DecodeUtf8(std::u16string_view bytes) {
    std::string s(bytes.size(), '\0');
    std::transform(bytes.begin(), bytes.end(), s.begin(), [](char16_t c) { return static_cast<char>(c); });
    return vcl::Utf8ToUtf16(s);
}

// Text with every CR LF pair and every TAB replaced.
std::string Replace(std::string_view s, std::string_view crlf, std::string_view tab) {
    std::string r;
    r.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
            r += crlf;
            ++i;
        } else if (s[i] == '\t') {
            r += tab;
        } else {
            r += s[i];
        }
    }
    return r;
}

// Substring by 1-based positions first..last; empty when last < first.
std::string_view Range(std::string_view t, std::size_t first, std::size_t last) {
    if (first < 1 || last < first || first > t.size())
        return {};
    return t.substr(first - 1, std::min(last, t.size()) - first + 1);
}

// PosFrom for one text that is scanned forward only: a search that found nothing
// finds nothing later either, so a listing full of unclosed "<" stays linear.
class ForwardFinder {
public:
    ForwardFinder(std::string_view sub, std::string_view text) : sub_(sub), text_(text) {}
    std::size_t From(std::size_t start) {
        if (exhausted_)
            return 0;
        if (found_ >= start && found_ != 0)
            return found_;
        found_ = PosFrom(sub_, text_, start);
        exhausted_ = found_ == 0;
        return found_;
    }

private:
    std::string_view sub_, text_;
    std::size_t found_ = 0;
    bool exhausted_ = false;
};

bool ToDecimal(std::u16string_view s, long long limit, long long& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i == s.size())
        return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return false;
        v = v * 10 + (s[i] - u'0');
        if (v > limit + 1)
            return false;
    }
    value = negative ? -v : v;
    return value >= -limit - 1 && value <= limit;
}

// A fixed-position field of a listing date: unsigned digits only.
bool DateField(std::u16string_view text, std::size_t first, std::size_t count, int& value) {
    if (first > text.size())
        return false;
    std::u16string_view f = text.substr(first - 1, count);
    if (f.empty() || f.size() > 4)
        return false;
    value = 0;
    for (char16_t c : f) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c - u'0');
    }
    return true;
}

bool IsLeapYear(int y) {
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

} // namespace

// ---- Text helpers ----------------------------------------------------------------

std::size_t PosFrom(std::string_view sub, std::string_view text, std::size_t start) {
    if (start < 1)
        start = 1;
    if (sub.empty() || start > text.size())
        return 0;
    std::size_t at = text.find(sub, start - 1);
    return at == std::string_view::npos ? 0 : at + 1;
}

std::string NormalizeXmlText(std::string_view s) {
    return TrimBlank(Replace(s, " ", " "));
}

std::string NormalizeCData(std::string_view s) {
    return Replace(s, "\\n ", "\\t ");
}

// ---- Nodes -----------------------------------------------------------------------

TvyrXMLNode::TvyrXMLNode(std::u16string name, TvyrXMLNode* parent, std::u16string value)
    : name_(std::move(name)), value_(std::move(value)), parent_(parent) {}

TvyrXMLNode::~TvyrXMLNode() {
    ClearChildren();
}

void TvyrXMLNode::ClearChildren() {
    // Unlink the subtree level by level so a deeply nested document is freed without
    // a recursion as deep as the document.
    std::vector<std::unique_ptr<TvyrXMLNode>> pending = std::move(children_);
    children_.clear();
    while (!pending.empty()) {
        std::unique_ptr<TvyrXMLNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children_)
            pending.push_back(std::move(child));
        node->children_.clear();
    }
}

TvyrXMLNode* TvyrXMLNode::Children(int index) const {
    if (index < 0 || index >= ChildCount())
        throw vyrEIndexOutOfBounds(vcl::Format(StrIndexOutOfBounds, index));
    return children_[static_cast<std::size_t>(index)].get();
}

TvyrXMLAttribute* TvyrXMLNode::Attributes(int index) const {
    if (index < 0 || index >= AttributeCount())
        throw vyrEIndexOutOfBounds(vcl::Format(StrIndexOutOfBounds, index));
    return attributes_[static_cast<std::size_t>(index)].get();
}

TvyrXMLNode* TvyrXMLNode::AddChild(std::u16string_view tagText, std::u16string value) {
    auto owned = std::make_unique<TvyrXMLNode>(std::u16string(tagText), this, std::move(value));
    TvyrXMLNode* node = owned.get();
    node->index_ = children_.size();
    children_.push_back(std::move(owned));

    std::size_t p = tagText.find(u' ');
    if (p == std::u16string_view::npos)
        return node; // the whole text is the name (an empty-element tag keeps its "/")
    node->name_ = std::u16string(tagText.substr(0, p));
    do {
        std::size_t e = tagText.find(u'=', p);
        if (e == std::u16string_view::npos)
            break;
        std::u16string name = TrimBlank(std::u16string(tagText.substr(p, e - p)));
        std::size_t q1 = tagText.find(u'"', e);
        if (q1 == std::u16string_view::npos)
            break;
        std::size_t q2 = tagText.find(u'"', q1 + 1);
        if (q2 == std::u16string_view::npos)
            break;
        node->AddAttribute(std::move(name), std::u16string(tagText.substr(q1 + 1, q2 - q1 - 1)));
        p = q2 + 1;
    } while (p < tagText.size());
    return node;
}

TvyrXMLAttribute* TvyrXMLNode::AddAttribute(std::u16string name, std::u16string value) {
    attributes_.push_back(std::make_unique<TvyrXMLAttribute>(std::move(name), std::move(value)));
    return attributes_.back().get();
}

TvyrXMLAttribute* TvyrXMLNode::FindAttribute(std::u16string_view name) const {
    for (const auto& a : attributes_)
        if (a->Name() == name)
            return a.get();
    return nullptr;
}

TvyrXMLNode* TvyrXMLNode::FindNode(std::u16string_view name) const {
    // Depth first in document order, with an explicit stack rather than recursion.
    std::vector<const TvyrXMLNode*> stack;
    for (auto it = children_.rbegin(); it != children_.rend(); ++it)
        stack.push_back(it->get());
    while (!stack.empty()) {
        const TvyrXMLNode* node = stack.back();
        stack.pop_back();
        if (node->name_ == name)
            return const_cast<TvyrXMLNode*>(node);
        for (auto it = node->children_.rbegin(); it != node->children_.rend(); ++it)
            stack.push_back(it->get());
    }
    return nullptr;
}

TvyrXMLNode* TvyrXMLNode::NextSibling() const {
    if (!parent_)
        return nullptr;
    const auto& siblings = parent_->children_;
    std::size_t next = index_ + 1;
    if (index_ >= siblings.size() || siblings[index_].get() != this || next >= siblings.size())
        return nullptr;
    return siblings[next].get();
}

// ---- Tree ------------------------------------------------------------------------

TvyrXMLTree::TvyrXMLTree(std::u16string name, TvyrXMLNode* parent, std::u16string value)
    : TvyrXMLNode(std::move(name), parent, std::move(value)) {}

void TvyrXMLTree::LoadFromStream(const std::uint8_t* data, std::size_t size) {
    ClearChildren();
    ClearAttributes();
    lines_.clear();
    // CR, LF or CR LF end a line; the bytes themselves are not decoded.
    std::string_view text(reinterpret_cast<const char*>(data), data ? size : 0);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines_.emplace_back(text.substr(start));
            break;
        }
        lines_.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    TokenizeXml(lines_);
    Build();
}

void TvyrXMLTree::TokenizeXml(std::vector<std::string>& lines) {
    std::string t;
    for (const auto& line : lines) {
        t += line;
        t += "\r\n";
    }
    std::vector<std::string> out;
    const std::string_view T(t);
    const std::size_t L = T.size();
    auto emitText = [&out](std::string_view raw) {
        std::string r = TrimBlank(std::string(raw));
        if (!r.empty())
            out.push_back("TX:" + NormalizeXmlText(r));
    };
    ForwardFinder open("<", T), close(">", T), cdataEnd("]]>", T);

    std::size_t i = 1;
    do {
        std::size_t b = open.From(i);
        if (b == 0) {
            emitText(Range(T, i, L));
            i = L;
        } else {
            emitText(Range(T, i, b - 1));
            i = b;
            std::string head(Range(T, b, b + 8));
            std::transform(head.begin(), head.end(), head.begin(),
                           [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
            if (head == "<![CDATA[") {
                std::size_t d = cdataEnd.From(i);
                if (d == 0) {
                    // Unterminated: the rest of the text is the section.
                    out.push_back("CD:" + NormalizeCData(Range(T, i + 9, L)));
                    i = L;
                } else {
                    out.push_back("CD:" + NormalizeCData(Range(T, i + 9, d - 1)));
                    i = d + 2;
                }
            } else {
                std::size_t d = close.From(i);
                if (d != 0) {
                    std::string_view tag = Range(T, i + 1, d - 1);
                    i = d;
                    if (!tag.empty() && tag.front() == '/')
                        out.push_back("CT:" + NormalizeXmlText(tag.substr(1)));
                    else if (!tag.empty() && tag.back() == '/')
                        out.push_back("ET:" + NormalizeXmlText(tag));
                    else
                        out.push_back("OT:" + NormalizeXmlText(tag));
                }
            }
        }
        ++i;
    } while (i <= L);
    lines = std::move(out);
}

void TvyrXMLTree::Build() {
    nodeCount_ = 0;
    ClearChildren();
    ClearAttributes();
    SetName(u"root");
    TvyrXMLNode* current = this;
    for (const auto& line : lines_) {
        if (line.size() < 3)
            continue;
        std::string_view kind = std::string_view(line).substr(0, 3);
        std::u16string rest = Widen(std::string_view(line).substr(3));
        if (kind == "OT:") {
            current = current->AddChild(rest, {});
            ++nodeCount_;
        } else if (kind == "CT:") {
            // Closing names are not compared; more closings than openings stay at the root.
            if (current != this && current->Parent())
                current = current->Parent();
        } else if (kind == "ET:") {
            current->AddChild(rest, {});
        } else if (kind == "TX:") {
            current->SetValue(std::move(rest));
            current->SetIsCData(false);
        } else if (kind == "CD:") {
            current->SetValue(std::move(rest));
            current->SetIsCData(true);
        }
    }
}

// ---- Folder listing --------------------------------------------------------------

int TvyrFileSystemObjects::Add(TvyrFileSystemObject* object) {
    if (!object)
        throw vyrEInvalidArgument(StrFileSystemObjectNotValid);
    Append(std::unique_ptr<TvyrFileSystemObject>(object));
    return Count() - 1;
}

bool ParseListingDate(std::u16string_view text, TDateTime& value) {
    int year, month, day, hour, minute, second;
    if (!DateField(text, 1, 4, year) || !DateField(text, 5, 2, month) || !DateField(text, 7, 2, day) ||
        !DateField(text, 10, 2, hour) || !DateField(text, 12, 2, minute) || !DateField(text, 14, 2, second))
        return false;
    static constexpr int kDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                         {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
    if (year < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59)
        return false;
    const int* days = kDays[IsLeapYear(year) ? 1 : 0];
    if (day < 1 || day > days[month - 1])
        return false;
    long long dayNumber = day;
    for (int m = 1; m < month; ++m)
        dayNumber += days[m - 1];
    long long y = year - 1;
    // Days from 1 January of year 1 to 30 December 1899.
    constexpr long long kDateDelta = 693594;
    double date = static_cast<double>(y * 365 + y / 4 - y / 100 + y / 400 + dayNumber - kDateDelta);
    double time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0) / 86400000.0;
    // Before the epoch the fraction counts away from zero, as the platform's date-time does.
    value = date < 0 ? date - time : date + time;
    return true;
}

std::unique_ptr<TvyrFileSystemObjects> ParseFolderListing(const std::uint8_t* data, std::size_t size) {
    auto result = std::make_unique<TvyrFileSystemObjects>();
    if (!data || size == 0)
        return result;
    TvyrXMLTree tree;
    tree.LoadFromStream(data, size);
    TvyrXMLNode* listing = tree.FindNode(u"folder-listing");
    if (!listing)
        return result;
    for (TvyrXMLNode* e = listing->FirstChild(); e; e = e->NextSibling()) {
        TvyrXMLAttribute* name = e->FindAttribute(u"name");
        if (!name)
            continue; // the parent-folder element, for one
        auto object = std::make_unique<TvyrFileSystemObject>();
        object->SetIsFolder(vcl::UpperCase(DecodeUtf8(e->Name())) == u"FOLDER");
        object->SetName(DecodeUtf8(name->Value()));
        if (TvyrXMLAttribute* perm = e->FindAttribute(u"user-perm")) {
            std::u16string p = vcl::UpperCase(DecodeUtf8(perm->Value()));
            TvyrFilePermissions permissions;
            if (p.find(u'R') != std::u16string::npos)
                permissions.Include(fpRead);
            if (p.find(u'W') != std::u16string::npos)
                permissions.Include(fpWrite);
            if (p.find(u'D') != std::u16string::npos)
                permissions.Include(fpDelete);
            object->SetPermissions(permissions);
        }
        if (!object->IsFolder()) {
            if (TvyrXMLAttribute* sizeAttr = e->FindAttribute(u"size")) {
                long long v = 0;
                // A size that is not a 32-bit decimal number is left at 0.
                if (ToDecimal(sizeAttr->Value(), 0x7FFFFFFF, v))
                    object->SetSize(static_cast<std::int32_t>(v));
            }
        }
        TDateTime when = 0;
        if (TvyrXMLAttribute* modified = e->FindAttribute(u"modified");
            modified && ParseListingDate(modified->Value(), when))
            object->SetModified(when);
        when = 0;
        if (TvyrXMLAttribute* created = e->FindAttribute(u"created");
            created && ParseListingDate(created->Value(), when))
            object->SetCreated(when);
        result->Add(object.release());
    }
    return result;
}

} // namespace vyr
