// Lets a test watch the calls a module makes to a function of another library, by replacing the
// entry of that function in the module's import table for as long as the patch lives.
//
//     ImportPatch patch(GetModuleHandleW(nullptr), "user32.dll", "SetTimer", reinterpret_cast<void*>(MySetTimer));
//     ... MySetTimer records and calls patch.Original<decltype(&SetTimer)>() ...
//
// Only calls through the patched module's import table are seen: another module (a system library
// that calls the same function) needs a patch of its own.
#pragma once

#include <windows.h>

namespace pelmora_test {

class ImportPatch {
public:
    ImportPatch(HMODULE module, const char* library, const char* function, void* replacement);
    ~ImportPatch();

    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // False when the module does not import the function by name from the library.
    bool Active() const { return slot_ != nullptr; }

    template <typename Function>
    Function Original() const {
        return reinterpret_cast<Function>(original_);
    }

private:
    ULONG_PTR* slot_ = nullptr;
    ULONG_PTR original_ = 0;
};

}  // namespace pelmora_test
