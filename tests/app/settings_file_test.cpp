// settings.xml: how it reads, what each writer puts in it, and the exact bytes of the file.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/app_context.h"
#include "app/settings_file.h"

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
        context_.settingsPath = path_;
    }
    void TearDown() override {
        DeleteFileA(path_.c_str());
    }

    // Parses `text` as the start does and reads it.
    bool Read(const std::string& text) {
        context_.settingsDocument.Clear();
        context_.settingsDocument.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
        return ReadSettings(context_);
    }

    // Loads the written file the way the next start will.
    AppContext Reload() {
        AppContext reloaded;
        EXPECT_TRUE(reloaded.settingsDocument.LoadFile(path_.c_str(), TIXML_ENCODING_UNKNOWN));
        EXPECT_TRUE(ReadSettings(reloaded));
        return reloaded;
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
    ASSERT_NE(nullptr, context_.settingsRoot);
    EXPECT_STREQ("Settings", context_.settingsRoot->Value());
}

TEST_F(SettingsFile, FailsWithoutSettingsElement) {
    EXPECT_FALSE(Read("<?xml version=\"1.0\"?><Preferences><AutoRun>1</AutoRun></Preferences>"));
    EXPECT_FALSE(Read(""));
    EXPECT_EQ(nullptr, context_.settingsRoot);
}

TEST_F(SettingsFile, LogInWriterMatchesTheGoldenFile) {
    context_.autoRun = true;
    context_.autoLogIn = true;
    context_.userId = "ivan@example.ru";
    context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
    context_.subName = "Иван";
    context_.accountMode = 0;
    WriteSettings(context_, SettingsWriter::LogIn);
    EXPECT_EQ(ReadWholeFile(PELMORA_TEST_DATA_DIR "/golden/settings_login.xml"), ReadWholeFile(path_));
}

TEST_F(SettingsFile, ConfigurationWriterLeavesOutHashAndNameOutsideModeOne) {
    context_.autoRun = false;
    context_.autoLogIn = false;
    context_.userId = "ivan@example.ru";
    context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
    context_.subName = "Иван";
    context_.accountMode = 0;
    WriteSettings(context_, SettingsWriter::Configuration);
    EXPECT_EQ(ReadWholeFile(PELMORA_TEST_DATA_DIR "/golden/settings_configuration.xml"), ReadWholeFile(path_));
    EXPECT_EQ("e10adc3949ba59abbe56e057f20f883e", context_.passHash) << "the hash in memory stays";
    EXPECT_EQ("Иван", context_.subName) << "the name in memory stays";
}

TEST_F(SettingsFile, ConfigurationWriterKeepsTheNameInModeOne) {
    context_.autoLogIn = true;
    context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
    context_.subName = "Иван";
    context_.accountMode = 1;
    WriteSettings(context_, SettingsWriter::Configuration);
    const AppContext reloaded = Reload();
    EXPECT_EQ("Иван", reloaded.subName);
    EXPECT_EQ("e10adc3949ba59abbe56e057f20f883e", reloaded.passHash);
}

TEST_F(SettingsFile, LogInWriterKeepsTheNameInEveryMode) {
    context_.autoLogIn = false;
    context_.passHash = "e10adc3949ba59abbe56e057f20f883e";
    context_.subName = "Иван";
    context_.accountMode = 2;
    WriteSettings(context_, SettingsWriter::LogIn);
    const AppContext reloaded = Reload();
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
    const AppContext reloaded = Reload();
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

}  // namespace
