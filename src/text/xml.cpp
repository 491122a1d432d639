// The in-place XML reader: the parser, the document that owns the parsed
// buffer, and the node view over it. It stays whole because the node's
// attribute walk reads the layout the parser leaves in the buffer, so the
// writer and the reader of that layout must change together. The parser walks
// the buffer once, iteratively (the current parent and the last element of its
// content are all the state it needs, because every element records its
// parent), so deep nesting costs heap for the element array and never stack.
#include "text/text.h"

#include "base/utf8.h"
#include "text/name_chars.h"

#include <limits>
#include <new>

namespace tde {

namespace {

// Whitespace is every character up to 0x20; NUL ends the text.
bool IsSpace(char16_t c) {
    return c != 0 && c <= 0x20;
}

struct Entity {
    std::u16string_view name;  // after "&", with the ";"
    char16_t character;
};

constexpr Entity kEntities[] = {
    {u"amp;", u'&'}, {u"lt;", u'<'}, {u"gt;", u'>'}, {u"quot;", u'"'}, {u"apos;", u'\''},
};

}  // namespace

class XmlParser {
  public:
    explicit XmlParser(XmlDocument& document) : doc_(document), buf_(document.buffer_.data()) {}

    bool Run() {
        doc_.AppendElement();  // entry 0 is reserved
        uint32_t parent = 0;
        uint32_t previous = 0;  // last element of the parent's content so far
        for (;;) {
            SkipSpace();
            if (AtEnd()) {
                // The top level and the first element's content may simply end.
                return parent <= 1 ? true : Fail(u"Expected start tag");
            }
            if (buf_[pos_] != u'<') {
                return Fail(u"Expected start tag");
            }
            if (buf_[pos_ + 1] == u'/') {
                if (parent == 0) {
                    return true;  // no element at the top level waits for an end tag
                }
                if (!CloseElement(parent)) {
                    return false;
                }
                previous = parent;
                parent = doc_.elements_[parent].parent;
                continue;
            }
            buf_[pos_++] = 0;
            SkipSpace();
            if (buf_[pos_] == u'!') {  // comment or other declaration
                SkipPast(u'-', u'>');
                continue;
            }
            if (buf_[pos_] == u'?') {  // processing instruction, XML declaration
                SkipPast(u'?', u'>');
                continue;
            }

            uint32_t element = doc_.AppendElement();
            doc_.elements_[element].name = Offset();
            doc_.elements_[element].parent = parent;
            if (previous != 0) {
                doc_.elements_[previous].nextSibling = element;
            } else if (parent != 0) {
                doc_.elements_[parent].firstChild = element;
            }
            previous = element;

            while (IsNameCharacter(buf_[pos_])) {
                ++pos_;
            }
            if (AtEnd()) {
                return Fail(u"Error parsing element name");
            }
            size_t nameEnd = pos_;
            if (!ParseAttributes(element)) {
                return false;
            }

            SkipSpace();
            if (buf_[pos_] == u'/' && buf_[pos_ + 1] == u'>') {
                buf_[nameEnd] = 0;
                buf_[pos_] = 0;
                doc_.elements_[element].text = Offset();  // empty
                pos_ += 2;
                continue;
            }
            if (buf_[pos_] != u'>') {
                return Fail(u"Expected start-tag closing");
            }
            buf_[nameEnd] = 0;
            ++pos_;
            doc_.elements_[element].text = Offset();
            for (size_t i = DecodeText(u'<'); i < pos_; ++i) {
                buf_[i] = 0;
            }
            if (AtEnd()) {
                return parent <= 1 ? true : Fail(u"Expected end-tag start");
            }
            // The text stops only at "<" or the end.
            if (buf_[pos_ + 1] != u'/') {
                parent = element;
                previous = 0;
                continue;
            }
            if (!CloseElement(element)) {
                return false;
            }
        }
    }

  private:
    bool AtEnd() const { return buf_[pos_] == 0; }
    uint32_t Offset() const { return static_cast<uint32_t>(pos_); }

    void SkipSpace() {
        while (IsSpace(buf_[pos_])) {
            ++pos_;
        }
    }

    // Past the first "first" directly followed by "second", or to the end.
    void SkipPast(char16_t first, char16_t second) {
        while (!AtEnd() && !(buf_[pos_] == first && buf_[pos_ + 1] == second)) {
            ++pos_;
        }
        if (!AtEnd()) {
            pos_ += 2;
        }
    }

    bool Fail(std::u16string_view message) {
        std::u16string_view rest(buf_ + pos_);
        doc_.SetError(message, rest);
        return false;
    }

