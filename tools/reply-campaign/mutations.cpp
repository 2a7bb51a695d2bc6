#include "tools/reply-campaign/mutations.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "location/cell_monitor.h"
#include "protocol/transport.h"

namespace {

constexpr int kMostMutations = 4;

// Bytes that mean something to an XML reader, an HTTP reader, a UTF-8 decoder or the modem parser.
constexpr unsigned char kTellingBytes[] = {
    0x00, 0x01, 0x09, 0x0A, 0x0D, ' ', '"', '#', '&', '\'', '+', ',', '-', '/', '0', '1', '9', ':', ';',
    '<', '=', '>', '?', '!', '[', ']', 'x', 'A', 'C', 'E', 'F', 'G', 'R', 0x7F, 0x80, 0xBB, 0xBF, 0xC0,
    0xC1, 0xC2, 0xD0, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xF8, 0xFE, 0xFF,
};

constexpr const char* kNumbers[] = {
    "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967296", "4294967297", "4294967496",
    "4294967326", "4294968", "2147483", "99999999999999999999999999", "-99999999999999999999", "-1", "0",
    "-0", "+1", " 7", "\t\n 300", "0x1F", "1e6", "007", "", "\xEF\xBC\x94\xEF\xBC\x92", "1.5", "--1",
    "401", "200", "3", "-7", "65535", "16777216",
};

// Invalid, overlong, surrogate, out-of-range and cut UTF-8, and the byte-order marks.
constexpr const char* kBadUtf8[] = {
    "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xF8\x88\x80\x80\x80", "\xFC\x84\x80\x80\x80\x80",
    "\xED\xA0\x80", "\xED\xBF\xBF", "\xED\xA0\xBD\xED\xB8\x80", "\xF4\x90\x80\x80", "\x80", "\xBF", "\xC2",
    "\xE2\x82", "\xF0\x9F\x98", "\xFE", "\xFF", "\xEF\xBB\xBF", "\xEF\xBF\xBE", "\xEF\xBF\xBF", "\xC3\x28",
    "\xE2\x28\xA1", "\xF0\x28\x8C\x28",
};

constexpr const char* kStrayMarkup[] = {
    "<", ">", "</", "/>", "</a>", "<a>", "<a/>", "<!--", "-->", "<![CDATA[", "]]>", "<?xml version='1.0'?>",
    "<?xml encoding=\"UTF-16\"?>", "<!DOCTYPE x [<!ENTITY e 'v'>]>", "<?pi ?>", "&", "&#", "&#x", ";",
    "&#x110000;", "&#0;", "&#99999999999;", "&#xFFFFFFFFFF;", "&lt;", "&bogus;", "\"", "'", "<a b='",
    "<a b=c>", "<a b='1' b='2'>", "<error><code>401</code><description>x</description></error>",
    "<error><code>401</code><description/></error>", "<error><code>0</code><description>y</description></error>",
    "<?", "?>", "<!", "\r\n\r\n", "\r\nContent-Type: text/xml\r\n",
};

constexpr const char* kNames[] = {
    "handshake", "status", "token", "mode", "host", "userName", "updateurl", "method", "config", "config_rate",
    "config_visibilily", "config_privatetime", "config_forcegps", "config_levelgps", "bad", "isee", "timer",
    "sint", "sint_id", "sint_scope", "sint_group", "sint_title", "address", "address_street", "address_number",
    "address_build", "itake", "id", "cancel", "ineed", "groups", "group", "title", "group_id", "count", "users",
    "user", "user_id", "name", "distance", "error", "code", "description", "a", "_", "x:y",
};

constexpr const char* kStatusLines[] = {
    "HTTP/1.0 200 OK", "HTTP/1.1 200", "HTTP/9.9 200 Whatever", "HTTP/1.0 201 Created", "HTTP/1.0 404 Not Found",
    "HTTP/1.0 4294967496 OK", "HTTP/1.0 99999999999999999999 X", "HTTP/1.0 ", "HTTP/", "", "HTTP/1.0 -200 OK",
    "HTTP/1.0 500 \xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0", "HTTP/1.0 200 OK\r\nX-Junk: <?xml",
};

constexpr const char* kContentTypes[] = {
    "Content-Type: text/xml", "Content-Type: text/xml; charset=windows-1251", "Content-Type:text/xml",
    "Content-Type:  text/xml", "content-type: text/xml", "Content-Type: text/html", "Content-Type: text/xm",
    "Content-Type: text/xmlx", "",
};

constexpr const char* kDeclarations[] = {
    "<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" encoding=\"windows-1251\"?>",
    "<?xml version=\"1.0\" encoding=\"UTF-16\"?>", "<?xml encoding='utf8' version='1.0' ?>", "<?xml?>",
    "\xEF\xBB\xBF<?xml version=\"1.0\"?>", "<?xml version='>' encoding='&#x55;TF-8'?>", "<?XML VERSION='1.0'?>",
};

// One level of nesting: how it opens and how it closes. Some hide their markup from a reader that
// does not read as TinyXML does.
struct NestingLevel {
    const char* open;
    const char* close;
};
constexpr NestingLevel kNestingLevels[] = {
    {"<a>", "</a>"},
    {"<a x='>'>", "</a>"},
    {"<a><!-- </a> -->", "</a>"},
    {"<a>&#x</a>x1;", "</a>"},
    {"<a>&#</a>#1;", "</a>"},
    {"<a>\xF4<!--", "</a>"},
    {"<a><![CDATA[</a>]]>", "</a>"},
    {"<group>", "</group>"},
    {"<users><user>", "</user></users>"},
    {"<\xD0\xB0>", "</\xD0\xB0>"},
    {"<a b=\"\xC3\">", "</a>"},
    {"<a><?xml version='1.0'?>", "</a>"},
    {"<a/><b>", "</b>"},
    {"<\xEF\xBB\xBF" "a>", "</a>"},
};

// Levels of nesting, the small ones more often: most inputs must stay quick.
constexpr std::size_t kNestingDepths[] = {2, 10, 100, 200, 255, 256, 257, 300, 1000, 5000, 10000, 100000, 1000000};

// What a mutation may draw on besides the bytes: the other seeds, and the length the bytes must keep within.
struct MutationScope {
    const std::vector<Seed>& seeds;
    std::size_t limit;
};

template <typename T, std::size_t N>
const T& Pick(Random& random, const T (&table)[N]) {
    return table[random.Below(N)];
}

// Mostly small, now and then large, rarely huge.
std::size_t PickCount(Random& random) {
    if (random.OneIn(400)) return 10000 + random.Below(40000);
    if (random.OneIn(40)) return 100 + random.Below(1000);
    return 1 + random.Below(8);
}

std::size_t Position(Random& random, const std::string& bytes) { return random.Below(bytes.size() + 1); }

// The position of a `wanted` byte at or after a random place, wrapping round; npos when there is none.
std::size_t FindFrom(Random& random, const std::string& bytes, char wanted) {
    if (bytes.empty()) return std::string::npos;
    const std::size_t start = random.Below(bytes.size());
    std::size_t at = bytes.find(wanted, start);
    if (at == std::string::npos) at = bytes.find(wanted);
    return at;
}

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }

