#include "options.h"

#include <cmath>
#include <cstdlib>

namespace phonesim {

namespace {

bool ParseNumber(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(*value) && *value >= 0;
}

// A whole number from 1, as the counting switches take.
bool ParseCount(const std::string& text, int* count) {
    double number = 0;
    if (!ParseNumber(text, &number) || number < 1 || number != std::floor(number) || number > 1e6) return false;
    *count = static_cast<int>(number);
    return true;
}

bool ParsePort(const std::string& text, unsigned short* port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (number > 65535) return false;
    *port = static_cast<unsigned short>(number);
    return true;
}

bool ParseCell(const std::string& text, RouteStop* stop) {
    std::string error;
    std::vector<RouteStop> route;
    std::string line = "1 " + text;
    if (!ParseRoute(line, &route, &error) || route.size() != 1) return false;
    *stop = route.front();
    return true;
}

struct FaultSwitch {
    const char* name;
    Fault fault;
};

constexpr FaultSwitch kFaultSwitches[] = {
    {"--silent", Fault::Silent}, {"--garbage", Fault::Garbage}, {"--no-creg", Fault::NoCreg},
    {"--flood", Fault::Flood},   {"--drop", Fault::Drop},       {"--hang-up", Fault::HangUp},
};

}  // namespace

bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error) {
    *options = Options();
    RouteStop cell;
    cell.seconds = 1;
    cell.lac = 0x1A2B;
    cell.ci = 0x3C4D;
    options->modem.route = {cell};

    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--help" || argument == "-h") {
            options->help = true;
            return true;
        }
        bool isFault = false;
        for (const FaultSwitch& entry : kFaultSwitches) {
            if (argument != entry.name) continue;
            if (options->modem.fault != Fault::None) {
                *error = "only one fault at a time";
                return false;
            }
            options->modem.fault = entry.fault;
            isFault = true;
        }
        if (isFault) continue;
        if (argument.compare(0, 2, "--") != 0) {
            unsigned short port = 0;
            if (!ParsePort(argument, &port)) {
                *error = "not a port number: " + argument;
                return false;
            }
            options->ports.push_back(port);
            continue;
        }
        if (index + 1 >= arguments.size()) {
            *error = argument + " needs a value";
            return false;
        }
        const std::string& value = arguments[++index];
        double number = 0;
        if (argument == "--route") {
            options->routeFile = value;
        } else if (argument == "--cell") {
            if (!ParseCell(value, &cell)) {
                *error = "--cell expects LAC,CI in hexadecimal, e.g. 1A2B,3C4D";
                return false;
            }
            options->modem.route = {cell};
        } else if (argument == "--unregistered-every" || argument == "--hang-up-at-query") {
            int* count = argument == "--unregistered-every" ? &options->modem.unregisteredEvery
                                                            : &options->modem.hangUpAtQuery;
            if (!ParseCount(value, count)) {
                *error = argument + " expects a whole number from 1";
                return false;
            }
        } else if (argument == "--bind") {
            options->bindAddress = value;
        } else if (argument == "--log") {
            options->logFile = value;
        } else if (argument == "--ready-file") {
            options->readyFile = value;
        } else if (argument == "--idle-exit") {
            if (!ParseNumber(value, &number)) {
                *error = "--idle-exit expects seconds";
                return false;
            }
            options->idleExitSeconds = number;
        } else {
            *error = "unknown option " + argument;
            return false;
        }
    }
    if (options->ports.empty()) {
        *error = "no port to listen on";
        return false;
    }
    return true;
}

std::string Usage() {
    return "Usage: pelmora-phonesim [OPTIONS] PORT [PORT...]\n"
           "\n"
           "Plays the phone's GSM modem for Pelmora on the desktop. Listens on each TCP PORT (0 picks a\n"
           "free one) and answers AT commands as a modem does: echoes what it receives, answers\n"
           "AT+CREG=2 with OK and AT+CREG? with +CREG: 2,1,\"LAC\",\"CI\" (upper-case hexadecimal) and OK.\n"
           "Commands may be written in any letter case and end with a carriage return.\n"
           "\n"
           "Cells:\n"
           "  --route FILE             walk the cells of FILE, one a line: SECONDS LAC CI (LAC and CI in\n"
           "                           hexadecimal, SECONDS may have a fraction); after the last line the\n"
           "                           route starts over\n"
           "  --cell LAC,CI            stay in one cell (default 1A2B,3C4D)\n"
           "\n"
           "Faults (one at a time):\n"
           "  --silent                 read everything, answer nothing, echo nothing\n"
           "  --garbage                answer every command with noise\n"
           "  --no-creg                answer AT+CREG? with a +CGREG line instead of +CREG\n"
           "  --flood                  after the first command, send noise without end\n"
           "  --drop                   hang up right after echoing the first command\n"
           "  --hang-up                hang up every connection as soon as it is accepted\n"
           "  --unregistered-every N   every Nth AT+CREG? finds no network (+CREG: 2,0)\n"
           "  --hang-up-at-query N     hang up instead of answering the Nth AT+CREG? of the run,\n"
           "                           counted over all connections; later connections are answered\n"
           "\n"
           "Running:\n"
           "  --bind ADDRESS           listen on ADDRESS (default 127.0.0.1)\n"
           "  --log FILE               append every byte received, on any port, to FILE\n"
           "  --ready-file FILE        once listening, write the port numbers to FILE, one a line\n"
           "  --idle-exit SECONDS      exit after SECONDS without any connection\n"
           "  --help                   show this text\n";
}

}  // namespace phonesim
