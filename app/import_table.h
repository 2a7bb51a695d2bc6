// The import table of a loaded module: the slot through which it calls a function of another library.
// Replacing a slot's value redirects the module's calls; calls from other modules are not affected.
#pragma once

#include <windows.h>

// The slot through which `module` calls `function` (imported by name) of `library`, or null.
ULONG_PTR* FindImportSlot(HMODULE module, const char* library, const char* function);

// Writes `value` into an import slot, which the loader leaves read-only.
void WriteImportSlot(ULONG_PTR* slot, ULONG_PTR value);
