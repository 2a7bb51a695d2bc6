#include "server/xml_writer.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace pelmora {

namespace {

// How many bytes more than itself a byte takes between tags: &amp; &lt; &gt; &quot; &apos; &#xHH;.
struct EscapeTable {
    unsigned char extra[256] = {};
    constexpr EscapeTable() {
        for (int c = 0; c < 0x20; ++c) extra[c] = 5;
        extra['&'] = 4;
        extra['<'] = 3;
        extra['>'] = 3;
        extra['"'] = 5;
        extra['\''] = 5;
    }
};
constexpr EscapeTable kEscapes;

// Whether any of the eight bytes of `word` is one that must be escaped: below 0x20, or & < > " '.
bool NeedsEscape(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    auto hasZeroByte = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    std::uint64_t below = (word - 0x20 * kOnes) & ~word & kHighs;
    return below | hasZeroByte(word ^ ('&' * kOnes)) | hasZeroByte(word ^ ('<' * kOnes)) |
           hasZeroByte(word ^ ('>' * kOnes)) | hasZeroByte(word ^ ('"' * kOnes)) |
           hasZeroByte(word ^ ('\'' * kOnes));
}

// The length of the start of `text` that needs no escape, found eight bytes at a time (a name or an
// address usually needs none at all).
std::size_t PlainStart(std::string_view text) {
    std::size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, sizeof word);
        if (NeedsEscape(word)) break;
    }
    while (at < text.size() && !kEscapes.extra[static_cast<unsigned char>(text[at])]) ++at;
    return at;
}

std::size_t EscapedSize(std::string_view text, std::size_t plain) {
    std::size_t size = text.size();
    for (std::size_t i = plain; i < text.size(); ++i) size += kEscapes.extra[static_cast<unsigned char>(text[i])];
    return size;
}

// Writes the escaped text at `out`, which has room for EscapedSize(text) bytes, its first `plain`
// bytes as they are; returns the end.
char* WriteEscaped(char* out, std::string_view text, std::size_t plain) {
    static const char digits[] = "0123456789ABCDEF";
    std::memcpy(out, text.data(), plain);
    out += plain;
    for (char byte : text.substr(plain)) {
        unsigned char c = static_cast<unsigned char>(byte);
        if (!kEscapes.extra[c]) {
            *out++ = byte;
            continue;
        }
        const char* entity = c == '&'    ? "&amp;"
                             : c == '<'  ? "&lt;"
                             : c == '>'  ? "&gt;"
                             : c == '"'  ? "&quot;"
                             : c == '\'' ? "&apos;"
                                         : nullptr;
        if (entity) {
            std::size_t length = kEscapes.extra[c] + 1u;
            std::memcpy(out, entity, length);
            out += length;
        } else {
            const char reference[] = {'&', '#', 'x', digits[c >> 4], digits[c & 0x0F], ';'};
            std::memcpy(out, reference, sizeof reference);
            out += sizeof reference;
        }
    }
    return out;
}

char* Write(char* out, const char* bytes, std::size_t count) {
    std::memcpy(out, bytes, count);
    return out + count;
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text) {
    std::size_t plain = PlainStart(text);
    std::size_t at = out.size();
    out.resize(at + EscapedSize(text, plain));
    WriteEscaped(&out[at], text, plain);
}

XmlWriter::XmlWriter(const char* rootName, std::size_t expectedBytes) {
    text_.reserve(expectedBytes);
    text_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<";
    text_ += rootName;
    open_.push_back(rootName);
    tagPending_ = true;
}

void XmlWriter::Indent() {
    text_.append(4 * (open_.size() - 1), ' ');
}

void XmlWriter::StartChild() {
    if (tagPending_) text_ += ">\n";
    tagPending_ = false;
}

void XmlWriter::Open(const char* name) {
    StartChild();
    open_.push_back(name);
    Indent();
    text_ += '<';
    text_ += name;
    tagPending_ = true;
}

void XmlWriter::Close() {
    if (tagPending_) {
        text_ += " />\n";
    } else {
        Indent();
        text_ += "</";
        text_ += open_.back();
        text_ += ">\n";
    }
    tagPending_ = false;
    open_.pop_back();
}

void XmlWriter::Add(const char* name, std::string_view text) {
    if (text.empty()) {
        Open(name);
        return Close();
    }
    StartChild();
    // "<name>text</name>" on a line of its own, written in one piece.
    std::size_t indent = 4 * open_.size();
    std::size_t nameLength = std::strlen(name);
    std::size_t plain = PlainStart(text);
    std::size_t at = text_.size();
    text_.resize(at + indent + 2 * nameLength + 6 + EscapedSize(text, plain));
    char* out = &text_[at];
    std::memset(out, ' ', indent);
    out += indent;
    *out++ = '<';
    out = Write(out, name, nameLength);
    *out++ = '>';
    out = WriteEscaped(out, text, plain);
    out = Write(out, "</", 2);
    out = Write(out, name, nameLength);
    Write(out, ">\n", 2);
}

void XmlWriter::Add(const char* name, std::int64_t number) {
    char digits[24];
    std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, number);
    Add(name, std::string_view(digits, static_cast<std::size_t>(end.ptr - digits)));
}

std::string XmlWriter::Finish() {
    while (!open_.empty()) Close();
    return std::move(text_);
}

}  // namespace pelmora