// An element's bytes from its "<" to the end of its end tag (or of its start tag when no end tag follows).
bool FindElement(Random& random, const std::string& bytes, std::size_t* begin, std::size_t* end) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::size_t open = FindFrom(random, bytes, '<');
        if (open == std::string::npos) return false;
        if (open + 1 >= bytes.size() || !IsNameStart(bytes[open + 1])) continue;
        std::size_t nameEnd = open + 1;
        while (nameEnd < bytes.size() && (std::isalnum(static_cast<unsigned char>(bytes[nameEnd])) ||
                                          bytes[nameEnd] == '_' || bytes[nameEnd] == '-')) {
            ++nameEnd;
        }
        const std::string closing = "</" + bytes.substr(open + 1, nameEnd - open - 1) + ">";
        const std::size_t close = bytes.find(closing, nameEnd);
        *begin = open;
        if (close != std::string::npos) {
            *end = close + closing.size();
        } else {
            const std::size_t tagEnd = bytes.find('>', nameEnd);
            *end = tagEnd == std::string::npos ? bytes.size() : tagEnd + 1;
        }
        return true;
    }
    return false;
}

// A place right after a start tag, where text goes; a random place when there is no tag.
std::size_t TextPosition(Random& random, const std::string& bytes) {
    const std::size_t close = FindFrom(random, bytes, '>');
    return close == std::string::npos ? Position(random, bytes) : close + 1;
}

