// The phone's modem for tests: starts pelmora-phonesim (the native Linux build, which Wine runs beside
// the test) on free loopback ports, and points the device profile at it.
#pragma once

#include <string>
#include <utility>
#include <vector>

class PhoneSim {
public:
    PhoneSim();
    ~PhoneSim();
    PhoneSim(const PhoneSim&) = delete;
    PhoneSim& operator=(const PhoneSim&) = delete;

    // Starts a simulator with `modems` ports and the given switches (see pelmora-phonesim --help);
    // false when it did not come up. It ends by itself a few seconds after its last connection closes.
    bool Start(const std::vector<std::string>& switches = {}, int modems = 1);
    // "127.0.0.1:PORT" of one of its modems.
    std::string Endpoint(int modem = 0) const;
    // Every byte the simulator received so far, on any of its modems.
    std::string ReceivedBytes() const;

private:
    std::string base_;  // path of its files without the extension, as Linux names it
    std::vector<unsigned short> ports_;
};

// A device profile: the radio's mode ("modem", "none", "silent") and modem, the ports by name and,
// with an operator code (such as "25001"), the handset data of a demo phone on that operator.
std::string DeviceProfileText(const std::string& radioMode, const std::string& radioModem,
                              const std::vector<std::pair<std::string, std::string>>& ports,
                              const std::string& operatorCode = std::string());
// Makes `text` the device profile of this run; false when it could not be written or read.
bool UseDeviceProfile(const std::string& text);
