// Opening addresses in the phone's browser.
#pragma once

#include <functional>

// Opens `address` with the shell's "open" verb; the result is not examined.
void OpenInBrowser(const wchar_t* address);

// Tests put a recorder in place of the browser; an empty function restores the shell.
void SetBrowserOpenerForTesting(std::function<void(const wchar_t* address)> opener);
