#include "tests/support/shell_link_reader.h"

#include <windows.h>
#include <shlobj.h>

namespace pelmora_test {

namespace {

void Read(IShellLinkW* link, const std::wstring& path, ShellLinkReading* reading) {
    IPersistFile* file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) return;
    if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        wchar_t target[MAX_PATH + 1] = {};
        wchar_t arguments[MAX_PATH + 1] = {};
        reading->loaded = SUCCEEDED(link->GetPath(target, MAX_PATH + 1, nullptr, SLGP_RAWPATH)) &&
                          SUCCEEDED(link->GetArguments(arguments, MAX_PATH + 1));
        reading->target = target;
        reading->arguments = arguments;
    }
    file->Release();
}

}  // namespace

ShellLinkReading ReadShellLink(const std::wstring& path) {
    ShellLinkReading reading;
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        Read(link, path, &reading);
        link->Release();
    }
    if (SUCCEEDED(initialised)) CoUninitialize();
    return reading;
}

}  // namespace pelmora_test