    // Decodes the text from pos_ up to the terminator or the end in place and
    // answers where the decoded text ends; the characters from there to pos_
    // were freed by decoding.
    size_t DecodeText(char16_t terminator) {
        size_t out = pos_;
        while (!AtEnd() && buf_[pos_] != terminator) {
            if (buf_[pos_] == u'&') {
                bool decoded = false;
                for (const Entity& entity : kEntities) {
                    size_t k = 0;
                    while (k < entity.name.size() && buf_[pos_ + 1 + k] == entity.name[k]) {
                        ++k;
                    }
                    if (k == entity.name.size()) {
                        buf_[out++] = entity.character;
                        pos_ += 1 + k;
                        decoded = true;
                        break;
                    }
                }
                if (decoded) {
                    continue;
                }
            }
            buf_[out++] = buf_[pos_++];
        }
        return out;
    }

    bool ParseAttributes(uint32_t element) {
        XmlDocument::Element& e = doc_.elements_[element];
        if (buf_[pos_] == u'>' || (buf_[pos_] == u'/' && buf_[pos_ + 1] == u'>')) {
            e.attributesBegin = e.attributesEnd = Offset();
            return true;
        }
        buf_[pos_] = 0;
        e.attributesBegin = Offset();
        for (;;) {
            ++pos_;
            SkipSpace();
            if (AtEnd() || buf_[pos_] == u'>' || buf_[pos_] == u'/') {
                break;
            }
            while (IsNameCharacter(buf_[pos_])) {
                ++pos_;
            }
            size_t nameEnd = pos_;
            SkipSpace();
            if (buf_[pos_] != u'=') {
                return Fail(u"Error while parsing attributes");
            }
            // The name's terminator; an "=" after whitespace stays in place.
            buf_[nameEnd] = 0;
            ++pos_;
            SkipSpace();
            if (buf_[pos_] != u'"') {
                return Fail(u"Expected attribute value");
            }
            ++pos_;
            size_t valueEnd = DecodeText(u'"');
            if (AtEnd()) {
                return Fail(u"Error while parsing attribute string");
            }
            // The value's terminator. When decoding freed characters, the rest of
            // them and the closing quote become spaces, so the attribute mapping
            // finds separators after every value's terminator.
            buf_[valueEnd] = 0;
            for (size_t i = valueEnd + 1; i <= pos_; ++i) {
                buf_[i] = u' ';
            }
        }
        doc_.elements_[element].attributesEnd = Offset();
        return true;
    }

    // At "</": the end tag must repeat the element's name exactly.
    bool CloseElement(uint32_t element) {
        buf_[pos_] = 0;  // ends the element's text content
        pos_ += 2;
        SkipSpace();
        const char16_t* name = buf_ + doc_.elements_[element].name;
        for (size_t k = 0; IsNameCharacter(name[k]); ++k) {
            if (buf_[pos_] != name[k]) {
                return Fail(u"Unmatched closing tag");
            }
            ++pos_;
        }
        SkipSpace();
        if (buf_[pos_] != u'>') {
            return Fail(u"Unmatched closing tag");
        }
        ++pos_;
        return true;
    }

