#include "app/autostart.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "app/app_context.h"
#include "platform/text_conversion.h"

namespace {

bool GetShortcutPath(std::wstring* path) {
    wchar_t folder[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_STARTUP, TRUE)) return false;
    *path = std::wstring(folder) + L"\\Pelmora.lnk";
    return true;
}

// Fills the link and saves it as `path`; COM is initialised on this thread.
void SaveLink(const std::wstring& path, const std::wstring& target, const std::wstring& arguments) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetArguments(arguments.c_str())) &&
        SUCCEEDED(link->SetWorkingDirectory(GetExecutableFolder().c_str())) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        file->Save(path.c_str(), TRUE);
        file->Release();
    }
    link->Release();
}

}  // namespace

void CreateAutostartShortcut(const char* arguments) {
    std::wstring shortcut;
    if (!GetShortcutPath(&shortcut)) return;
    const std::wstring executable = GetExecutablePath();
    if (executable.empty()) return;
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SaveLink(shortcut, executable, AnsiToWide(arguments != nullptr ? arguments : ""));
    if (SUCCEEDED(initialised)) CoUninitialize();
}

void DeleteAutostartShortcut() {
    std::wstring shortcut;
    if (!GetShortcutPath(&shortcut)) return;
    DeleteFileW(shortcut.c_str());
}
