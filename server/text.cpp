#include "server/text.h"

#include <iconv.h>
#include <sys/random.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>

namespace pelmora {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One iconv conversion; `skipInvalid` replaces undecodable input bytes instead of failing.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view input,
                                   bool skipInvalid) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error(std::string("no code page conversion from ") + from + " to " + to);
    }
    std::string output;
    char buffer[256];
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    bool ok = true;
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(buffer, out - buffer);
        if (result != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (!skipInvalid) {
            ok = false;
            break;
        }
        output += "\xEF\xBF\xBD";
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return output;
}

// Lower case within Windows-1251: Latin letters, Cyrillic А..Я and Ё.
std::string LowerCp1251(std::string bytes) {
    for (char& c : bytes) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'A' && u <= 'Z') u = static_cast<unsigned char>(u + 32);
        else if (u >= 0xC0 && u <= 0xDF) u = static_cast<unsigned char>(u + 32);
        else if (u == 0xA8) u = 0xB8;
        c = static_cast<char>(u);
    }
    return bytes;
}

std::string TrimBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return std::string(text.substr(begin, end - begin));
}

// MD5 as RFC 1321 defines it.
class Md5 {
public:
    void Update(const unsigned char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            block_[used_++] = data[i];
            if (used_ == 64) {
                Transform();
                used_ = 0;
            }
        }
        length_ += size;
    }

    void Finish(unsigned char digest[16]) {
        std::uint64_t bits = length_ * 8;
        unsigned char pad = 0x80;
        Update(&pad, 1);
        pad = 0;
        while (used_ != 56) Update(&pad, 1);
        unsigned char lengthBytes[8];
        for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<unsigned char>(bits >> (8 * i));
        Update(lengthBytes, 8);
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
        }
    }

private:
    static std::uint32_t Rotate(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

    void Transform() {
        static const std::uint32_t k[64] = {
            0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
            0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
            0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
            0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
            0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
            0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
            0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
            0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
        static const int shifts[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i) {
            m[i] = static_cast<std::uint32_t>(block_[i * 4]) | (static_cast<std::uint32_t>(block_[i * 4 + 1]) << 8) |
                   (static_cast<std::uint32_t>(block_[i * 4 + 2]) << 16) |
                   (static_cast<std::uint32_t>(block_[i * 4 + 3]) << 24);
        }
        std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            int round = i / 16;
            if (round == 0) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (round == 1) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (round == 2) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            std::uint32_t next = d;
            d = c;
            c = b;
            b = b + Rotate(a + f + k[i] + m[g], shifts[round * 4 + i % 4]);
            a = next;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
    }

    std::uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    unsigned char block_[64] = {};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace

FormFields FormFields::Parse(std::string_view body) {
    // A client that counts the closing CR LF into Content-Length must not change the last value.
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
    FormFields form;
    while (!body.empty()) {
        std::size_t end = body.find('&');
        std::string_view field = body.substr(0, end);
        if (!field.empty()) {
            std::size_t equals = field.find('=');
            std::string_view key = field.substr(0, equals);
            std::string_view value = equals == std::string_view::npos ? std::string_view() : field.substr(equals + 1);
            form.fields_.emplace_back(DecodeFormValue(key), DecodeFormValue(value));
        }
        if (end == std::string_view::npos) break;
        body.remove_prefix(end + 1);
    }
    return form;
}

const std::string* FormFields::Find(std::string_view key) const {
    for (const auto& field : fields_) {
        if (field.first == key) return &field.second;
    }
    return nullptr;
}

std::string DecodeFormValue(std::string_view value) {
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 && HexDigit(value[i + 2]) >= 0) {
            decoded += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
    if (text.empty()) return std::nullopt;
    bool negative = false;
    std::size_t i = 0;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        int digit = text[i] - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

std::string Cp1251ToUtf8(std::string_view bytes) {
    return *Convert("UTF-8", "CP1251", bytes, true);
}

std::optional<std::string> Utf8ToCp1251(std::string_view text) {
    return Convert("CP1251", "UTF-8", text, false);
}

std::string CleanText(std::string_view text) {
    std::string valid = *Convert("UTF-8", "UTF-8", text, true);
    for (char& c : valid) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) c = ' ';
    }
    return valid;
}

std::string NormaliseEmailFromPhone(std::string_view cp1251) {
    return CleanText(Cp1251ToUtf8(LowerCp1251(TrimBlanks(cp1251))));
}

std::optional<std::string> NormaliseEmail(std::string_view utf8) {
    std::optional<std::string> bytes = Utf8ToCp1251(TrimBlanks(utf8));
    if (!bytes || bytes->empty()) return std::nullopt;
    return NormaliseEmailFromPhone(*bytes);
}

std::optional<std::string> PasswordHash(std::string_view utf8Password) {
    std::optional<std::string> bytes = Utf8ToCp1251(utf8Password);
    if (!bytes) return std::nullopt;
    return Md5Hex(*bytes);
}

std::string FormatTime(std::int64_t when, const char* format, bool local) {
    std::time_t time = static_cast<std::time_t>(when);
    std::tm parts{};
    if (local) {
        localtime_r(&time, &parts);
    } else {
        gmtime_r(&time, &parts);
    }
    char text[64];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

std::string ToHex(const unsigned char* bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 0x0f];
    }
    return hex;
}

std::string Md5Hex(std::string_view bytes) {
    Md5 md5;
    md5.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    unsigned char digest[16];
    md5.Finish(digest);
    return ToHex(digest, sizeof digest);
}

std::string RandomHex(std::size_t count) {
    std::vector<unsigned char> bytes(count);
    std::size_t filled = 0;
    while (filled < count) {
        ssize_t got = getrandom(bytes.data() + filled, count - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("no random bytes: ") + std::strerror(errno));
        }
        filled += static_cast<std::size_t>(got);
    }
    return ToHex(bytes.data(), count);
}

std::string_view Utf8Prefix(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    // Back over continuation bytes to the start of the character that does not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::optional<HttpAddress> ParseHttpAddress(std::string_view text) {
    const std::string_view scheme = "http://";
    if (text.size() > 512 || text.substr(0, scheme.size()) != scheme) return std::nullopt;
    text.remove_prefix(scheme.size());
    std::size_t slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    std::string_view path = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    for (char c : path) {
        bool allowed = std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/-._~%!$&'()*+,;=:@", c);
        if (!allowed) return std::nullopt;
    }
    HttpAddress address;
    std::optional<std::string_view> port;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        address.host = std::string(authority.substr(1, close - 1));
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return std::nullopt;
        if (!rest.empty()) port = rest.substr(1);
        if (address.host.empty() || address.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
            return std::nullopt;
        }
    } else {
        std::size_t colon = authority.find(':');
        address.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) port = authority.substr(colon + 1);
        if (address.host.empty() ||
            address.host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") !=
                std::string::npos) {
            return std::nullopt;
        }
    }
    if (port) {
        std::optional<std::int64_t> number = ParseInteger(*port);
        if (!number || *number < 1 || *number > 65535 || port->find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        address.port = std::string(*port);
    }
    address.path = std::string(path);
    return address;
}

}  // namespace pelmora
