// settings.xml: how it reads, what each writer puts in it, and the exact bytes of the file.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/app_context.h"
#include "app/settings_file.h"
#include "platform/text_conversion.h"
#include "platform/xml_document.h"
#include "tests/support/msxml_reader.h"

namespace {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char temporary[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temporary);
        path_ = std::string(temporary) + "pelmora-settings-" + std::to_string(GetCurrentProcessId()) + ".xml";
        context_.settingsFile.path = path_;
    }
    void TearDown() override {
        DeleteFileA(path_.c_str());
    }

    // Parses `text` as the start does and reads it.
    bool Read(const std::string& text) {
        context_.settingsFile.document->Clear();
        context_.settingsFile.document->Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
        return ReadSettings(context_);
    }

    // Loads the written file the way the next start will.
    std::unique_ptr<AppContext> Reload() { return Load(path_); }

    static std::unique_ptr<AppContext> Load(const std::string& path) {
        auto loaded = std::make_unique<AppContext>();
        loaded->settingsFile.path = path;
        EXPECT_TRUE(LoadSettings(*loaded)) << path;
        return loaded;
    }

    void WriteFile(const std::string& bytes) {
        std::ofstream file(path_, std::ios::binary | std::ios::trunc);
        file << bytes;
    }

    std::string path_;
    AppContext context_;
};

TEST_F(SettingsFile, FlagsAreOnOnlyWhenTheTextBeginsWithOne) {
    ASSERT_TRUE(Read("<Settings><AutoLogIn>1abc</AutoLogIn><AutoRun>1</AutoRun></Settings>"));
    EXPECT_TRUE(context_.autoLogIn);
    EXPECT_TRUE(context_.autoRun);
    for (const char* off : {"true", "yes", "0", "", "0 1"}) {
        ASSERT_TRUE(Read(std::string("<Settings><AutoLogIn>") + off + "</AutoLogIn><AutoRun>" + off +
                         "</AutoRun></Settings>"));
        EXPECT_FALSE(context_.autoLogIn) << "AutoLogIn " << off;
        EXPECT_FALSE(context_.autoRun) << "AutoRun " << off;
    }
}

TEST_F(SettingsFile, AcceptsAnyOrderAndMissingChildren) {
    context_.userId = "old@example.ru";
    context_.passHash = "old";
    context_.subName = "old";
    ASSERT_TRUE(Read("<?xml version=\"1.0\"?><!-- kept by hand --><Settings>\n"
                     "  <SubName>Маша</SubName><UserID>masha@example.ru</UserID>\n</Settings>"));
    EXPECT_EQ("masha@example.ru", context_.userId);
    EXPECT_EQ("", context_.passHash) << "an absent element empties the value";
    EXPECT_EQ("Маша", context_.subName);
    EXPECT_FALSE(context_.autoLogIn);
    ASSERT_NE(nullptr, context_.settingsFile.root);
    EXPECT_STREQ("Settings", context_.settingsFile.root->Value());
}

TEST_F(SettingsFile, FailsWithoutSettingsElement) {
    EXPECT_FALSE(Read("<?xml version=\"1.0\"?><Preferences><AutoRun>1</AutoRun></Preferences>"));
    EXPECT_FALSE(Read(""));
    EXPECT_EQ(nullptr, context_.settingsFile.root);
}

TEST_F(SettingsFile, LogInWriterMatchesTheGoldenFile) {
    context_.autoRun = true;
    context_.autoLogIn = true;
    context_.userId = "ivan@example.ru";
    context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
    context_.subName = "Иван";
    context_.accountMode = AccountMode::Normal;
    WriteSettings(context_, SettingsWriter::LogIn);
    EXPECT_EQ(ReadWholeFile(PELMORA_TEST_DATA_DIR "/golden/settings_login.xml"), ReadWholeFile(path_));
}

TEST_F(SettingsFile, ConfigurationWriterLeavesOutHashAndNameOutsideModeOne) {
    context_.autoRun = false;
    context_.autoLogIn = false;
    context_.userId = "ivan@example.ru";
    context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
    context_.subName = "Иван";
    context_.accountMode = AccountMode::Normal;
    WriteSettings(context_, SettingsWriter::Configuration);
    EXPECT_EQ(ReadWholeFile(PELMORA_TEST_DATA_DIR "/golden/settings_configuration.xml"), ReadWholeFile(path_));
    EXPECT_EQ("e10adc3949ba59abbe56e057f20f883e", context_.passHash) << "the hash in memory stays";
    EXPECT_EQ("Иван", context_.subName) << "the name in memory stays";
}

TEST_F(SettingsFile, ConfigurationWriterKeepsTheNameInModeOne) {
    context_.autoLogIn = true;
    context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
    context_.subName = "Иван";
    context_.accountMode = AccountMode::OwnName;
    WriteSettings(context_, SettingsWriter::Configuration);
    const std::unique_ptr<AppContext> reload = Reload();
    const AppContext& reloaded = *reload;
    EXPECT_EQ("Иван", reloaded.subName);
    EXPECT_EQ("e10adc3949ba59abbe56e057f20f883e", reloaded.passHash);
}

