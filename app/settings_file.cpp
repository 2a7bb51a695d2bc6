#include "app/settings_file.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include <tinyxml.h>

#include "platform/text_conversion.h"
#include "platform/xml_document.h"

namespace {

// The first character 1 turns a flag on; anything else, or no text, leaves it off.
bool ReadFlag(const TiXmlElement* root, const char* name) {
    const TiXmlElement* element = root->FirstChildElement(name);
    if (element == nullptr) return false;
    const char* text = element->GetText();
    return text != nullptr && text[0] == '1';
}

std::string ReadText(const TiXmlElement* root, const char* name) {
    const TiXmlElement* element = root->FirstChildElement(name);
    if (element == nullptr) return {};
    const char* text = element->GetText();
    return text != nullptr ? text : "";
}

// The file is UTF-8. Earlier versions wrote the e-mail address in the ANSI code page, as the program
// holds it, which is not UTF-8 once it has a Cyrillic letter; they read those bytes back unchanged and
// sent them at log-in. Text that is not UTF-8 is therefore taken in the ANSI code page.
std::string ReadAnsiText(const TiXmlElement* root, const char* name) {
    const std::string text = ReadText(root, name);
    std::wstring wide;
    return TryUtf8ToWide(text, &wide) ? WideToAnsi(wide) : text;
}

std::string ReadUtf8Text(const TiXmlElement* root, const char* name) {
    const std::string text = ReadText(root, name);
    std::wstring wide;
    return TryUtf8ToWide(text, &wide) ? text : WideToUtf8(AnsiToWide(text));
}

// Values go into the document text as character data, so markup in them must not become markup.
std::string EscapeMarkup(const std::string& value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char character : value) {
        switch (character) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        default: escaped += character; break;
        }
    }
    return escaped;
}

std::string BuildSettingsText(const StoredSettings& settings) {
    const std::string userId = EscapeMarkup(WideToUtf8(AnsiToWide(settings.userId)));
    std::string text = "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"UTF-8\" ?><Settings><AutoRun>";
    text += settings.autoRun ? "1" : "0";
    if (settings.autoLogIn) {
        text += "</AutoRun><AutoLogIn>1</AutoLogIn><UserID>";
        text += userId;
        text += "</UserID><PassHash>";
        text += EscapeMarkup(settings.passHash);
        text += "</PassHash><SubName>";
    } else {
        text += "</AutoRun><AutoLogIn>0</AutoLogIn><UserID>";
        text += userId;
        text += "</UserID><PassHash></PassHash><SubName>";
    }
    text += EscapeMarkup(settings.subName);
    text += "</SubName></Settings>";
    return text;
}

TiXmlElement* FindSettingsElement(TiXmlDocument& document) {
    TiXmlNode* node = document.FirstChild("Settings");
    return node != nullptr ? node->ToElement() : nullptr;
}

// Writes beside the file and then replaces it, so a failed write never leaves a damaged file.
bool SaveDocument(const TiXmlDocument& document, const std::string& path) {
    const std::string temporary = path + ".new";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool printed = document.SaveFile(file);
    const bool closed = std::fclose(file) == 0;
    if (!printed || !closed ||
        !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

SettingsFile::SettingsFile() : document(new TiXmlDocument) {}

SettingsFile::~SettingsFile() = default;

bool LoadSettingsFile(SettingsFile& file, StoredSettings* settings) {
    file.root = nullptr;
    if (!LoadXmlFile(file.path, TIXML_ENCODING_UNKNOWN, file.document.get())) return false;
    return ReadSettingsFile(file, settings);
}

bool ReadSettingsFile(SettingsFile& file, StoredSettings* settings) {
    settings->autoLogIn = false;
    settings->autoRun = false;
    file.root = FindSettingsElement(*file.document);
    if (file.root == nullptr) return false;

    settings->autoLogIn = ReadFlag(file.root, "AutoLogIn");
    settings->autoRun = ReadFlag(file.root, "AutoRun");
    settings->userId = ReadAnsiText(file.root, "UserID");
    settings->passHash = ReadText(file.root, "PassHash");
    settings->subName = ReadUtf8Text(file.root, "SubName");
    return true;
}

void WriteSettingsFile(SettingsFile& file, const StoredSettings& settings) {
    const std::string text = BuildSettingsText(settings);
    file.document->Clear();
    file.document->Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    file.root = FindSettingsElement(*file.document);
    SaveDocument(*file.document, file.path);
}
