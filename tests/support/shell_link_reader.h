// A shell link (.lnk) read back as the shell reads it: IShellLinkW and IPersistFile::Load.
#pragma once

#include <string>

namespace pelmora_test {

struct ShellLinkReading {
    bool loaded = false;  // the file exists and is a shell link
    std::wstring target;
    std::wstring arguments;
};

ShellLinkReading ReadShellLink(const std::wstring& path);

}  // namespace pelmora_test
