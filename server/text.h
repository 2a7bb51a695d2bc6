// Byte-level helpers of the server: form bodies, code pages, MD5, numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelmora {

// The fields of an application/x-www-form-urlencoded body, in the order they came.
class FormFields {
public:
    static FormFields Parse(std::string_view body);

    // The first value given for `key`, or nothing when the key is absent.
    const std::string* Find(std::string_view key) const;
    bool Has(std::string_view key) const { return Find(key) != nullptr; }

private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

// Percent escapes decoded, "+" read as a blank; a "%" without two hex digits stays as it is.
std::string DecodeFormValue(std::string_view value);

// A decimal number with an optional sign and nothing else; nothing on any other text or overflow.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// Windows-1251 bytes as UTF-8. Bytes the code page leaves undefined become U+FFFD.
std::string Cp1251ToUtf8(std::string_view bytes);
// UTF-8 text as Windows-1251 bytes; nothing when a character has no place in that code page.
std::optional<std::string> Utf8ToCp1251(std::string_view text);

// Text fit to store and show on one line: invalid UTF-8 becomes U+FFFD, control characters blanks.
std::string CleanText(std::string_view text);

// An e-mail address as the phone sends it (Windows-1251), lower-cased and stored as UTF-8.
std::string NormaliseEmailFromPhone(std::string_view cp1251);
// An e-mail address typed on the server's console (UTF-8); nothing when the phone could not type it.
std::optional<std::string> NormaliseEmail(std::string_view utf8);

// The hash the phone sends for a password: MD5 over its Windows-1251 bytes, lower-case hex.
// Nothing when the phone could not type the password.
std::optional<std::string> PasswordHash(std::string_view utf8Password);

std::string Md5Hex(std::string_view bytes);

// A moment in strftime's `format`, in UTC or in the server's local time.
std::string FormatTime(std::int64_t when, const char* format, bool local);

// Bytes as lower-case hex, two digits a byte.
std::string ToHex(const unsigned char* bytes, std::size_t count);

// `count` bytes from the system's random source, as lower-case hex.
std::string RandomHex(std::size_t count);

// The longest start of `text` that is at most `limit` bytes and ends on a whole UTF-8 character.
std::string_view Utf8Prefix(std::string_view text, std::size_t limit);

// A plain http:// address: "http://HOST[:PORT][/PATH]", HOST a name, an IPv4 address or an IPv6
// address in brackets. The path has no trailing slash, no query and no fragment.
struct HttpAddress {
    std::string host;
    std::string port = "80";
    std::string path;
};
std::optional<HttpAddress> ParseHttpAddress(std::string_view text);

}  // namespace pelmora
