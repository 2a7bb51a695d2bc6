#include "platform/xml_document.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/scratch_heap.h"

namespace {

// TinyXML's GetChar may step up to three bytes past the last one (a lead byte at the very end): the
// text it parses ends in this many zero bytes, so every such step lands on a zero.
constexpr std::size_t kZeroPadding = 4;

bool IsXmlWhiteSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == '\n' || c == '\r';
}

// TinyXML takes every byte from 127 up as a letter of a name.
bool IsNameStart(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 127 || std::isalpha(byte) || c == '_';
}

bool IsNameByte(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 127 || std::isalnum(byte) || c == '_' || c == '-' || c == '.' || c == ':';
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

enum class Markup { Declaration, Comment, CData, Unknown, Element };

// One reading of a document the way TiXmlDocument::Parse goes through it, without building anything.
// TinyXML's recursion over elements becomes the stack of open element names.
class XmlMeasure {
public:
    XmlMeasure(std::string_view text, bool utf8, bool decided, bool utf8AfterDeclaration)
        : text_(text), utf8_(utf8), decided_(decided), utf8AfterDeclaration_(utf8AfterDeclaration) {}

    XmlShape Run() {
        ReadDocument();
        return shape_;
    }

private:
    char Byte(std::size_t at) const { return at < text_.size() ? text_[at] : '\0'; }
    bool AtEnd() const { return at_ >= text_.size(); }

    bool Matches(std::string_view tag, bool ignoreCase = false) const {
        for (std::size_t index = 0; index < tag.size(); ++index) {
            const char c = Byte(at_ + index);
            if (c == '\0') return false;
            if (ignoreCase ? LowerAscii(c) != LowerAscii(tag[index]) : c != tag[index]) return false;
        }
        return true;
    }

    // TinyXML's SkipWhiteSpace; in UTF-8 it passes over byte-order marks too.
    void SkipWhiteSpace() {
        while (!AtEnd()) {
            const unsigned char first = static_cast<unsigned char>(Byte(at_));
            const unsigned char second = static_cast<unsigned char>(Byte(at_ + 1));
            const unsigned char third = static_cast<unsigned char>(Byte(at_ + 2));
            if (utf8_ && first == 0xEF &&
                ((second == 0xBB && third == 0xBF) || (second == 0xBF && (third == 0xBE || third == 0xBF)))) {
                at_ += 3;
            } else if (IsXmlWhiteSpace(Byte(at_))) {
                ++at_;
            } else {
                return;
            }
        }
    }

    bool ReadName(std::string_view* name) {
        if (!IsNameStart(Byte(at_))) return false;
        const std::size_t start = at_;
        while (IsNameByte(Byte(at_))) ++at_;
        *name = text_.substr(start, at_ - start);
        return true;
    }

    // A character reference as TinyXML's GetEntity takes it: from the ';' back to the 'x' or '#' every
    // byte must be a digit, and the reading goes on after the ';' whatever lies before those digits.
    bool StepCharacterReference() {
        const bool hexadecimal = Byte(at_ + 2) == 'x';
        const std::size_t digits = at_ + (hexadecimal ? 3 : 2);
        if (Byte(digits) == '\0') return false;
        const std::size_t end = text_.find(';', digits);
        if (end == std::string_view::npos) return false;
        for (std::size_t back = end - 1; Byte(back) != (hexadecimal ? 'x' : '#'); --back) {
            const char c = Byte(back);
            if (hexadecimal ? !IsHexDigit(c) : !(c >= '0' && c <= '9')) return false;
        }
        at_ = end + 1;
        return true;
    }

    // One character of a text or an attribute value (TinyXML's GetChar); false where TinyXML fails.
    bool StepCharacter() {
        const unsigned char byte = static_cast<unsigned char>(Byte(at_));
        if (utf8_) {
            const int length = TiXmlBase::utf8ByteTable[byte];
            if (length > 1) {
                at_ += static_cast<std::size_t>(length);
                return true;
            }
        }
        if (byte == '&' && Byte(at_ + 1) == '#' && Byte(at_ + 2) != '\0') return StepCharacterReference();
        ++at_;
        return true;
    }

    // Reads up to and past `end`; false when the text ends first or right after it (TinyXML's ReadText).
    bool ReadTextUntil(char end) {
        while (!AtEnd() && Byte(at_) != end) {
            if (!StepCharacter()) return false;
        }
        if (AtEnd()) return false;
        ++at_;
        return !AtEnd();
    }

    // Name, '=' and a value, quoted or not (TiXmlAttribute::Parse).
    bool ReadAttribute() {
        SkipWhiteSpace();
        std::string_view name;
        if (AtEnd() || !ReadName(&name) || AtEnd()) return false;
        SkipWhiteSpace();
        if (Byte(at_) != '=') return false;
        ++at_;
        SkipWhiteSpace();
        if (AtEnd()) return false;
        const char quote = Byte(at_);
        if (quote == '\'' || quote == '"') {
            ++at_;
            return ReadTextUntil(quote);
        }
        while (!AtEnd() && !IsXmlWhiteSpace(Byte(at_)) && Byte(at_) != '/' && Byte(at_) != '>') {
            if (Byte(at_) == '\'' || Byte(at_) == '"') return false;
            ++at_;
        }
        return true;
    }

    bool CountAttribute(int* count) {
        ++*count;
        shape_.attributes = std::max(shape_.attributes, *count);
        return *count <= kMaxXmlAttributes;
    }

    Markup Identify() const {
        if (Matches("<?xml", true)) return Markup::Declaration;
        if (Matches("<!--")) return Markup::Comment;
        if (Matches("<![CDATA[")) return Markup::CData;
        if (Matches("<!")) return Markup::Unknown;
        return IsNameStart(Byte(at_ + 1)) ? Markup::Element : Markup::Unknown;
    }

    // Markup other than an element, from its "<"; false where TinyXML gives up.
    bool ReadOtherMarkup(Markup markup) {
        switch (markup) {
        case Markup::Declaration:
            return ReadDeclaration();
        case Markup::Comment:
            at_ += 4;
            while (!AtEnd() && !Matches("-->")) ++at_;
            if (!AtEnd()) at_ += 3;
            return true;
        case Markup::CData:
            at_ += 9;
            while (!AtEnd() && !Matches("]]>")) ++at_;
            if (AtEnd()) return false;
            at_ += 3;
            return !AtEnd();
        default:
            ++at_;
            while (!AtEnd() && Byte(at_) != '>') ++at_;
            if (!AtEnd()) ++at_;
            return true;
        }
    }

    bool ReadDeclaration() {
        at_ += 5;
        while (!AtEnd()) {
            if (Byte(at_) == '>') {
                ++at_;
                return true;
            }
            SkipWhiteSpace();
            if (AtEnd()) return false;
            if (Matches("version", true) || Matches("encoding", true) || Matches("standalone", true)) {
                if (!ReadAttribute()) return false;
            } else {
                while (!AtEnd() && Byte(at_) != '>' && !IsXmlWhiteSpace(Byte(at_))) ++at_;
            }
        }
        return false;
    }

    // The start tag of an element, from its "<": the element is open afterwards, or already closed when
    // the tag ends in "/>". False where TinyXML gives up or a bound is passed.
    bool ReadStartTag() {
        // TinyXML has entered the element (and built it) before it reads the name.
        open_.emplace_back();
        shape_.depth = std::max(shape_.depth, static_cast<int>(open_.size()));
        if (shape_.depth > kMaxXmlNesting) return false;
        ++at_;
        SkipWhiteSpace();
        if (!ReadName(&open_.back()) || AtEnd()) return false;
        int attributes = 0;
        while (!AtEnd()) {
            SkipWhiteSpace();
            if (AtEnd()) return false;
            if (Byte(at_) == '/') {
                ++at_;
                if (Byte(at_) != '>') return false;
                ++at_;
                open_.pop_back();
                return true;
            }
            if (Byte(at_) == '>') {
                ++at_;
                return true;
            }
            if (!CountAttribute(&attributes) || !ReadAttribute() || AtEnd()) return false;
        }
        return false;
    }

    // "</" followed by the open element's name, blanks and ">".
    bool ReadEndTag() {
        const std::string_view name = open_.back();
        if (Byte(at_ + 1) != '/') return false;
        at_ += 2;
        if (!Matches(name)) return false;
        at_ += name.size();
        SkipWhiteSpace();
        if (Byte(at_) != '>') return false;
        ++at_;
        open_.pop_back();
        return true;
    }

    // Text up to the next "<" (TiXmlText::Parse); TinyXML gives up when nothing follows that "<".
    bool ReadText() {
        while (!AtEnd() && Byte(at_) != '<') {
            if (!StepCharacter()) return false;
        }
        return !AtEnd() && Byte(at_ + 1) != '\0';
    }

    // An element and everything in it (TiXmlElement::Parse and ReadValue); true when it ended properly.
    bool ReadElement() {
        if (!ReadStartTag()) return false;
        while (!open_.empty()) {
            SkipWhiteSpace();
            if (AtEnd()) return false;
            bool read = true;
            if (Byte(at_) != '<') {
                read = ReadText();
            } else if (Matches("</")) {
                read = ReadEndTag();
            } else {
                const Markup markup = Identify();
                read = markup == Markup::Element ? ReadStartTag() : ReadOtherMarkup(markup);
            }
            if (!read) return false;
        }
        return true;
    }

    void ReadDocument() {
        SkipWhiteSpace();
        while (!AtEnd() && Byte(at_) == '<') {
            const Markup markup = Identify();
            const bool read = markup == Markup::Element ? ReadElement() : ReadOtherMarkup(markup);
            if (markup == Markup::Declaration && !decided_) {
                // The first declaration decides the encoding of the rest of the document.
                utf8_ = utf8AfterDeclaration_;
                decided_ = true;
            }
            if (!read) return;
            SkipWhiteSpace();
        }
    }

    std::string_view text_;
    bool utf8_;
    bool decided_;
    bool utf8AfterDeclaration_;
    std::size_t at_ = 0;
    std::vector<std::string_view> open_;
    XmlShape shape_;
};

}  // namespace