std::string Repeated(const std::string& unit, std::size_t count, std::size_t limit) {
    if (!unit.empty()) count = std::min(count, limit / unit.size() + 1);
    std::string text;
    text.reserve(unit.size() * count);
    for (std::size_t index = 0; index < count; ++index) text += unit;
    return text;
}

void FlipBits(Random& random, std::string& bytes, const MutationScope&) {
    if (bytes.empty()) return;
    for (std::size_t flips = 1 + random.Below(8); flips > 0; --flips) {
        bytes[random.Below(bytes.size())] ^= static_cast<char>(1u << random.Below(8));
    }
}

void ReplaceBytes(Random& random, std::string& bytes, const MutationScope&) {
    if (bytes.empty()) return;
    for (std::size_t count = 1 + random.Below(8); count > 0; --count) {
        const unsigned char byte =
            random.OneIn(3) ? static_cast<unsigned char>(random.Below(256)) : Pick(random, kTellingBytes);
        bytes[random.Below(bytes.size())] = static_cast<char>(byte);
    }
}

// Cut at a random byte, or at a boundary that matters to one of the readers.
void Truncate(Random& random, std::string& bytes, const MutationScope&) {
    static const char* const kMarks[] = {"<", ">", "</", "\r\n\r\n", "\r\n", "<?xml", "&#", "\"", "=", ","};
    std::size_t cut = Position(random, bytes);
    const std::string mark = Pick(random, kMarks);
    std::size_t at = bytes.find(mark, random.Below(bytes.size() + 1));
    if (at == std::string::npos) at = bytes.find(mark);
    if (at != std::string::npos && !random.OneIn(4)) cut = at + random.Below(mark.size() + 2);
    // Inside a multi-byte character now and then.
    if (random.OneIn(6)) {
        for (std::size_t index = cut; index < bytes.size(); ++index) {
            if (static_cast<unsigned char>(bytes[index]) >= 0xC0) {
                cut = index + 1;
                break;
            }
        }
    }
    bytes.resize(std::min(cut, bytes.size()));
}

void DuplicateElement(Random& random, std::string& bytes, const MutationScope& scope) {
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!FindElement(random, bytes, &begin, &end)) return;
    const std::string element = bytes.substr(begin, end - begin);
    bytes.insert(end, Repeated(element, PickCount(random), scope.limit));
}

// Tens of thousands of the records a reader walks: people, groups, methods.
void MultiplyRecords(Random& random, std::string& bytes, const MutationScope& scope) {
    static const char* const kRecords[] = {"user", "group", "method"};
    const std::string name = Pick(random, kRecords);
    const std::size_t begin = bytes.find("<" + name + ">", random.Below(bytes.size() + 1));
    if (begin == std::string::npos) return;
    const std::size_t close = bytes.find("</" + name + ">", begin);
    if (close == std::string::npos) return;
    const std::size_t end = close + name.size() + 3;
    bytes.insert(end, Repeated(bytes.substr(begin, end - begin), 10000 + random.Below(50000), scope.limit));
}

void DeleteElement(Random& random, std::string& bytes, const MutationScope&) {
    std::size_t begin = 0;
    std::size_t end = 0;
    if (FindElement(random, bytes, &begin, &end)) bytes.erase(begin, end - begin);
}

void NestDeep(Random& random, std::string& bytes, const MutationScope& scope) {
    const NestingLevel& level = Pick(random, kNestingLevels);
    std::size_t depth = kNestingDepths[random.Below(random.OneIn(8) ? std::size(kNestingDepths) : 8)];
    depth = std::min(depth, scope.limit / (std::char_traits<char>::length(level.open) + 1) + 1);
    std::string nest = Repeated(level.open, depth, scope.limit);
    if (random.OneIn(2)) nest += Repeated(level.close, depth, scope.limit);
    bytes.insert(TextPosition(random, bytes), nest);
}

