#include "platform/creg_reply.h"

#include <cstring>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The field [begin, end) read the way "%x" reads it; a number too long for 32 bits keeps its low bits.
bool ReadHexField(const char* begin, const char* end, std::uint32_t* value) {
    while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X') && HexDigit(begin[2]) >= 0) {
        begin += 2;
    }
    std::uint32_t number = 0;
    const char* digit = begin;
    for (; digit < end && HexDigit(*digit) >= 0; ++digit) number = (number << 4) | static_cast<std::uint32_t>(HexDigit(*digit));
    if (digit == begin) return false;
    *value = number;
    return true;
}

const char* FindQuote(const char* from, const char* end) {
    return static_cast<const char*>(std::memchr(from, '"', static_cast<std::size_t>(end - from)));
}

}  // namespace

bool ParseCregReply(const char* bytes, std::size_t length, std::uint32_t* lac, std::uint32_t* cid) {
    static const char kMarker[] = "CREG";
    const std::size_t markerLength = sizeof(kMarker) - 1;
    if (bytes == nullptr || length < markerLength) return false;
    const char* end = bytes + length;
    const char* marker = nullptr;
    for (const char* at = bytes; at + markerLength <= end; ++at) {
        if (std::memcmp(at, kMarker, markerLength) == 0) {
            marker = at;
            break;
        }
    }
    if (marker == nullptr) return false;
    const char* quotes[4];
    const char* from = marker + markerLength;
    for (const char*& quote : quotes) {
        quote = FindQuote(from, end);
        if (quote == nullptr) return false;
        from = quote + 1;
    }
    std::uint32_t areaCode = 0;
    std::uint32_t cellIdentity = 0;
    if (!ReadHexField(quotes[0] + 1, quotes[1], &areaCode) || !ReadHexField(quotes[2] + 1, quotes[3], &cellIdentity)) {
        return false;
    }
    *lac = areaCode;
    *cid = cellIdentity;
    return true;
}