XmlShape MeasureXml(std::string_view text, TiXmlEncoding encoding) {
    text = text.substr(0, text.find('\0'));
    if (encoding != TIXML_ENCODING_UNKNOWN) {
        return XmlMeasure(text, encoding == TIXML_ENCODING_UTF8, true, false).Run();
    }
    // A byte-order mark makes the whole document UTF-8.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") return XmlMeasure(text, true, true, true).Run();
    // Otherwise the first declaration's encoding decides, as TinyXML reads that declaration. Both
    // readings are measured and the larger counts, so the answer never depends on how TinyXML
    // interprets an odd encoding name.
    const XmlShape asUtf8 = XmlMeasure(text, false, false, true).Run();
    const XmlShape asLegacy = XmlMeasure(text, false, false, false).Run();
    return {std::max(asUtf8.depth, asLegacy.depth), std::max(asUtf8.attributes, asLegacy.attributes)};
}

bool IsWithinXmlBounds(const XmlShape& shape) {
    return shape.depth <= kMaxXmlNesting && shape.attributes <= kMaxXmlAttributes;
}

bool ParseXmlText(std::string_view text, TiXmlEncoding encoding, TiXmlDocument* document, ScratchHeap* scratch) {
    document->Clear();
    const std::string_view bounded = text.substr(0, text.find('\0'));
    if (!IsWithinXmlBounds(MeasureXml(bounded, encoding))) return false;
    // The one copy of a reply that may run to megabytes: made once, at its final size.
    std::string padded;
    padded.reserve(bounded.size() + kZeroPadding);
    padded.append(bounded).append(kZeroPadding, '\0');
    std::optional<ScratchAllocation> inScratch;
    if (scratch != nullptr) inScratch.emplace(*scratch);
    document->Parse(padded.c_str(), nullptr, encoding);
    return true;
}

bool LoadXmlFile(const std::string& path, TiXmlEncoding encoding, TiXmlDocument* document) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::string bytes;
    char buffer[4096];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) bytes.append(buffer, read);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || bytes.empty()) return false;

    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] != '\r') {
            text.push_back(bytes[at]);
            continue;
        }
        text.push_back('\n');
        if (at + 1 < bytes.size() && bytes[at + 1] == '\n') ++at;
    }
    return ParseXmlText(text, encoding, document) && !document->Error();
}
