// Every message box of the program goes through here, so that tests can answer them.
#pragma once

#include <windows.h>

#include <functional>

// Shows a message box; returns the button chosen (IDOK, IDCANCEL, IDYES, IDNO).
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags);

// Tests put an answerer in place of the real box; an empty function restores the real one.
using MessageBoxAnswerer = std::function<int(HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags)>;
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);
