// settings.xml beside the executable: automatic log-in, start with the phone, the e-mail address,
// the password hash (only with automatic log-in) and the user's own display name. The file is UTF-8
// throughout; the address, which the program holds in the ANSI code page, is converted on the way.
// The application object keeps the file (AppContext::settingsFile) and its values (app_context.h).
#pragma once

#include <memory>
#include <string>

class TiXmlDocument;
class TiXmlElement;

// What the file keeps, as the program holds it.
struct StoredSettings {
    bool autoRun = false;
    bool autoLogIn = false;
    std::string userId;    // ANSI code page
    std::string passHash;  // 32 lower-case hexadecimal digits; written only with the automatic log-in
    std::string subName;   // UTF-8
};

// The file, and the document last loaded from it or written to it.
struct SettingsFile {
    SettingsFile();
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    std::string path;                         // ANSI code page
    std::unique_ptr<TiXmlDocument> document;  // never null
    TiXmlElement* root = nullptr;             // the document's "Settings" element, or null
};

// Loads the file at `path` into the document and reads it; false when the file is missing, nested or
// attributed beyond the bounds of LoadXmlFile, not well-formed, or has no "Settings" element.
bool LoadSettingsFile(SettingsFile& file, StoredSettings* settings);

// Reads the loaded document: both flags go off first, and then, when there is a "Settings" element,
// every value is taken from it (an absent element empties its value). False without that element.
bool ReadSettingsFile(SettingsFile& file, StoredSettings* settings);

// Rebuilds the document from `settings` and writes the file. The old file stays when the new one
// cannot be written.
void WriteSettingsFile(SettingsFile& file, const StoredSettings& settings);
