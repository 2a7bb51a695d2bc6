#include "app/autostart.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "app/text_conversion.h"

namespace {

bool GetShortcutPath(std::wstring* path) {
    wchar_t folder[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, FALSE)) return false;
    *path = std::wstring(folder) + L"\\Pelmora.lnk";
    return true;
}

}  // namespace

void CreateAutostartShortcut(const char* arguments) {
    std::wstring shortcut;
    if (!GetShortcutPath(&shortcut)) return;
    wchar_t executable[MAX_PATH + 2] = {};
    const DWORD length = GetModuleFileNameW(nullptr, executable, MAX_PATH + 1);
    if (length == 0) return;

    const std::string shortcutPath = WideToAnsi(shortcut);
    const std::string executablePath = WideToAnsi(std::wstring(executable, length));
    // Binary mode: the phone's shortcut format has no line end and no translation.
    FILE* file = std::fopen(shortcutPath.c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "%d#\"%s\"", static_cast<int>(executablePath.size()) + 2, executablePath.c_str());
    if (arguments != nullptr && *arguments != '\0') std::fputs(arguments, file);
    std::fclose(file);
}

void DeleteAutostartShortcut() {
    std::wstring shortcut;
    if (!GetShortcutPath(&shortcut)) return;
    DeleteFileW(shortcut.c_str());
}
