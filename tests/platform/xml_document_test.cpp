// XML from outside measured before TinyXML parses it: the nesting TinyXML would reach, the attributes
// it would compare, and the refusal of documents beyond either bound.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/xml_document.h"

namespace {

// The deepest element of the tree TinyXML built, walked without recursion.
int TreeDepth(const TiXmlNode* root) {
    int deepest = 0;
    std::vector<std::pair<const TiXmlNode*, int>> pending = {{root, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
            if (child->ToElement() == nullptr) continue;
            deepest = std::max(deepest, depth + 1);
            pending.push_back({child, depth + 1});
        }
    }
    return deepest;
}

std::string Nested(int levels) {
    std::string text;
    for (int level = 0; level < levels; ++level) text += "<a>";
    for (int level = 0; level < levels; ++level) text += "</a>";
    return text;
}

const char kUtf8[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const char kLatin[] = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";

TEST(XmlMeasure, FindsTheNestingTinyXmlReachesWhateverHidesOrFakesMarkup) {
    const struct {
        std::string text;
        int depth;
    } cases[] = {
        {"", 0},
        {"<a/>", 1},
        {"<a><b/><c><d/></c></a>", 3},
        {"<a/><b><c/></b>", 2},
        {std::string(kUtf8) + "\n<a ><b /></a >", 2},
        {"<a><!-- <b><c><d> --><e/></a>", 2},
        {"<a><!-- </a> --><b><c/></b></a>", 3},
        {"<a><![CDATA[<b><c></a>]]><d/></a>", 2},
        {"<a><?php <b> ?><c/></a>", 2},
        {"<a><!DOCTYPE b><c/></a>", 2},
        {"<!DOCTYPE a [<!ELEMENT a ANY>]><a><b/></a>", 0},
        {"<a x='>' y=\"<b>\"><c z='</a>'/></a>", 2},
        {"<a x=1><b y=2/></a>", 2},
        {"<?xml version='>' ?><a><b/></a>", 2},
        {"<?XML VERSION='1.0'?><a><b/></a>", 2},
        // Character references: TinyXML jumps over whatever precedes their digits.
        {"<r>&#x</r>x41;<a><b/></a></r>", 3},
        {"<r>&#</r>#65;<a><b/></a></r>", 3},
        {"<r x='&#x'x41;'><a><b/></a></r>", 3},
        {"<r>&#x</r>;<a><b/></a></r>", 1},
        {"<r>&lt;/r&gt;<a/></r>", 2},
        // In UTF-8 a lead byte carries the next bytes along, a "<" among them.
        {std::string(kUtf8) + "<r>\xF4<!--<a><b><c>--></r>", 4},
        {std::string(kUtf8) + "<r x=\"\xC3\"><a/>\"><b><c/></b></r>", 3},
        {"\xEF\xBB\xBF<r>\xE0</r><a><b/></a></r>", 3},
        {"<r>\xE0</r><a><b/></a></r>", 2},
        {std::string(kUtf8) + "<\xEF\xBB\xBF" "a></a><b><c/></b>", 2},
        // Where TinyXML stops, so does the measure.
        {"<a><b></c><d><e/></d></b></a>", 2},
        {"<a><b x></b><c><d/></c></a>", 2},
        {"<a>text", 1},
        {"<a><bc", 2},
        {std::string("<a>\0<b><c/></b></a>", 19), 1},
        {Nested(200), 200},
        {Nested(256), 256},
        {Nested(257), 257},
        {Nested(10000), 257},
    };
    for (const auto& testCase : cases) {
        const XmlShape shape = MeasureXml(testCase.text, TIXML_ENCODING_UNKNOWN);
        EXPECT_EQ(testCase.depth, shape.depth) << testing::PrintToString(testCase.text);
        TiXmlDocument document;
        const bool parsed = ParseXmlText(testCase.text, TIXML_ENCODING_UNKNOWN, &document);
        EXPECT_EQ(testCase.depth <= kMaxXmlNesting, parsed) << testing::PrintToString(testCase.text);
        if (parsed) {
            EXPECT_EQ(testCase.depth, TreeDepth(&document)) << testing::PrintToString(testCase.text);
        } else {
            EXPECT_EQ(nullptr, document.FirstChild()) << "a refused document stays empty";
        }
    }
}

// Without a byte-order mark, the first declaration names the encoding; the measure takes the larger
// of both readings rather than judge that name as TinyXML does.
TEST(XmlMeasure, TheEncodingDecidesHowLeadBytesAreRead) {
    const std::string text = "<r>\xF4<!--<a><b>--></r>";
    const struct {
        std::string declaration;
        TiXmlEncoding encoding;
        int measured;
        int built;
    } cases[] = {
        {"", TIXML_ENCODING_UTF8, 3, 3},
        {"", TIXML_ENCODING_LEGACY, 1, 1},
        {"", TIXML_ENCODING_UNKNOWN, 1, 1},
        {kUtf8, TIXML_ENCODING_UNKNOWN, 3, 3},
        {"<?xml version=\"1.0\"?>", TIXML_ENCODING_UNKNOWN, 3, 3},
        {kLatin, TIXML_ENCODING_UNKNOWN, 3, 1},
    };
    for (const auto& testCase : cases) {
        const std::string document = testCase.declaration + text;
        EXPECT_EQ(testCase.measured, MeasureXml(document, testCase.encoding).depth) << document;
        TiXmlDocument parsed;
        ASSERT_TRUE(ParseXmlText(document, testCase.encoding, &parsed));
        EXPECT_EQ(testCase.built, TreeDepth(&parsed)) << document;
    }
}

TEST(XmlMeasure, CountsTheAttributesOfOneElementAndRefusesTooMany) {
    auto withAttributes = [](int count) {
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><r>";
        for (int element = 0; element < 3; ++element) {
            text += "<e";
            for (int index = 0; index < count; ++index) text += " a" + std::to_string(index) + "='" + "x'";
            text += "/>";
        }
        return text + "</r>";
    };
    const struct {
        int count;
        bool parsed;
    } cases[] = {{0, true}, {1, true}, {64, true}, {65, false}, {100000, false}};
    for (const auto& testCase : cases) {
        const XmlShape shape = MeasureXml(withAttributes(testCase.count), TIXML_ENCODING_UNKNOWN);
        EXPECT_EQ(std::min(testCase.count, kMaxXmlAttributes + 1), shape.attributes) << testCase.count;
        EXPECT_EQ(2, shape.depth) << testCase.count;
        TiXmlDocument document;
        EXPECT_EQ(testCase.parsed, ParseXmlText(withAttributes(testCase.count), TIXML_ENCODING_UNKNOWN, &document));
    }
}

TEST(XmlFile, ReadsLikeLoadFileAndRefusesWhatCannotBeParsedSafely) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "pelmora-xml-" + std::to_string(GetCurrentProcessId()) + ".xml";
    const struct {
        std::string bytes;
        bool loaded;
        const char* text;  // of the root's child "v"
    } cases[] = {
        {"<?xml version=\"1.0\" ?>\r\n<s>\r\n<v>one\rtwo\r\nthree</v>\r\n</s>\r\n", true, "one two three"},
        {"<s><v x='a\r\nb'>1</v></s>", true, "1"},
        {"<s>" + Nested(300) + "<v>1</v></s>", false, nullptr},
        {"<s><v>1</v>", false, nullptr},
        {"", false, nullptr},
    };
    for (const auto& testCase : cases) {
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            file << testCase.bytes;
        }
        TiXmlDocument document;
        EXPECT_EQ(testCase.loaded, LoadXmlFile(path, TIXML_ENCODING_UNKNOWN, &document)) << testCase.bytes;
        if (testCase.loaded) {
            const TiXmlElement* value = document.FirstChildElement("s")->FirstChildElement("v");
            EXPECT_STREQ(testCase.text, value->GetText());
        }
    }
    DeleteFileA(path.c_str());
    TiXmlDocument missing;
    EXPECT_FALSE(LoadXmlFile(path, TIXML_ENCODING_UNKNOWN, &missing));
}

}  // namespace
