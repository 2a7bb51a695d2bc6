// Byte helpers: the password hash the phone computes, form decoding, e-mail folding, text cleaning,
// and the arithmetic of places.
#include "server/places.h"
#include "server/text.h"
#include "server/xml_writer.h"

#include "server_fixture.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdio>
#include <memory>
#include <unordered_map>

namespace pelmora {
namespace {

TEST(TextTest, Md5MatchesTheReferenceVectors) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(TextTest, PasswordHashIsTakenOverWindows1251Bytes) {
    // "пароль" in Windows-1251 is EF E0 F0 EE EB FC; hashing the UTF-8 bytes would never match the phone.
    EXPECT_EQ(*PasswordHash("пароль"), Md5Hex("\xEF\xE0\xF0\xEE\xEB\xFC"));
    EXPECT_NE(*PasswordHash("пароль"), Md5Hex("пароль"));
    EXPECT_EQ(*PasswordHash("secret"), Md5Hex("secret"));
    EXPECT_FALSE(PasswordHash("密码").has_value());
}

TEST(TextTest, FormValuesArePercentDecodedWithPlusAsBlank) {
    EXPECT_EQ(DecodeFormValue("a%26b%3Dc%2Bd+e%25"), "a&b=c+d e%");
    EXPECT_EQ(DecodeFormValue("%D0%94%d0%be%D0%BC"), "Дом");
    EXPECT_EQ(DecodeFormValue("Дом"), "Дом");
    EXPECT_EQ(DecodeFormValue("100%"), "100%");
    EXPECT_EQ(DecodeFormValue("%zz%4"), "%zz%4");
    EXPECT_EQ(DecodeFormValue("%00x"), std::string("\0x", 2));
}

TEST(TextTest, FormFieldsKeepTheFirstValueAndIgnoreTheClosingLineEnd) {
    FormFields form = FormFields::Parse("token=abc&lac=1&lac=2&flag&&empty=&db=0\r\n");
    ASSERT_TRUE(form.Has("token"));
    EXPECT_EQ(*form.Find("token"), "abc");
    EXPECT_EQ(*form.Find("lac"), "1");
    EXPECT_EQ(*form.Find("flag"), "");
    EXPECT_EQ(*form.Find("empty"), "");
    EXPECT_EQ(*form.Find("db"), "0");
    EXPECT_FALSE(form.Has("missing"));
}

TEST(TextTest, IntegersAreWholeDecimalNumbersOnly) {
    EXPECT_EQ(ParseInteger("65535"), 65535);
    EXPECT_EQ(ParseInteger("-12"), -12);
    EXPECT_EQ(ParseInteger("+7"), 7);
    EXPECT_FALSE(ParseInteger("").has_value());
    EXPECT_FALSE(ParseInteger("-").has_value());
    EXPECT_FALSE(ParseInteger("12a").has_value());
    EXPECT_FALSE(ParseInteger(" 1").has_value());
    EXPECT_FALSE(ParseInteger("99999999999999999999").has_value());
}

TEST(TextTest, EmailsFoldToLowerCaseFromBothCodePages) {
    EXPECT_EQ(NormaliseEmailFromPhone("Demo@Pelmora.RU"), "demo@pelmora.ru");
    // ИВАН@ПОЧТА.РФ as the phone sends it, in Windows-1251.
    EXPECT_EQ(NormaliseEmailFromPhone("\xC8\xC2\xC0\xCD@\xCF\xCE\xD7\xD2\xC0.\xD0\xD4"), "иван@почта.рф");
    EXPECT_EQ(*NormaliseEmail(" ИВАН@почта.РФ "), "иван@почта.рф");
    EXPECT_EQ(*NormaliseEmail("Ёлка@Mail.ru"), "ёлка@mail.ru");
    EXPECT_FALSE(NormaliseEmail("日本@mail.ru").has_value());
}

TEST(TextTest, CleanTextRepairsBrokenUtf8AndFlattensControlCharacters) {
    EXPECT_EQ(CleanText("Дом"), "Дом");
    EXPECT_EQ(CleanText("a\nb\tc"), "a b c");
    EXPECT_EQ(CleanText("x\xFFy"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(CleanText("\xD0"), "\xEF\xBF\xBD");
    EXPECT_EQ(Cp1251ToUtf8("\xC4\xEE\xEC"), "Дом");
}

TEST(TextTest, RandomHexIsFreshEveryTime) {
    std::string first = RandomHex(16);
    std::string second = RandomHex(16);
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(first, second);
}

// The replies were printed by TinyXML before they were written directly; the phones read them byte for
// byte. Each document is built both ways from the same steps: "+name" opens an element, "-" closes the
// innermost one, "name=text" adds an element holding the text.
TEST(XmlWriterTest, DocumentsAreTheBytesTinyXmlPrints) {
    std::string everyByte;
    for (int byte = 1; byte < 256; ++byte) everyByte += static_cast<char>(byte);
    std::vector<std::vector<std::string>> documents = {
        {},
        {"status=0"},
        {"status=1", "timer=300", "+sint", "address=Москва, ул. Тверская, 7", "-"},
        {"+sint", "-", "empty=", "+a", "+b", "-", "c=x", "-"},
        {"+groups", "+group", "title=<Семья> & \"друзья\" 'всё'", "+users", "+user", "user_id=7", "-", "-"},
        {"text=" + everyByte},
        {"control=tab\there\r\nline", "entity=&#x41; &amp; &#65;", "+open"},
    };
    // Long texts are looked through eight bytes at a time: a byte to escape at every place of a word.
    for (std::size_t at = 0; at < 20; ++at) {
        for (const char* special : {"&", "<", ">", "\"", "'", "\x1f", "\t"}) {
            documents.push_back({"address=" + std::string(at, 'a') + special + "Тверская, 7" + std::string(at, 'b')});
        }
    }
    for (const std::vector<std::string>& steps : documents) {
        TiXmlDocument document;
        document.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
        TiXmlElement* element = new TiXmlElement("reply");
        document.LinkEndChild(element);
        XmlWriter writer("reply");
        for (const std::string& step : steps) {
            if (step == "-") {
                element = element->Parent()->ToElement();
                writer.Close();
            } else if (step[0] == '+') {
                element = element->LinkEndChild(new TiXmlElement(step.substr(1)))->ToElement();
                writer.Open(step.c_str() + 1);
            } else {
                std::string name = step.substr(0, step.find('='));
                std::string text = step.substr(step.find('=') + 1);
                TiXmlElement* child = new TiXmlElement(name);
                if (!text.empty()) child->LinkEndChild(new TiXmlText(text));
                element->LinkEndChild(child);
                writer.Add(name.c_str(), text);
            }
        }
        TiXmlPrinter printer;
        document.Accept(&printer);
        EXPECT_EQ(writer.Finish(), printer.Str()) << ::testing::PrintToString(steps);
    }
    XmlWriter numbers("n");
    numbers.Add("low", INT64_MIN);
    numbers.Add("high", std::int64_t{9007199254740993});
    EXPECT_EQ(numbers.Finish(), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<n>\n    <low>-9223372036854775808</low>\n"
                                "    <high>9007199254740993</high>\n</n>\n");
}

TEST(PlacesTest, PositionWeighsTheFrontCellMost) {
    std::optional<Cell> cells[3] = {Cell{{1, 1, 1}, 55.0, 37.0, "a"}, std::nullopt, Cell{{1, 1, 3}, 56.0, 38.0, "c"}};
    std::optional<Coordinates> where = EstimatePosition(cells);
    ASSERT_TRUE(where.has_value());
    EXPECT_DOUBLE_EQ(where->lat, 55.25);
    EXPECT_DOUBLE_EQ(where->lon, 37.25);
    std::optional<Cell> none[3];
    EXPECT_FALSE(EstimatePosition(none).has_value());
}

TEST(PlacesTest, DistancesAreKilometresWithOneDecimalComma) {
    EXPECT_NEAR(DistanceKm({0, 0}, {0, 1}), 111.19, 0.01);
    EXPECT_NEAR(DistanceKm({55.7558, 37.6136}, {55.7376, 37.6281}), 2.2, 0.1);
    EXPECT_EQ(FormatDistance(2.44), "2.4");
    EXPECT_EQ(FormatDistance(0), "0.0");
    EXPECT_EQ(FormatDistance(12.06), "12.1");
    // Rounded as printf's "%.1f" rounds the binary value, halfway cases included, whatever the locale.
    for (double km : {0.05, 0.15, 0.25, 0.95, 2.45, 9.96, 1234.55, 19999.95, 0.049999999999999996}) {
        char printed[32];
        std::snprintf(printed, sizeof printed, "%.1f", km);
        EXPECT_EQ(FormatDistance(km), printed) << km;
    }
}

TEST(PlacesTest, PrivateHoursAreEveningsNightsAndWeekends) {
    using testing::LocalTime;
    EXPECT_TRUE(IsPrivateHour(LocalTime(2024, 5, 15, 0, 30)));   // Wednesday night
    EXPECT_FALSE(IsPrivateHour(LocalTime(2024, 5, 15, 8, 0)));   // Wednesday morning
    EXPECT_FALSE(IsPrivateHour(LocalTime(2024, 5, 15, 17, 59)));
    EXPECT_TRUE(IsPrivateHour(LocalTime(2024, 5, 15, 18, 0)));
    EXPECT_TRUE(IsPrivateHour(LocalTime(2024, 5, 18, 12, 0)));   // Saturday
    EXPECT_TRUE(IsPrivateHour(LocalTime(2024, 5, 19, 12, 0)));   // Sunday
    EXPECT_FALSE(IsPrivateHour(LocalTime(2024, 5, 20, 12, 0)));  // Monday
}

TEST(PlacesTest, PlaceDescriptionPrefersTheMarkTitle) {
    Mark mark;
    mark.title = "Дом";
    mark.street = "Тверская";
    mark.number = "7";
    mark.build = "а";
    Cell cell{{1, 1, 1}, 0, 0, "Москва, ул. Тверская, 7"};
    EXPECT_EQ(DescribePlace(mark, &cell), "Дом, Тверская, д.7а");
    mark.number = "0";
    EXPECT_EQ(DescribePlace(mark, &cell), "Дом, Тверская");
    mark.title.clear();
    EXPECT_EQ(DescribePlace(mark, &cell), "Москва, ул. Тверская, 7");
    EXPECT_EQ(DescribePlace(std::nullopt, nullptr), "");
}

// A report's cells as the store returns them, and as the group list finds them among the known cells
// by their keys (an unknown cell's key is not there): the same cell either way.
TEST(PlacesTest, TheAddressLineIsTheFirstKnownCellWithOne) {
    Cell unnamed{{1, 1, 1}, 55, 37, ""};
    Cell named{{1, 1, 2}, 55, 37, "Москва, ул. Арбат, 1"};
    Cell other{{1, 1, 3}, 55, 37, "Москва, ул. Тверская, 7"};
    std::unordered_map<CellKey, std::shared_ptr<const Cell>, CellKeyHash> known;
    for (const Cell& cell : {unnamed, named, other}) known.emplace(cell.key, std::make_shared<const Cell>(cell));
    const CellKey unknown{1, 1, 9};
    struct Case {
        Store::KnownCells report;
        std::int64_t addressed;  // the cid of the cell, 0 for none
    };
    const Case cases[] = {
        {{unnamed, named, other}, 2},
        {{std::nullopt, other, named}, 3},
        {{unnamed, std::nullopt, unnamed}, 0},
        {{std::nullopt, std::nullopt, std::nullopt}, 0},
    };
    for (const Case& test : cases) {
        CellKey keys[3];
        for (int i = 0; i < 3; ++i) keys[i] = test.report[i] ? test.report[i]->key : unknown;
        std::optional<Cell> fromReport = AddressedCell(test.report);
        const Cell* fromKeys = AddressedCell(known, keys);
        EXPECT_EQ(fromReport ? fromReport->key.cid : 0, test.addressed);
        EXPECT_EQ(fromKeys ? fromKeys->key.cid : 0, test.addressed);
    }
}

TEST(TextTest, HttpAddressesAreTakenApartOrRefused) {
    struct Case {
        const char* text;
        const char* parts;  // host|port|path; empty: refused
    };
    const Case cases[] = {
        {"http://127.0.0.1:8088/nominatim", "127.0.0.1|8088|/nominatim"},
        {"http://nominatim.internal", "nominatim.internal|80|"},
        {"http://nominatim.internal/", "nominatim.internal|80|"},
        {"http://[::1]:7070/a/b/", "::1|7070|/a/b"},
        {"http://Host-1.example.org:65535/x", "Host-1.example.org|65535|/x"},
        {"https://nominatim.openstreetmap.org", ""},
        {"http://", ""},
        {"http://host:0", ""},
        {"http://host:65536", ""},
        {"http://host:+80", ""},
        {"http://host:", ""},
        {"http://user@host", ""},
        {"http://host/reverse?format=json", ""},
        {"http://host/a#b", ""},
        {"http://host/a b", ""},
        {"http://[::1", ""},
        {"http://[x]", ""},
        {"ftp://host", ""},
    };
    for (const Case& c : cases) {
        std::optional<HttpAddress> address = ParseHttpAddress(c.text);
        std::string parts = address ? address->host + "|" + address->port + "|" + address->path : "";
        EXPECT_EQ(parts, c.parts) << c.text;
    }
    EXPECT_EQ(Utf8Prefix("Мосва", 5), "Мо");
    EXPECT_EQ(Utf8Prefix("Мосва", 4), "Мо");
    EXPECT_EQ(Utf8Prefix("abc", 5), "abc");
}

}  // namespace
}  // namespace pelmora
