#include "tests/support/import_patch.h"

#include "app/import_table.h"

namespace pelmora_test {

ImportPatch::ImportPatch(HMODULE module, const char* library, const char* function, void* replacement)
    : slot_(FindImportSlot(module, library, function)) {
    if (slot_ == nullptr) return;
    original_ = *slot_;
    WriteImportSlot(slot_, reinterpret_cast<ULONG_PTR>(replacement));
}

ImportPatch::~ImportPatch() {
    if (slot_ != nullptr) WriteImportSlot(slot_, original_);
}

}  // namespace pelmora_test
