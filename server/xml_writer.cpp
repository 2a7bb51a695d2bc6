#include "server/xml_writer.h"

#include <charconv>

namespace pelmora {

void AppendEscaped(std::string& out, std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    std::size_t plain = 0;  // start of the run of bytes that need no escape
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        const char* entity = nullptr;
        switch (c) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = "&quot;"; break;
        case '\'': entity = "&apos;"; break;
        default:
            if (c >= 0x20) continue;
        }
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        if (entity) {
            out += entity;
        } else {
            const char reference[] = {'&', '#', 'x', digits[c >> 4], digits[c & 0x0F], ';'};
            out.append(reference, sizeof reference);
        }
    }
    out.append(text.data() + plain, text.size() - plain);
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
    text_.append(4 * open_.size(), ' ');
    text_ += '<';
    text_ += name;
    text_ += '>';
    AppendEscaped(text_, text);
    text_ += "</";
    text_ += name;
    text_ += ">\n";
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
