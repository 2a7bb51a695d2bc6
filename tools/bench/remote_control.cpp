// Drives a running pelmora.exe for the benchmark as a user and its timers would, from another process
// in the same Wine desktop. Reads one command per line from standard input and answers each with "ok"
// or "error TEXT" on standard output:
//
//   report          the report timer fires: location report, place line, groups fetch
//   key right       the Right key on the main window (the next tab)
//   scroll ROW      the group tab scrolls to entry ROW
//   invalidate      the group tab is to be painted again, all of it
//   close           the main window is closed: the program ends as it does on its own
//
//   pelmora-bench-remote.exe
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "resources/resource_ids.h"

namespace {

HWND MainWindow() { return FindWindowW(L"PelMainWnd", nullptr); }

HWND GroupTab() {
    HWND main = MainWindow();
    return main != nullptr ? FindWindowExW(main, nullptr, L"PelGroupTabWnd", nullptr) : nullptr;
}

// Carries out one command; null when done, else what went wrong.
const char* Run(const char* command) {
    HWND main = MainWindow();
    if (main == nullptr) return "no main window";
    if (std::strcmp(command, "report") == 0) {
        return PostMessageW(main, WM_TIMER, TIMER_REPORT, 0) ? nullptr : "cannot post";
    }
    if (std::strcmp(command, "key right") == 0) {
        return PostMessageW(main, WM_KEYDOWN, VK_RIGHT, 0) ? nullptr : "cannot post";
    }
    if (std::strcmp(command, "close") == 0) {
        return PostMessageW(main, WM_CLOSE, 0, 0) ? nullptr : "cannot post";
    }
    HWND tab = GroupTab();
    if (tab == nullptr) return "no group tab";
    if (std::strncmp(command, "scroll ", 7) == 0) {
        SendMessageW(tab, WM_PELMORA_SCROLL_TO_ROW, static_cast<WPARAM>(std::atoi(command + 7)), 0);
        return nullptr;
    }
    if (std::strcmp(command, "invalidate") == 0) {
        return InvalidateRect(tab, nullptr, TRUE) ? nullptr : "cannot invalidate";
    }
    return "unknown command";
}

}  // namespace

int main() {
    char line[128];
    while (std::fgets(line, sizeof(line), stdin) != nullptr) {
        line[std::strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0') continue;
        const char* error = Run(line);
        if (error == nullptr) {
            std::printf("ok\n");
        } else {
            std::printf("error %s\n", error);
        }
        std::fflush(stdout);
    }
    return 0;
}
