#include "modem.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace phonesim {

namespace {

// A modem keeps a command line of limited length; a longer one is answered with ERROR.
constexpr std::size_t kLongestCommand = 512;
constexpr std::size_t kNoiseReplyLength = 48;

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Framed(const std::string& text) { return "\r\n" + text + "\r\n"; }

std::string Hex(std::uint32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof(digits), "%04X", static_cast<unsigned>(value));
    return digits;
}

bool ParseHexField(const std::string& field, std::uint32_t* value) {
    if (field.empty() || field.size() > 8) return false;
    if (field.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    *value = static_cast<std::uint32_t>(std::strtoul(field.c_str(), nullptr, 16));
    return true;
}

bool ParseSeconds(const std::string& field, double* seconds) {
    char* end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    if (end == field.c_str() || *end != '\0' || !std::isfinite(value) || value <= 0) return false;
    *seconds = value;
    return true;
}

}  // namespace

bool ParseRoute(const std::string& text, std::vector<RouteStop>* route, std::string* error) {
    route->clear();
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const auto comment = line.find('#');
        if (comment != std::string::npos) line.erase(comment);
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream fields(line);
        std::vector<std::string> parts;
        for (std::string part; fields >> part;) parts.push_back(part);
        if (parts.empty()) continue;
        RouteStop stop;
        if (parts.size() != 3 || !ParseSeconds(parts[0], &stop.seconds) || !ParseHexField(parts[1], &stop.lac) ||
            !ParseHexField(parts[2], &stop.ci)) {
            *error = "line " + std::to_string(number) + ": expected \"SECONDS LAC CI\" (LAC and CI in hexadecimal)";
            route->clear();
            return false;
        }
        route->push_back(stop);
    }
    if (route->empty()) {
        *error = "the route has no cell";
        return false;
    }
    return true;
}

const RouteStop& StopAt(const std::vector<RouteStop>& route, double elapsed) {
    double length = 0;
    for (const RouteStop& stop : route) length += stop.seconds;
    double position = std::fmod(std::max(elapsed, 0.0), length);
    for (const RouteStop& stop : route) {
        if (position < stop.seconds) return stop;
        position -= stop.seconds;
    }
    return route.back();
}

std::string Noise(std::size_t length, std::uint32_t* seed) {
    std::string noise;
    while (noise.size() < length) {
        *seed = *seed * 1103515245u + 12345u;
        const char byte = static_cast<char>((*seed >> 16) & 0xFF);
        if (byte == 'C' || byte == '"' || byte == '\0') continue;
        noise.push_back(byte);
    }
    return noise;
}

ModemOutput ModemSession::Receive(const char* bytes, std::size_t length, double elapsed) {
    ModemOutput output;
    if (settings_.fault == Fault::Silent) return output;
    for (std::size_t index = 0; index < length; ++index) {
        const char byte = bytes[index];
        if (echo_) output.bytes.push_back(byte);
        if (byte == '\n') continue;
        if (byte == '\b') {
            if (!line_.empty()) line_.pop_back();
            continue;
        }
        if (byte != '\r') {
            if (line_.size() <= kLongestCommand) line_.push_back(byte);
            continue;
        }
        const std::string line = line_;
        line_.clear();
        if (Trim(line).empty()) continue;
        ++commands_;
        if (commands_ == 1 && settings_.fault == Fault::Drop) {
            output.hangUp = true;
            return output;
        }
        if (commands_ == 1 && settings_.fault == Fault::Flood) {
            output.flood = true;
            return output;
        }
        output.bytes += Answer(line, elapsed);
        if (hangingUp_) {
            output.hangUp = true;
            return output;
        }
    }
    return output;
}

std::string ModemSession::Answer(const std::string& line, double elapsed) {
    std::string command = Trim(line);
    std::transform(command.begin(), command.end(), command.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (command.compare(0, 2, "AT") != 0) return {};  // a modem waits for "AT" before a command
    if (settings_.fault == Fault::Garbage) return Noise(kNoiseReplyLength, &noiseSeed_);

    const std::string ok = Framed("OK");
    const std::string failed = Framed("ERROR");
    if (command.size() > kLongestCommand) return failed;
    const std::string body = command.substr(2);
    if (body.empty()) return ok;
    if (body == "E" || body == "E0" || body == "E1") {
        echo_ = body == "E1";
        return ok;
    }
    if (body == "+CREG=?") return Framed("+CREG: (0-2)") + ok;
    if (body == "+CREG?") {
        const std::string reply = RegistrationReply(elapsed);
        return hangingUp_ ? reply : reply + ok;
    }
    if (body.size() == 7 && body.compare(0, 6, "+CREG=") == 0 && body[6] >= '0' && body[6] <= '2') {
        registrationMode_ = body[6] - '0';
        return ok;
    }
    return failed;
}

std::string ModemSession::RegistrationReply(double elapsed) {
    ++queries_;
    if (++run_->registrationQueries == settings_.hangUpAtQuery) {
        hangingUp_ = true;
        return {};
    }
    const std::string name = settings_.fault == Fault::NoCreg ? "+CGREG: " : "+CREG: ";
    const std::string mode = std::to_string(registrationMode_);
    if (settings_.unregisteredEvery > 0 && queries_ % settings_.unregisteredEvery == 0) {
        return Framed(name + mode + ",0");
    }
    if (registrationMode_ != 2) return Framed(name + mode + ",1");
    const RouteStop& stop = StopAt(settings_.route, elapsed);
    return Framed(name + "2,1,\"" + Hex(stop.lac) + "\",\"" + Hex(stop.ci) + "\"");
}

}  // namespace phonesim
