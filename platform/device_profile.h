// The device profile: what stands in for the phone's radio, modem ports and handset data.
// Read from device.xml beside the executable by the device layer only.
#pragma once

#include <map>
#include <string>

enum class RadioMode {
    None,    // no radio layer: RIL_Initialize fails
    Modem,   // the radio layer asks the modem for the serving cell
    Silent,  // the radio layer initialises but never answers
};

struct HandsetProfile {
    std::wstring manufacturer;
    std::wstring model;
    std::wstring revision;
    std::wstring serialNumber;
    std::wstring subscriberNumber;
    std::wstring operatorCode;  // numeric: three digits of country code, then the network code
};

struct DeviceProfile {
    RadioMode radioMode = RadioMode::None;
    std::string radioModem;                   // "HOST:PORT" of the modem the radio layer asks
    std::map<std::wstring, std::string> ports;  // port name ("COM2:") to "HOST:PORT" of its modem
    HandsetProfile handset;
    unsigned generation = 0;  // which profile of this run it is: another number is another phone
};

// The profile of this run, read from device.xml beside the executable on first use.
// A missing file gives an empty profile: no radio layer, no ports, empty handset data.
const DeviceProfile& GetDeviceProfile();

// Reads a profile from `path` (ANSI code page) and makes it the profile of this run. A missing file
// gives the empty profile and true; an unreadable one the empty profile and false.
bool LoadDeviceProfile(const std::string& path);

// Parses the profile text; false when it is not a well-formed profile (then `profile` is empty).
bool ParseDeviceProfile(const std::string& text, DeviceProfile* profile);

// Splits "HOST:PORT"; false when there is no port number in 1..65535.
bool SplitEndpoint(const std::string& endpoint, std::string* host, unsigned short* port);