void PutHugeNumber(Random& random, std::string& bytes, const MutationScope&) {
    const std::string number = Pick(random, kNumbers);
    std::size_t digit = std::string::npos;
    for (int attempt = 0; attempt < 4 && digit == std::string::npos; ++attempt) {
        const std::size_t at = FindFrom(random, bytes, static_cast<char>('0' + random.Below(10)));
        if (at != std::string::npos) digit = at;
    }
    if (digit == std::string::npos) {
        bytes.insert(TextPosition(random, bytes), number);
        return;
    }
    std::size_t begin = digit;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(bytes[begin - 1]))) --begin;
    std::size_t end = digit;
    while (end < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[end]))) ++end;
    bytes.replace(begin, end - begin, number);
}

void PutBadUtf8(Random& random, std::string& bytes, const MutationScope& scope) {
    const std::string sequence = Pick(random, kBadUtf8);
    bytes.insert(TextPosition(random, bytes), Repeated(sequence, 1 + random.Below(random.OneIn(20) ? 5000 : 4), scope.limit));
}

void PutLongText(Random& random, std::string& bytes, const MutationScope& scope) {
    static const char* const kUnits[] = {"x", " ", "\xD1\x8F", "x ", "&amp;", "\t", "\xF0\x9F\x98\x80", "a b c ",
                                         "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0, ", "0"};
    static const std::size_t kLengths[] = {300, 1000, 10000, 100000, 1000000, 8000000};
    const std::size_t length = kLengths[random.Below(random.OneIn(10) ? std::size(kLengths) : 3)];
    bytes.insert(TextPosition(random, bytes), Repeated(Pick(random, kUnits), length, scope.limit));
}

void PutStrayMarkup(Random& random, std::string& bytes, const MutationScope&) {
    bytes.insert(Position(random, bytes), Pick(random, kStrayMarkup));
}

void Splice(Random& random, std::string& bytes, const MutationScope& scope) {
    const std::string& other = scope.seeds[random.Below(scope.seeds.size())].bytes;
    if (other.empty()) return;
    const std::size_t begin = random.Below(other.size());
    const std::size_t length = 1 + random.Below(other.size() - begin);
    if (random.OneIn(2)) {
        bytes.insert(Position(random, bytes), other, begin, length);
    } else {
        const std::size_t at = Position(random, bytes);
        bytes.replace(at, random.Below(bytes.size() - at + 1), other, begin, length);
    }
}

void RenameTag(Random& random, std::string& bytes, const MutationScope&) {
    const std::size_t open = FindFrom(random, bytes, '<');
    if (open == std::string::npos) return;
    std::size_t begin = open + 1;
    if (begin < bytes.size() && bytes[begin] == '/') ++begin;
    std::size_t end = begin;
    while (end < bytes.size() && (std::isalnum(static_cast<unsigned char>(bytes[end])) || bytes[end] == '_')) ++end;
    bytes.replace(begin, end - begin, Pick(random, kNames));
}

// The envelope: the status line, the type header, the line ends, the XML declaration.
void ChangeEnvelope(Random& random, std::string& bytes, const MutationScope&) {
    switch (random.Below(5)) {
    case 0: {
        const std::size_t lineEnd = bytes.find("\r\n");
        bytes.replace(0, lineEnd == std::string::npos ? 0 : lineEnd, Pick(random, kStatusLines));
        break;
    }
    case 1: {
        const std::size_t header = bytes.find("Content-Type:");
        if (header == std::string::npos) break;
        const std::size_t lineEnd = bytes.find("\r\n", header);
        bytes.replace(header, (lineEnd == std::string::npos ? bytes.size() : lineEnd) - header,
                      Pick(random, kContentTypes));
        break;
    }
    case 2:
        bytes.erase(std::remove(bytes.begin(), bytes.end(), '\r'), bytes.end());
        break;
    case 3: {
        const std::size_t declaration = bytes.find("<?xml");
        if (declaration == std::string::npos) break;
        const std::size_t end = bytes.find("?>", declaration);
        bytes.replace(declaration, end == std::string::npos ? 5 : end + 2 - declaration, Pick(random, kDeclarations));
        break;
    }
    default:
        bytes.insert(bytes.find("\r\n\r\n") == std::string::npos ? 0 : bytes.find("\r\n\r\n"),
                     "\r\nContent-Type: text/xml\r\nContent-Type: text/html");
        break;
    }
}

