// The window classes of the shell's own windows.
#pragma once

#include <windows.h>

// Registers `className` as the shell's windows are registered: redrawn on every size change, the
// program's icon, no cursor, the white brush. A class registered before counts as success.
bool RegisterShellWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC procedure);