TEST_F(SettingsFile, LogInWriterKeepsTheNameInEveryMode) {
    context_.autoLogIn = false;
    context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
    context_.subName = "Иван";
    context_.accountMode = static_cast<AccountMode>(2);
    WriteSettings(context_, SettingsWriter::LogIn);
    const std::unique_ptr<AppContext> reload = Reload();
    const AppContext& reloaded = *reload;
    EXPECT_EQ("Иван", reloaded.subName);
    EXPECT_EQ("", reloaded.passHash) << "no hash without automatic log-in";
    EXPECT_FALSE(reloaded.autoLogIn);
}

TEST_F(SettingsFile, MarkupInValuesReadsBackUnchanged) {
    context_.autoLogIn = true;
    context_.autoRun = true;
    context_.userId = "a<b&c>d@example.ru";
    context_.passHash = "</PassHash>&amp;";
    context_.subName = "<Settings>Том & Джерри</Settings>";
    WriteSettings(context_, SettingsWriter::LogIn);
    const std::unique_ptr<AppContext> reload = Reload();
    const AppContext& reloaded = *reload;
    EXPECT_TRUE(reloaded.autoLogIn);
    EXPECT_TRUE(reloaded.autoRun);
    EXPECT_EQ(context_.userId, reloaded.userId);
    EXPECT_EQ(context_.passHash, reloaded.passHash);
    EXPECT_EQ(context_.subName, reloaded.subName);
}

TEST_F(SettingsFile, AFileThatCannotBeReplacedKeepsItsOldContent) {
    context_.userId = "first@example.ru";
    WriteSettings(context_, SettingsWriter::LogIn);
    const std::string before = ReadWholeFile(path_);
    // Another program holds the file open without letting it be replaced.
    HANDLE held = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    context_.userId = "second@example.ru";
    WriteSettings(context_, SettingsWriter::LogIn);
    CloseHandle(held);
    EXPECT_EQ(before, ReadWholeFile(path_));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((path_ + ".new").c_str())) << "no leftover file";
    EXPECT_EQ("second@example.ru", context_.userId) << "the running program keeps the new value";
}

TEST_F(SettingsFile, CyrillicAddressesAreKeptAsUtf8ThatAnotherReaderAcceptsAndReadBackByteForByte) {
    const wchar_t* addresses[] = {
        L"иван@почта.рф",       // ends in "ф": in Windows-1251 the lead byte of a four-byte UTF-8 sequence
        L"ольга@школа.москва",  // "а": of a three-byte one
        L"пётр@хутор.рп",       // "п"
        L"вера@москва.мир",     // "р"
        L"алёна@ёлка.рф",       // "ё": a continuation byte
        L"ivan.петров@example.ru",
        L"ivan@example.ru",
    };
    for (const wchar_t* address : addresses) {
        const std::string label = WideToUtf8(address);
        context_.autoLogIn = true;
        context_.userId = WideToAnsi(address);  // as the login form keeps it
        context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
        context_.subName = WideToUtf8(L"Иван");
        WriteSettings(context_, SettingsWriter::LogIn);

        EXPECT_NE(std::string::npos, ReadWholeFile(path_).find("<UserID>" + label + "</UserID>")) << label;
        const pelmora_test::MsxmlReading other = pelmora_test::ReadWithMsxml(AnsiToWide(path_));
        ASSERT_TRUE(other.accepted) << label << ": " << WideToUtf8(other.error);
        EXPECT_EQ(L"Settings", other.root);
        EXPECT_EQ(address, other.childTexts.at(L"UserID")) << label;
        EXPECT_EQ(L"e10adc3949ba59abbe56e057f20f883e", other.childTexts.at(L"PassHash")) << label;
        EXPECT_EQ(L"Иван", other.childTexts.at(L"SubName")) << label;

        const std::unique_ptr<AppContext> reload = Reload();
        const AppContext& reloaded = *reload;
        EXPECT_EQ(context_.userId, reloaded.userId) << label;
        EXPECT_EQ("e10adc3949ba59abbe56e057f20f883e", reloaded.passHash) << label;
        EXPECT_EQ(context_.subName, reloaded.subName) << label;
        EXPECT_TRUE(reloaded.autoLogIn) << label;
    }
}