    XmlDocument& doc_;
    char16_t* buf_;
    size_t pos_ = 0;
};

// ---------------------------------------------------------------------------

void XmlDocument::Clear() {
    buffer_.clear();
    buffer_.shrink_to_fit();
    elements_.clear();
    elements_.shrink_to_fit();
    capacity_ = 0;
}

void XmlDocument::SetError(std::u16string_view message, std::u16string_view location) {
    errorMessage_.assign(message.substr(0, kMaxErrorMessage));
    errorLocation_.assign(location.substr(0, kMaxErrorLocation));
}

uint32_t XmlDocument::AppendElement() {
    if (elements_.size() == capacity_) {
        capacity_ = capacity_ + capacity_ / 2 + 500;
        elements_.reserve(capacity_);
    }
    elements_.emplace_back();
    return static_cast<uint32_t>(elements_.size() - 1);
}

bool XmlDocument::Parse() {
    errorMessage_.clear();
    errorLocation_.clear();
    // The text ends at its first NUL, as everything after it would be unreachable.
    size_t end = buffer_.find(u'\0');
    if (end != std::u16string::npos) {
        buffer_.resize(end);
    }
    bool ok = false;
    if (buffer_.size() >= std::numeric_limits<uint32_t>::max() - 2) {
        SetError(u"Document too large", {});
    } else {
        try {
            // Two terminators: the parser may look one character past a "<".
            buffer_.push_back(u'\0');
            buffer_.push_back(u'\0');
            XmlParser parser(*this);
            ok = parser.Run();
        } catch (const std::bad_alloc&) {
            SetError(u"Out of memory", {});
        }
    }
    if (!ok) {
        Clear();
    }
    return ok;
}

bool XmlDocument::LoadFromString(std::u16string_view text) {
    Clear();
    try {
        size_t end = text.find(u'\0');
        buffer_.assign(text.substr(0, end));
    } catch (const std::bad_alloc&) {
        SetError(u"Out of memory", {});
        Clear();
        return false;
    }
    return Parse();
}

bool XmlDocument::LoadFromMemory(const uint8_t* bytes, size_t count) {
    Clear();
    if (count > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes += 3;
        count -= 3;
    }
    try {
        buffer_.reserve(count + 2);
        if (count > 0) {
            DecodeUtf8(bytes, count, buffer_);
        }
    } catch (const std::bad_alloc&) {
        SetError(u"Out of memory", {});
        Clear();
        return false;
    }
    return Parse();
}

XmlNode XmlDocument::GetRoot() const {
    if (elements_.size() < 2) {
        return XmlNode();
    }
    return XmlNode(this, 1);
}

// ---------------------------------------------------------------------------

bool XmlNode::IsValid() const {
    return document_ != nullptr && document_->Exists(element_);
}

std::u16string_view XmlNode::GetName() const {
    if (!IsValid()) {
        return {};
    }
    return std::u16string_view(document_->buffer_.data() + document_->elements_[element_].name);
}

std::u16string_view XmlNode::GetValue() const {
    if (!IsValid()) {
        return {};
    }
    return std::u16string_view(document_->buffer_.data() + document_->elements_[element_].text);
}

XmlNode XmlNode::GetParent() const {
    if (!IsValid()) {
        return XmlNode();
    }
    uint32_t parent = document_->elements_[element_].parent;
    return parent != 0 ? XmlNode(document_, parent) : XmlNode();
}

XmlNode XmlNode::GetFirstChild() const {
    if (!IsValid()) {
        return XmlNode();
    }
    uint32_t child = document_->elements_[element_].firstChild;
    return child != 0 ? XmlNode(document_, child) : XmlNode();
}

XmlNode XmlNode::GetNextSibling() const {
    if (!IsValid()) {
        return XmlNode();
    }
    uint32_t sibling = document_->elements_[element_].nextSibling;
    return sibling != 0 ? XmlNode(document_, sibling) : XmlNode();
}

size_t XmlNode::GetNameOffset() const {
    return IsValid() ? document_->elements_[element_].name : 0;
}

bool XmlNode::HasChildren() const {
    return IsValid() && document_->elements_[element_].firstChild != 0;
}

// The parser leaves the stretch after the element name's terminator as, per
// attribute: separators, the name, its terminator, possibly whitespace, "="
// and whitespace, the opening quote, the decoded value and its terminator. The
// walk goes forwards through it; an empty name is the terminator on its own.
void XmlNode::MapAttributes() const {
    if (mapped_) {
        return;
    }
    mapped_ = true;
    attributeCount_ = 0;
    if (!IsValid()) {
        return;
    }
    const char16_t* buf = document_->buffer_.data();
    const XmlDocument::Element& e = document_->elements_[element_];
    size_t end = e.attributesEnd;
    size_t p = e.attributesBegin + 1;
    auto skipSpace = [&] {
        while (p < end && IsSpace(buf[p])) {
            ++p;
        }
    };
    auto stepPast = [&] {
        while (p < end && buf[p] != 0) {
            ++p;
        }
        ++p;
    };
    while (attributeCount_ < kMaxAttributes && e.attributesBegin < end) {
        skipSpace();
        if (p >= end) {
            break;
        }
        size_t name = p;
        stepPast();
        skipSpace();
        if (p < end && buf[p] == u'=') {
            ++p;
            skipSpace();
        }
        if (p >= end || buf[p] != u'"') {
            break;  // the parser accepted no such attribute
        }
        size_t value = p + 1;
        p = value;
        stepPast();
        attributes_[attributeCount_ * 2] = static_cast<uint32_t>(name);
        attributes_[attributeCount_ * 2 + 1] = static_cast<uint32_t>(value);
        ++attributeCount_;
    }
}

bool XmlNode::HasAttributes() const {
    return GetAttributeCount() > 0;
}

int XmlNode::GetAttributeCount() const {
    MapAttributes();
    return attributeCount_;
}

std::u16string_view XmlNode::GetAttributeName(int index) const {
    if (!IsValid()) {
        return {};
    }
    MapAttributes();
    if (index < 0 || index >= attributeCount_) {
        return std::u16string_view(u"");
    }
    return std::u16string_view(document_->buffer_.data() + attributes_[index * 2]);
}

std::u16string_view XmlNode::GetAttributeValue(int index) const {
    if (!IsValid()) {
        return {};
    }
    MapAttributes();
    if (index < 0 || index >= attributeCount_) {
        return std::u16string_view(u"");
    }
    return std::u16string_view(document_->buffer_.data() + attributes_[index * 2 + 1]);
}

}  // namespace tde
