// pelmora-phonesim: the phone's modem on TCP ports, for the desktop build of Pelmora and its tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "modem.h"
#include "options.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAcceptPollMs = 100;
constexpr std::size_t kFloodChunk = 256;

// What the connections share: the start of the route, the byte log, and when the last one ended.
class Simulator {
public:
    explicit Simulator(const phonesim::Options& options) : options_(options), start_(Clock::now()) {
        if (!options_.logFile.empty()) log_.open(options_.logFile, std::ios::binary | std::ios::app);
    }

    bool LogOpen() const { return options_.logFile.empty() || log_.is_open(); }

    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    void Log(const char* bytes, std::size_t length) {
        if (!log_.is_open()) return;
        std::lock_guard<std::mutex> lock(logLock_);
        log_.write(bytes, static_cast<std::streamsize>(length));
        log_.flush();
    }

    void Serve(int connection) {
        Connected();
        phonesim::ModemSession session(options_.modem, &run_);
        if (options_.modem.fault != phonesim::Fault::HangUp) Converse(connection, session);
        close(connection);
        Disconnected();
    }

    bool IdleTooLong() const {
        if (options_.idleExitSeconds <= 0 || connections_ > 0) return false;
        std::lock_guard<std::mutex> lock(activityLock_);
        return std::chrono::duration<double>(Clock::now() - lastActivity_).count() > options_.idleExitSeconds;
    }

private:
    static bool SendAll(int connection, const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t written = send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (written <= 0) return false;
            sent += static_cast<std::size_t>(written);
        }
        return true;
    }

    void Converse(int connection, phonesim::ModemSession& session) {
        char buffer[1024];
        for (;;) {
            const ssize_t received = recv(connection, buffer, sizeof(buffer), 0);
            if (received <= 0) return;
            Log(buffer, static_cast<std::size_t>(received));
            const phonesim::ModemOutput output = session.Receive(buffer, static_cast<std::size_t>(received), Elapsed());
            if (!SendAll(connection, output.bytes) || output.hangUp) return;
            if (output.flood) {
                std::uint32_t seed = 1;
                while (SendAll(connection, phonesim::Noise(kFloodChunk, &seed))) {
                }
                return;
            }
        }
    }

    void Connected() {
        ++connections_;
        Touch();
    }

    void Disconnected() {
        Touch();
        --connections_;
    }

    void Touch() {
        std::lock_guard<std::mutex> lock(activityLock_);
        lastActivity_ = Clock::now();
    }

    const phonesim::Options& options_;
    phonesim::ModemRun run_;
    const Clock::time_point start_;
    std::ofstream log_;
    std::mutex logLock_;
    std::atomic<int> connections_{0};
    mutable std::mutex activityLock_;
    Clock::time_point lastActivity_ = Clock::now();
};

int Listen(const std::string& address, unsigned short port, unsigned short* bound) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr) != 1) return -1;
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) return -1;
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    socklen_t length = sizeof(endpoint);
    if (bind(listener, reinterpret_cast<sockaddr*>(&endpoint), sizeof(endpoint)) != 0 || listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&endpoint), &length) != 0) {
        close(listener);
        return -1;
    }
    *bound = ntohs(endpoint.sin_port);
    return listener;
}

// The file appears whole or not at all, so a reader never sees half a list.
bool WriteReadyFile(const std::string& path, const std::vector<unsigned short>& ports) {
    const std::string partial = path + ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        for (unsigned short port : ports) file << port << "\n";
        if (!file) return false;
    }
    return std::rename(partial.c_str(), path.c_str()) == 0;
}

bool LoadRoute(const std::string& path, std::vector<phonesim::RouteStop>* route, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read the route file " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!phonesim::ParseRoute(text.str(), route, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    phonesim::Options options;
    std::string error;
    if (!phonesim::ParseOptions(arguments, &options, &error)) {
        std::cerr << "pelmora-phonesim: " << error << "\n\n" << phonesim::Usage();
        return 2;
    }
    if (options.help) {
        std::cout << phonesim::Usage();
        return 0;
    }
    if (!options.routeFile.empty() && !LoadRoute(options.routeFile, &options.modem.route, &error)) {
        std::cerr << "pelmora-phonesim: " << error << "\n";
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    Simulator simulator(options);
    if (!simulator.LogOpen()) {
        std::cerr << "pelmora-phonesim: cannot write the log " << options.logFile << "\n";
        return 1;
    }
    std::vector<pollfd> listeners;
    std::vector<unsigned short> bound;
    for (unsigned short port : options.ports) {
        unsigned short actual = 0;
        const int listener = Listen(options.bindAddress, port, &actual);
        if (listener < 0) {
            std::cerr << "pelmora-phonesim: cannot listen on " << options.bindAddress << ":" << port << "\n";
            return 1;
        }
        listeners.push_back({listener, POLLIN, 0});
        bound.push_back(actual);
        std::cout << "pelmora-phonesim: modem on " << options.bindAddress << ":" << actual << std::endl;
    }
    if (!options.readyFile.empty() && !WriteReadyFile(options.readyFile, bound)) {
        std::cerr << "pelmora-phonesim: cannot write " << options.readyFile << "\n";
        return 1;
    }

    for (;;) {
        const int ready = poll(listeners.data(), listeners.size(), kAcceptPollMs);
        if (ready < 0 && errno != EINTR) return 1;
        for (pollfd& listener : listeners) {
            if ((listener.revents & POLLIN) == 0) continue;
            const int connection = accept(listener.fd, nullptr, nullptr);
            if (connection < 0) continue;
            const int yes = 1;
            setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
            std::thread([&simulator, connection] { simulator.Serve(connection); }).detach();
        }
        if (simulator.IdleTooLong()) return 0;
    }
}