// The modem's stream: quotes, commas, hexadecimal runs, "CREG" and its line where they do not belong.
void PutModemPieces(Random& random, std::string& bytes, const MutationScope& scope) {
    static const char* const kPieces[] = {
        "\"", ",", "CREG", "+CREG: 2,1,\"", "\",\"", "0x", "0X", " ", "\r\n", "OK", "ERROR", "FFFFFFFFFFFFFFFFFFFF",
        "123456789ABCDEF0123456789abcdef", "+CREG: 2,1,\"1E18\",\"9DD3\"\r\n", "\"\"\"\"", "creg", "CRE",
    };
    bytes.insert(Position(random, bytes), Repeated(Pick(random, kPieces), 1 + random.Below(20), scope.limit));
}

void EraseBytes(Random& random, std::string& bytes, const MutationScope&) {
    bytes.erase(Position(random, bytes), random.Below(16));
}

using Mutation = void (*)(Random& random, std::string& bytes, const MutationScope& scope);
struct WeightedMutation {
    Mutation mutation;
    unsigned weight;
};

constexpr WeightedMutation kReplyMutations[] = {
    {FlipBits, 8},        {ReplaceBytes, 8}, {Truncate, 8},       {DuplicateElement, 16}, {MultiplyRecords, 1},
    {DeleteElement, 8},   {NestDeep, 8},     {PutHugeNumber, 16}, {PutBadUtf8, 8},        {PutLongText, 8},
    {PutStrayMarkup, 8},  {Splice, 4},       {RenameTag, 3},      {ChangeEnvelope, 8},
};
constexpr WeightedMutation kModemMutations[] = {
    {FlipBits, 1}, {ReplaceBytes, 1}, {Truncate, 1}, {Splice, 1}, {PutModemPieces, 1}, {EraseBytes, 1},
};

template <std::size_t N>
Mutation PickMutation(Random& random, const WeightedMutation (&mutations)[N]) {
    unsigned total = 0;
    for (const WeightedMutation& weighted : mutations) total += weighted.weight;
    std::size_t ticket = random.Below(total);
    for (const WeightedMutation& weighted : mutations) {
        if (ticket < weighted.weight) return weighted.mutation;
        ticket -= weighted.weight;
    }
    return mutations[0].mutation;
}

}  // namespace

std::uint64_t Random::Next() {
    std::uint64_t value = (state_ += 0x9E3779B97F4A7C15ull);
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

CampaignInput MakeInput(const std::vector<Seed>& seeds, std::uint64_t campaignSeed, std::uint64_t index) {
    const Seed& seed = seeds[index % seeds.size()];
    CampaignInput input;
    input.reader = seed.reader;
    input.bytes = seed.bytes;
    input.origin = seed.name;
    if (index < seeds.size()) return input;

    Random random(campaignSeed * 0x2545F4914F6CDD1Dull ^ (index + 1) * 0x9E3779B97F4A7C15ull);
    const bool modem = seed.reader == Reader::ModemReply;
    const MutationScope scope = {seeds, modem ? kModemReplySize : kMaxReplyBytes};
    const int mutations = 1 + static_cast<int>(random.Below(kMostMutations));
    for (int step = 0; step < mutations; ++step) {
        const Mutation mutation = modem ? PickMutation(random, kModemMutations) : PickMutation(random, kReplyMutations);
        mutation(random, input.bytes, scope);
        if (input.bytes.size() > scope.limit) input.bytes.resize(scope.limit);
    }
    input.origin += " with " + std::to_string(mutations) + " mutations";
    return input;
}
