// The phone's modem as the simulator plays it: the AT command dialogue of one connection, the route
// of cells the phone travels, and the faults a test can ask for.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace phonesim {

// One stop of the route: the phone stays `seconds` in the cell (`lac`, `ci`).
struct RouteStop {
    double seconds = 0;
    std::uint32_t lac = 0;
    std::uint32_t ci = 0;
};

// Reads a route: one stop a line, "SECONDS LAC CI" with LAC and CI in hexadecimal as the modem reports
// them; commas may separate the fields, "#" starts a comment, blank lines are skipped. False with a
// message naming the line when a line is not a stop or there is no stop at all.
bool ParseRoute(const std::string& text, std::vector<RouteStop>* route, std::string* error);

// The stop the phone is at `elapsed` seconds after the start; the route starts over after its last stop.
const RouteStop& StopAt(const std::vector<RouteStop>& route, double elapsed);

// How the modem misbehaves on purpose.
enum class Fault {
    None,
    Silent,   // reads everything, echoes and answers nothing
    Garbage,  // echoes, then answers every command with noise
    NoCreg,   // answers the registration query with a reply that lacks "CREG"
    Flood,    // after the first command, sends noise without end
    Drop,     // hangs up right after echoing the first command
    HangUp,   // hangs up as soon as a connection is accepted
};

struct ModemSettings {
    std::vector<RouteStop> route;  // never empty
    Fault fault = Fault::None;
    int unregisteredEvery = 0;  // every Nth registration query finds no network (0: never)
    int hangUpAtQuery = 0;      // hang up instead of answering the Nth registration query of the run (0: never)
};

// What the connections of one simulator count together.
struct ModemRun {
    std::atomic<int> registrationQueries{0};
};

// What the connection does after some bytes came in.
struct ModemOutput {
    std::string bytes;      // to send back
    bool hangUp = false;    // close the connection after sending
    bool flood = false;     // send noise until the other side goes away
};

// Noise that never holds "CREG" nor a double quote.
std::string Noise(std::size_t length, std::uint32_t* seed);

// The dialogue of one connection: echo, command lines ended by a carriage return, answers in the
// verbose form of 3GPP TS 27.007 ("\r\n" around each line).
class ModemSession {
public:
    // `run` is shared with the simulator's other connections; without one the session counts alone.
    explicit ModemSession(const ModemSettings& settings, ModemRun* run = nullptr)
        : settings_(settings), run_(run != nullptr ? run : &ownRun_) {}

    // Takes received bytes; `elapsed` is seconds since the simulator started (it picks the route stop).
    ModemOutput Receive(const char* bytes, std::size_t length, double elapsed);

private:
    std::string Answer(const std::string& line, double elapsed);
    std::string RegistrationReply(double elapsed);

    const ModemSettings& settings_;
    ModemRun ownRun_;
    ModemRun* run_;
    bool hangingUp_ = false;  // the command just read is answered by hanging up
    std::string line_;
    bool echo_ = true;
    int registrationMode_ = 0;  // +CREG=<n>: 2 adds the location area code and the cell identity
    int queries_ = 0;
    int commands_ = 0;
    std::uint32_t noiseSeed_ = 12345;
};

}  // namespace phonesim
