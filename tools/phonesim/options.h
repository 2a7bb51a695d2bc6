// The command line of the phone simulator.
#pragma once

#include <string>
#include <vector>

#include "modem.h"

namespace phonesim {

struct Options {
    std::vector<unsigned short> ports;  // 0: any free port
    std::string bindAddress = "127.0.0.1";
    std::string routeFile;              // empty: stay in the cell of `modem.route`
    std::string logFile;
    std::string readyFile;
    double idleExitSeconds = 0;         // 0: run until stopped
    bool help = false;
    ModemSettings modem;
};

// Parses the arguments after the program name; false with a message when they make no sense.
bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error);

std::string Usage();

}  // namespace phonesim
