// settings.xml beside the executable: automatic log-in, start with the phone, the e-mail address,
// the password hash (only with automatic log-in) and the user's own display name. The file is UTF-8
// throughout; the address, which the program holds in the ANSI code page, is converted on the way.
#pragma once

struct AppContext;

// Loads the file at settingsPath into settingsDocument and reads it; false when the file is missing,
// nested or attributed beyond the bounds of LoadXmlFile, not well-formed, or has no "Settings" element.
bool LoadSettings(AppContext& context);

// Reads the loaded settingsDocument into the context; false when it has no "Settings" element.
bool ReadSettings(AppContext& context);

enum class SettingsWriter {
    LogIn,          // variant A: the display name is always written
    Configuration,  // variant B: the display name only in account mode 1, otherwise empty
};

// Rebuilds settings.xml from the context. The old file stays when the new one cannot be written.
void WriteSettings(AppContext& context, SettingsWriter writer);
