#include "phonesim_process.h"

#include <windows.h>

#include <fstream>
#include <optional>
#include <sstream>

#include "native_process.h"
#include "platform/device_profile.h"

namespace {

constexpr char kIdleExitSeconds[] = "5";

}  // namespace

PhoneSim::PhoneSim() : base_(UniqueScratchPath("phonesim")) {}

PhoneSim::~PhoneSim() {
    for (const char* extension : {".ports", ".log", ".err"}) DeleteFileA(WindowsPath(base_ + extension).c_str());
}

bool PhoneSim::Start(const std::vector<std::string>& switches, int modems) {
    // A log of an earlier run that ended without cleaning up would pass for this simulator's.
    DeleteFileA(WindowsPath(base_ + ".log").c_str());
    NativeProgram program;
    program.program = PELMORA_PHONESIM;
    for (int modem = 0; modem < modems; ++modem) program.arguments += "0 ";
    for (const std::string& argument : switches) program.arguments += argument + " ";
    program.readyFile = base_ + ".ports";
    program.arguments += "--ready-file " + program.readyFile + " --log " + base_ + ".log --idle-exit " + kIdleExitSeconds;
    // Its report of the ports would only clutter the test's output (the ports file gives them), and
    // a simulator that kept the test's error output would hold up whoever waits for it to close.
    program.errorFile = base_ + ".err";
    const std::optional<std::string> ready = StartNativeProgram(program);
    if (!ready) return false;
    std::istringstream ports(*ready);
    ports_.clear();
    for (unsigned port = 0; ports >> port;) ports_.push_back(static_cast<unsigned short>(port));
    return static_cast<int>(ports_.size()) == modems;
}

std::string PhoneSim::Endpoint(int modem) const { return "127.0.0.1:" + std::to_string(ports_.at(modem)); }

std::string PhoneSim::ReceivedBytes() const { return ReadWholeFile(WindowsPath(base_ + ".log")); }

std::string DeviceProfileText(const std::string& radioMode, const std::string& radioModem,
                              const std::vector<std::pair<std::string, std::string>>& ports,
                              const std::string& operatorCode) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Device>\n";
    text += "    <Radio mode=\"" + radioMode + "\" modem=\"" + radioModem + "\"/>\n";
    for (const auto& port : ports) text += "    <Port name=\"" + port.first + "\" modem=\"" + port.second + "\"/>\n";
    if (!operatorCode.empty()) {
        text += "    <Handset manufacturer=\"Demo\" model=\"PPC-2003\" revision=\"4.21.1088\" serial=\"354500001234567\" "
                "subscriber=\"+79161234567\" operator=\"" + operatorCode + "\"/>\n";
    }
    return text + "</Device>\n";
}

bool UseDeviceProfile(const std::string& text) {
    const std::string path = WindowsPath(UniqueScratchPath("device") + ".xml");
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file) return false;
    }
    const bool loaded = LoadDeviceProfile(path);
    DeleteFileA(path.c_str());
    return loaded;
}
