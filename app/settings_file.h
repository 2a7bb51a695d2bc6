// settings.xml beside the executable: automatic log-in, start with the phone, the e-mail address,
// the password hash (only with automatic log-in) and the user's own display name.
#pragma once

struct AppContext;

// Reads the loaded settingsDocument into the context; false when it has no "Settings" element.
bool ReadSettings(AppContext& context);

enum class SettingsWriter {
    LogIn,          // variant A: the display name is always written
    Configuration,  // variant B: the display name only in account mode 1, otherwise empty
};

// Rebuilds settings.xml from the context. The old file stays when the new one cannot be written.
void WriteSettings(AppContext& context, SettingsWriter writer);