// What earlier versions left behind reads as those versions read it; the next save writes UTF-8.
TEST_F(SettingsFile, FilesOfEarlierVersionsReadAsBefore) {
    struct Case {
        const char* name;
        std::string bytes;  // empty: the golden file of that name
        std::string userId;
        std::string passHash;
        std::string subName;
        bool autoLogIn;
        bool autoRun;
    };
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n";
    const Case cases[] = {
        {"settings_login.xml", "", "ivan@example.ru", "e10adc3949ba59abbe56e057f20f883e", "Иван",
         true, true},
        {"settings_configuration.xml", "", "ivan@example.ru", "", "", false, false},
        // "иван@mail.ru" as those versions saved it: Windows-1251 bytes under a UTF-8 declaration, which
        // is not UTF-8. Its log-ins sent those bytes; they go on doing so.
        {"a Windows-1251 address",
         declaration + "<Settings>\n    <AutoRun>0</AutoRun>\n    <AutoLogIn>1</AutoLogIn>\n"
                       "    <UserID>\xE8\xE2\xE0\xED@mail.ru</UserID>\n"
                       "    <PassHash>e10adc3949ba59abbe56e057f20f883e</PassHash>\n    <SubName />\n</Settings>\n",
         "\xE8\xE2\xE0\xED@mail.ru", "e10adc3949ba59abbe56e057f20f883e", "", true, false},
        // A name typed into the file by hand in Windows-1251 ("Оля") is taken in that code page.
        {"a Windows-1251 name",
         declaration + "<Settings><UserID>ivan@example.ru</UserID><SubName>\xCE\xEB\xFF</SubName></Settings>",
         "ivan@example.ru", "", "Оля", false, false},
    };
    for (const Case& test : cases) {
        std::string path = path_;
        if (test.bytes.empty()) {
            path = std::string(PELMORA_TEST_DATA_DIR "/golden/") + test.name;
        } else {
            WriteFile(test.bytes);
        }
        const std::unique_ptr<AppContext> loaded = Load(path);
        AppContext& read = *loaded;
        EXPECT_EQ(test.userId, read.userId) << test.name;
        EXPECT_EQ(test.passHash, read.passHash) << test.name;
        EXPECT_EQ(test.subName, read.subName) << test.name;
        EXPECT_EQ(test.autoLogIn, read.autoLogIn) << test.name;
        EXPECT_EQ(test.autoRun, read.autoRun) << test.name;

        read.settingsFile.path = path_;
        WriteSettings(read, SettingsWriter::LogIn);
        const pelmora_test::MsxmlReading other = pelmora_test::ReadWithMsxml(AnsiToWide(path_));
        EXPECT_TRUE(other.accepted) << test.name << " saved again: " << WideToUtf8(other.error);
        EXPECT_EQ(test.userId, Reload()->userId) << test.name << " saved again";
    }
}

// The file is measured before TinyXML parses it: one nested or attributed beyond the parser's bounds
// fails to load like a damaged file, while one within them is read with the address conversion.
TEST_F(SettingsFile, AFileBeyondTheParsersBoundsFailsToLoad) {
    const auto nested = [](int levels) {
        std::string elements;
        for (int level = 0; level < levels; ++level) elements += "<a>";
        for (int level = 0; level < levels; ++level) elements += "</a>";
        return elements;
    };
    const auto attributed = [](int count) {
        std::string element = "<Extra";
        for (int index = 0; index < count; ++index) element += " a" + std::to_string(index) + "=\"1\"";
        return element + "/>";
    };
    struct Case {
        const char* name;
        std::string inside;  // after the address, inside "Settings"
        bool loaded;
    };
    // "Settings" itself is the first level.
    const Case cases[] = {
        {"nested to the bound", nested(kMaxXmlNesting - 1), true},
        {"nested one level beyond", nested(kMaxXmlNesting), false},
        {"attributes to the bound", attributed(kMaxXmlAttributes), true},
        {"one attribute beyond", attributed(kMaxXmlAttributes + 1), false},
    };
    for (const Case& test : cases) {
        WriteFile("<Settings><UserID>\xE8\xE2\xE0\xED@mail.ru</UserID>" + test.inside + "</Settings>");
        AppContext loaded;
        loaded.settingsFile.path = path_;
        EXPECT_EQ(test.loaded, LoadSettings(loaded)) << test.name;
        EXPECT_EQ(test.loaded ? "\xE8\xE2\xE0\xED@mail.ru" : "", loaded.userId) << test.name;
        EXPECT_EQ(test.loaded, loaded.settingsFile.root != nullptr) << test.name;
    }
}

// The second reader is strict: the file earlier versions wrote for a Windows-1251 address is refused.
TEST_F(SettingsFile, TheSecondReaderRefusesWhatIsNotUtf8) {
    WriteFile("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Settings><UserID>\xE8\xE2\xE0\xED@mail.ru</UserID></Settings>");
    EXPECT_FALSE(pelmora_test::ReadWithMsxml(AnsiToWide(path_)).accepted);
    WriteFile("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Settings><UserID>\xD0\xB8@mail.ru</UserID></Settings>");
    EXPECT_TRUE(pelmora_test::ReadWithMsxml(AnsiToWide(path_)).accepted);
}

}  // namespace
