#include "native_process.h"

#include <windows.h>

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

constexpr DWORD kStartTimeoutMs = 10000;
// Wine hands a Linux child the standard input and output it is given, but always its own standard
// error: the shell puts every stream where the program is to have it.
constexpr char kShell[] = "/bin/sh";

// The paths and arguments the tests pass are ASCII.
std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

std::string WindowsPath(const std::string& linuxPath) { return "Z:" + linuxPath; }

std::string ReadWholeFile(const std::string& windowsPath) {
    std::ifstream file(windowsPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string UniqueScratchPath(const std::string& stem) {
    static int made = 0;
    return std::string(PELMORA_SCRATCH_DIR) + "/" + stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++made);
}

std::optional<std::string> StartNativeProgram(const NativeProgram& program) {
    const std::string readyFile = WindowsPath(program.readyFile);
    DeleteFileA(readyFile.c_str());

    std::string script = "exec '" + program.program + "' " + program.arguments + " </dev/null >" +
                         (program.outputFile.empty() ? "/dev/null" : program.outputFile);
    if (!program.errorFile.empty()) script += " 2>" + program.errorFile;
    const std::wstring shell = Widen(WindowsPath(kShell));
    std::wstring commandLine = Widen(std::string(kShell) + " -c \"" + script + "\"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(shell.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return std::nullopt;
    }
    // Wine starts a Linux program without a process handle, and what it leaves in the thread handle
    // then is no handle of this process: closing it would close something else.
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
    while (GetFileAttributesA(readyFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() > deadline) {
            if (!program.errorFile.empty()) std::cerr << ReadWholeFile(WindowsPath(program.errorFile));
            return std::nullopt;
        }
        Sleep(20);
    }
    return ReadWholeFile(readyFile);
}
