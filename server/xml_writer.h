// The phone's reply documents written straight into one string, element by element in document
// order: no tree to build and print for a reply of thousands of elements. The bytes are those the
// phones have always had: the declaration, four blanks of indent a level, "<name />" for an empty
// element, a text on the line of its element, and &amp; &lt; &gt; &quot; &apos; and &#xHH; for
// control characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora {

class XmlWriter {
public:
    // Starts the document with its declaration and opens the root element.
    explicit XmlWriter(const char* rootName, std::size_t expectedBytes = 256);

    // Opens a child of the innermost open element; what is added next goes inside it until Close.
    void Open(const char* name);
    void Close();
    // A child holding `text` (an empty text makes an empty element).
    void Add(const char* name, std::string_view text);
    void Add(const char* name, std::int64_t number);

    // Closes every element still open; the document.
    std::string Finish();

private:
    // The start tag of the innermost open element is finished by its first child.
    void StartChild();
    void Indent();

    std::string text_;
    std::vector<const char*> open_;
    bool tagPending_ = false;  // the innermost element's start tag still lacks its ">"
};

// Text as it goes between tags.
void AppendEscaped(std::string& out, std::string_view text);

}  // namespace pelmora
