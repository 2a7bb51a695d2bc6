#include "app/settings_file.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "app/app_context.h"
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

std::string BuildSettingsText(const AppContext& context, SettingsWriter writer) {
    const std::string userId = EscapeMarkup(WideToUtf8(AnsiToWide(context.userId)));
    std::string text = "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"UTF-8\" ?><Settings><AutoRun>";
    text += context.autoRun ? "1" : "0";
    if (context.autoLogIn) {
        text += "</AutoRun><AutoLogIn>1</AutoLogIn><UserID>";
        text += userId;
        text += "</UserID><PassHash>";
        text += EscapeMarkup(context.passHash);
        text += "</PassHash><SubName>";
    } else {
        text += "</AutoRun><AutoLogIn>0</AutoLogIn><UserID>";
        text += userId;
        text += "</UserID><PassHash></PassHash><SubName>";
    }
    if (writer == SettingsWriter::LogIn || context.accountMode == 1) text += EscapeMarkup(context.subName);
    text += "</SubName></Settings>";
    return text;
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

bool LoadSettings(AppContext& context) {
    if (!LoadXmlFile(context.settingsPath, TIXML_ENCODING_UNKNOWN, &context.settingsDocument)) return false;
    return ReadSettings(context);
}

bool ReadSettings(AppContext& context) {
    context.autoLogIn = false;
    context.autoRun = false;
    context.settingsRoot = nullptr;
    TiXmlNode* node = context.settingsDocument.FirstChild("Settings");
    TiXmlElement* root = node != nullptr ? node->ToElement() : nullptr;
    if (root == nullptr) return false;
    context.settingsRoot = root;

    context.autoLogIn = ReadFlag(root, "AutoLogIn");
    context.autoRun = ReadFlag(root, "AutoRun");
    context.userId = ReadAnsiText(root, "UserID");
    context.passHash = ReadText(root, "PassHash");
    context.subName = ReadUtf8Text(root, "SubName");
    return true;
}

void WriteSettings(AppContext& context, SettingsWriter writer) {
    const std::string text = BuildSettingsText(context, writer);
    context.settingsDocument.Clear();
    context.settingsRoot = nullptr;
    context.settingsDocument.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    if (TiXmlNode* node = context.settingsDocument.FirstChild("Settings")) context.settingsRoot = node->ToElement();
    SaveDocument(context.settingsDocument, context.settingsPath);
}
