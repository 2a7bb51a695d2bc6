#include "platform/web_link.h"

#include <windows.h>
#include <shellapi.h>

#include <utility>

namespace {

std::function<void(const wchar_t*)>& Opener() {
    static std::function<void(const wchar_t*)> opener;
    return opener;
}

}  // namespace

void OpenInBrowser(const wchar_t* address) {
    if (Opener()) {
        Opener()(address);
        return;
    }
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof(execute);
    execute.lpVerb = L"open";
    execute.lpFile = address;
    execute.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&execute);
}

void SetBrowserOpenerForTesting(std::function<void(const wchar_t* address)> opener) { Opener() = std::move(opener); }
