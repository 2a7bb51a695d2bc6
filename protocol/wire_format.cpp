#include "protocol/wire_format.h"

#include <cctype>
#include <climits>

#include "platform/text_conversion.h"

void AppendFormValue(std::string* out, const std::string& value) {
    static const char kHexDigits[] = "0123456789ABCDEF";
    for (const char character : value) {
        const unsigned char byte = static_cast<unsigned char>(character);
        if (byte == '&' || byte == '=' || byte == '+' || byte == '%' || byte < 0x20 || byte == 0x7F) {
            out->push_back('%');
            out->push_back(kHexDigits[byte >> 4]);
            out->push_back(kHexDigits[byte & 0x0F]);
        } else {
            out->push_back(character);
        }
    }
}

FormBody& FormBody::Add(const char* key, const std::string& value) {
    if (!text_.empty()) text_.push_back('&');
    text_ += key;
    text_.push_back('=');
    AppendFormValue(&text_, value);
    return *this;
}

FormBody& FormBody::Add(const char* key, int value) { return Add(key, std::to_string(value)); }

int ReadDecimal(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    // Gathered as a negative number, whose range reaches one further than the positive one.
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value > LLONG_MIN / 20) value = value * 10 - (*text - '0');
    }
    if (negative) return value < INT_MIN ? INT_MIN : static_cast<int>(value);
    return value < -static_cast<long long>(INT_MAX) ? INT_MAX : static_cast<int>(-value);
}

const TiXmlElement* FindChild(const TiXmlNode* parent, const char* name) {
    if (parent == nullptr) return nullptr;
    const TiXmlNode* child = parent->FirstChild(name);
    return child != nullptr ? child->ToElement() : nullptr;
}

const char* ChildText(const TiXmlNode* parent, const char* name) {
    const TiXmlElement* child = FindChild(parent, name);
    return child != nullptr ? child->GetText() : nullptr;
}

bool ReadChildNumber(const TiXmlNode* parent, const char* name, int* value) {
    const char* text = ChildText(parent, name);
    if (text == nullptr) return false;
    *value = ReadDecimal(text);
    return true;
}

std::wstring ChildWideText(const TiXmlNode* parent, const char* name) {
    const char* text = ChildText(parent, name);
    return text != nullptr ? Utf8ToWide(text) : std::wstring();
}
