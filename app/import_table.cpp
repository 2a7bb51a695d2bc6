#include "app/import_table.h"

#include <cstring>

namespace {

template <typename Type>
Type* At(BYTE* base, DWORD offset) {
    return reinterpret_cast<Type*>(base + offset);
}

}  // namespace

ULONG_PTR* FindImportSlot(HMODULE module, const char* library, const char* function) {
    if (module == nullptr) return nullptr;
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const IMAGE_NT_HEADERS* headers = At<IMAGE_NT_HEADERS>(base, reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress); entry->Name != 0; ++entry) {
        if (_stricmp(At<char>(base, entry->Name), library) != 0) continue;
        // The names stay in the lookup table; the address table beside it holds what the loader bound.
        const DWORD lookup = entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
        auto* name = At<IMAGE_THUNK_DATA>(base, lookup);
        auto* bound = At<IMAGE_THUNK_DATA>(base, entry->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++bound) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            const auto* byName = At<IMAGE_IMPORT_BY_NAME>(base, static_cast<DWORD>(name->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<ULONG_PTR*>(&bound->u1.Function);
            }
        }
    }
    return nullptr;
}

void WriteImportSlot(ULONG_PTR* slot, ULONG_PTR value) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), protection, &protection);
}
