// The two sides of every exchange with the server, as plain text: the form body that goes out and
// the XML reply that comes back.
#pragma once

#include <string>

#include <tinyxml.h>

// A request body: key=value fields joined by "&", in the order they are added. Values are written as
// raw bytes, except that "&", "=", "+", "%" and control characters are percent-encoded: unencoded,
// they would split a field, start a new one, or change the value when the server decodes the form.
class FormBody {
public:
    FormBody& Add(const char* key, const std::string& value);
    // Numbers in decimal, a minus sign for negatives.
    FormBody& Add(const char* key, int value);
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// Appends `value` to `out` with the encoding that FormBody gives every value.
void AppendFormValue(std::string* out, const std::string& value);

// A number as atoi reads it: leading white space, an optional sign, decimal digits up to the first
// other byte, 0 without digits. A number beyond the signed 32-bit range gives the nearest end of that
// range, as the platform's atoi does, where the C library leaves the overflow undefined.
int ReadDecimal(const char* text);

// Reading a reply. A child is found by name among the direct children of its parent; the first match
// counts. An element's text is that of its first child when that is a text node.

// The child element `name` of `parent`, or null.
const TiXmlElement* FindChild(const TiXmlNode* parent, const char* name);
// The text of the child `name` (UTF-8 as received), or null when the child is missing or has no text.
const char* ChildText(const TiXmlNode* parent, const char* name);
// Reads the child's text as ReadDecimal reads it into `value`; false (and `value` untouched) without text.
bool ReadChildNumber(const TiXmlNode* parent, const char* name, int* value);
// The child's text as wide text; empty when the child is missing or has no text.
std::wstring ChildWideText(const TiXmlNode* parent, const char* name);
