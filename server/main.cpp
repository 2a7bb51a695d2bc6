// pelmora-server: the reference server of the Pelmora service, and its administration commands.
#include "server/admin.h"
#include "server/demo.h"
#include "server/geocoder.h"
#include "server/http_server.h"
#include "server/monitoring.h"
#include "server/options.h"
#include "server/phone_protocol.h"
#include "server/rules.h"
#include "server/store.h"
#include "server/web.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

[[noreturn]] void Refuse(const std::string& message) {
    std::cerr << "pelmora-server: " << message << "\n" << "Try pelmora-server --help.\n";
    std::exit(2);
}

// One access log line in one write to standard error: no lock is held while it is written, and
// lines of different threads never mix.
void WriteLogLine(const std::string& line) {
    std::string text = line + "\n";
    const char* rest = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(STDERR_FILENO, rest, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        rest += written;
        left -= static_cast<std::size_t>(written);
    }
}

unsigned PasswordThreads(const pelmora::ServerOptions& options) {
    if (options.passwordThreads) return options.passwordThreads;
    return std::max(1u, std::thread::hardware_concurrency());
}

// Waits for SIGINT or SIGTERM (blocked in `signals`) or, with an idle limit, until no connection has
// been open for that long.
void WaitForStop(const sigset_t& signals, const pelmora::HttpServer& server, unsigned idleExitSeconds) {
    int signal = 0;
    if (idleExitSeconds == 0) {
        sigwait(&signals, &signal);
        return;
    }
    const std::chrono::steady_clock::duration limit = std::chrono::seconds(idleExitSeconds);
    const std::chrono::steady_clock::duration shortest = std::chrono::milliseconds(100);
    for (std::chrono::steady_clock::duration idle = server.IdleFor(); idle < limit; idle = server.IdleFor()) {
        // Sleeps until the limit would be reached if nothing connects meanwhile.
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(limit - idle, shortest));
        timespec pause{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
        if (sigtimedwait(&signals, nullptr, &pause) > 0) return;
    }
}

int Serve(pelmora::Store& store, pelmora::Rules& rules, const pelmora::ServerOptions& options) {
    // The signals are taken by sigwait below, not by whichever thread they happen to hit.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (options.demo && pelmora::SeedDemo(rules)) {
        std::cout << "pelmora-server: demo data seeded; log in as " << pelmora::kDemoEmail << " with the password "
                  << pelmora::kDemoPassword << std::endl;
    }

    pelmora::DemoWalker walker(store, pelmora::SystemClock, [](bool walking) {
        std::cout << (walking ? "pelmora-server: the demo people walk on this server"
                              : "pelmora-server: the demo walk is no longer this server's")
                  << std::endl;
    });
    // People who stay put still stand somewhere: without a report they would have no place at all.
    // They take their places before the first phone can ask where they are.
    if (options.demo && options.walkSeconds == 0) walker.Step();

    pelmora::PhoneProtocol phone(rules);
    pelmora::WebSite web(rules, PELMORA_LEAFLET_DIR);
    pelmora::Monitoring monitoring(store, pelmora::SystemClock);
    pelmora::HttpLimits limits;
    limits.handlerThreads = options.handlerThreads;
    limits.passwordThreads = PasswordThreads(options);
    pelmora::HttpServer server(phone, web, monitoring, limits, WriteLogLine,
                               pelmora::TrustedProxies{options.trustedProxies});
    try {
        server.Listen(options.address, static_cast<std::uint16_t>(options.port));
    } catch (const std::exception& error) {
        std::cerr << "pelmora-server: cannot listen on " << options.address << ":" << options.port << ": "
                  << error.what() << "\n";
        return 1;
    }
    server.Start(options.threads);
    if (!options.readyFile.empty()) {
        // Written whole under another name first, so that a reader never sees a partial number.
        std::string partial = options.readyFile + ".partial";
        std::ofstream(partial) << server.Port() << "\n";
        std::filesystem::rename(partial, options.readyFile);
    }
    std::string host = options.address.find(':') != std::string::npos ? "[" + options.address + "]" : options.address;
    if (options.address == "0.0.0.0" || options.address == "::") host = "localhost";
    std::cout << "pelmora-server: listening on " << options.address << ":" << server.Port() << ", web site http://"
              << host << ":" << server.Port() << "/" << std::endl;

    if (options.demo && options.walkSeconds > 0) walker.Start(std::chrono::seconds(options.walkSeconds));
    // Addresses for the cells reports meet without one, asked of the geocoder in the background; what
    // the reports noted about cells goes to the database every two seconds.
    pelmora::GeocoderWorker geocoder(store, pelmora::SystemClock, WriteLogLine);
    geocoder.Start();
    rules.sightings.Start(std::chrono::seconds(2), [&geocoder] { geocoder.Wake(); });

    WaitForStop(signals, server, options.idleExitSeconds);
    std::cout << "pelmora-server: stopping" << std::endl;
    walker.Stop();
    server.Stop();
    rules.sightings.Stop();
    geocoder.Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Every request frees what it allocated, and the next one allocates it again: memory handed back to
    // the system after each one (the allocator's default above 128 KiB free) comes back as page faults.
    // Up to 8 MiB free stay with each of the allocator's arenas, blocks under 4 MiB come from them.
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    pelmora::ServerOptions options;
    try {
        options = pelmora::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const pelmora::OptionError& error) {
        Refuse(error.what());
    }
    if (options.help) {
        std::cout << pelmora::kUsage;
        return 0;
    }
    try {
        if (!pelmora::IsPostgresTarget(options.db)) {
            std::string path = options.db.rfind("sqlite:", 0) == 0 ? options.db.substr(7) : options.db;
            std::filesystem::path parent = std::filesystem::path(path).parent_path();
            if (!parent.empty()) std::filesystem::create_directories(parent);
        }
        pelmora::StoreOptions storeOptions;
        // Every handler thread of the three pools, the demo walker and the administration's own use.
        storeOptions.connections =
            options.dbConnections ? options.dbConnections : 2 * options.handlerThreads + PasswordThreads(options) + 2;
        std::unique_ptr<pelmora::Store> store = pelmora::OpenStore(options.db, storeOptions);
        pelmora::Rules rules(*store, pelmora::SystemClock);
        if (!options.command.empty()) {
            pelmora::RunAdminCommand(rules, options.command, std::cout,
                                     pelmora::ProgressLine{&std::cerr, isatty(STDERR_FILENO) != 0});
            return 0;
        }
        return Serve(*store, rules, options);
    } catch (const pelmora::StoreError& error) {
        std::cerr << "pelmora-server: " << error.what() << "\n";
        return 1;
    } catch (const pelmora::Refusal& refusal) {
        std::cerr << "pelmora-server: " << refusal.what() << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "pelmora-server: " << error.what() << "\n";
        return 1;
    }
}
