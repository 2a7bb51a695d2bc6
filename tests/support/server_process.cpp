#include "server_process.h"

#include <windows.h>

#include <optional>
#include <sstream>

#include "native_process.h"

namespace {

// Long enough for the slowest pause between two requests of a log-in under Wine.
constexpr char kIdleExitSeconds[] = "10";

const char* const kFolderFiles[] = {"demo.db", "demo.db-wal", "demo.db-shm", "port", "server.out", "server.log"};

}  // namespace

DemoServer::DemoServer() : folder_(UniqueScratchPath("server")) {}

DemoServer::~DemoServer() {
    // The server may still run: Linux lets its open files go, and it writes nothing more unless asked.
    for (const char* name : kFolderFiles) DeleteFileA(WindowsPath(folder_ + "/" + name).c_str());
    RemoveDirectoryA(WindowsPath(folder_).c_str());
}

bool DemoServer::Start() {
    if (!CreateDirectoryA(WindowsPath(folder_).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    // A database left by an earlier run with the same name would not be seeded again.
    for (const char* name : kFolderFiles) DeleteFileA(WindowsPath(folder_ + "/" + name).c_str());
    NativeProgram program;
    program.program = PELMORA_SERVER;
    program.readyFile = folder_ + "/port";
    program.arguments = "--listen 127.0.0.1:0 --db " + folder_ + "/demo.db --demo --walk-step 0 --ready-file " +
                        program.readyFile + " --idle-exit " + kIdleExitSeconds;
    program.outputFile = folder_ + "/server.out";
    program.errorFile = folder_ + "/server.log";
    const std::optional<std::string> ready = StartNativeProgram(program);
    if (!ready) return false;
    std::istringstream text(*ready);
    unsigned port = 0;
    if (!(text >> port) || port == 0 || port > 65535) return false;
    port_ = static_cast<unsigned short>(port);
    return true;
}

std::string DemoServer::AccessLog() const { return ReadWholeFile(WindowsPath(folder_ + "/server.log")); }

std::vector<std::string> DemoServer::Requests() const {
    std::vector<std::string> requests;
    std::istringstream lines(AccessLog());
    for (std::string line; std::getline(lines, line);) {
        // TIME PEER KIND USER RESULT... MILLISECONDS
        const std::size_t kind = line.find(' ', line.find(' ') + 1);
        const std::size_t duration = line.rfind(' ');
        if (kind == std::string::npos || duration == std::string::npos || duration <= kind) continue;
        requests.push_back(line.substr(kind + 1, duration - kind - 1));
    }
    return requests;
}
