#include "phonesim_process.h"

#include <windows.h>

#include <fstream>
#include <sstream>

#include "platform/device_profile.h"

namespace {

// The simulator is a Linux program: it takes Linux paths; the test reaches the same files through Z:.
std::string WindowsPath(const std::string& linuxPath) { return "Z:" + linuxPath; }

constexpr DWORD kStartTimeoutMs = 10000;
constexpr char kIdleExitSeconds[] = "5";

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

PhoneSim::PhoneSim() {
    static int started = 0;
    base_ = std::string(PELMORA_SCRATCH_DIR) + "/phonesim-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++started);
}

PhoneSim::~PhoneSim() {
    DeleteFileA(WindowsPath(base_ + ".ports").c_str());
    DeleteFileA(WindowsPath(base_ + ".log").c_str());
}

bool PhoneSim::Start(const std::vector<std::string>& switches, int modems) {
    // Files of an earlier run that ended without cleaning up would pass for this simulator's.
    const std::string portsFile = WindowsPath(base_ + ".ports");
    DeleteFileA(portsFile.c_str());
    DeleteFileA(WindowsPath(base_ + ".log").c_str());
    std::string command = "\"" PELMORA_PHONESIM "\"";
    for (int modem = 0; modem < modems; ++modem) command += " 0";
    for (const std::string& argument : switches) command += " " + argument;
    command += " --ready-file " + base_ + ".ports --log " + base_ + ".log --idle-exit " + kIdleExitSeconds;

    std::wstring commandLine = Widen(command);
    // Its report of the ports would only clutter the test's output; the ports file gives them.
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    const HANDLE nowhere = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = nowhere;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(Widen(PELMORA_PHONESIM).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    if (nowhere != INVALID_HANDLE_VALUE) CloseHandle(nowhere);
    if (!started) return false;
    // Wine starts a Linux program without handles to wait on, and what it leaves in the thread handle
    // is not a handle of this process: closing it would close something else. The ports file tells
    // that the simulator listens.
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
    while (GetFileAttributesA(portsFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() > deadline) return false;
        Sleep(20);
    }
    std::istringstream ports(ReadWholeFile(portsFile));
    ports_.clear();
    for (unsigned port = 0; ports >> port;) ports_.push_back(static_cast<unsigned short>(port));
    return static_cast<int>(ports_.size()) == modems;
}

std::string PhoneSim::Endpoint(int modem) const { return "127.0.0.1:" + std::to_string(ports_.at(modem)); }

std::string PhoneSim::ReceivedBytes() const { return ReadWholeFile(WindowsPath(base_ + ".log")); }

std::string DeviceProfileText(const std::string& radioMode, const std::string& radioModem,
                              const std::vector<std::pair<std::string, std::string>>& ports) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Device>\n";
    text += "    <Radio mode=\"" + radioMode + "\" modem=\"" + radioModem + "\"/>\n";
    for (const auto& port : ports) text += "    <Port name=\"" + port.first + "\" modem=\"" + port.second + "\"/>\n";
    return text + "</Device>\n";
}

bool UseDeviceProfile(const std::string& text) {
    static int written = 0;
    const std::string path = WindowsPath(std::string(PELMORA_SCRATCH_DIR) + "/device-" +
                                         std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++written) + ".xml");
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file) return false;
    }
    const bool loaded = LoadDeviceProfile(path);
    DeleteFileA(path.c_str());
    return loaded;
}
