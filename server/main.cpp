// pelmora-server: the reference server of the Pelmora service, and its administration commands.
#include "server/admin.h"
#include "server/demo.h"
#include "server/http_server.h"
#include "server/phone_protocol.h"
#include "server/rules.h"
#include "server/store.h"
#include "server/web.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: pelmora-server [--listen ADDR:PORT] [--db PATH] [--demo [--walk-step SECONDS]] [--threads N]\n"
    "                      [--ready-file FILE] [--idle-exit SECONDS]\n"
    "       pelmora-server [--db PATH] COMMAND...\n"
    "\n"
    "Serves the Pelmora phones (HTTP/1.0) and the web site with its JSON API (/api/v1) on one address,\n"
    "and keeps the service's data in SQLite.\n"
    "\n"
    "  --listen ADDR:PORT   address to serve on (default 127.0.0.1:8080, the web address the client\n"
    "                       opens; port 0 takes a free port, printed on the first line of the output)\n"
    "  --db PATH            database file (default var/pelmora.db; created when missing)\n"
    "  --demo               seed the demo (Moscow, six people, three groups) into an empty database and\n"
    "                       walk the demo people along their routes; the demo account is\n"
    "                       demo@pelmora.ru with the password pelmora\n"
    "  --walk-step SECONDS  how often the demo people move on (default 20; 0: they stay put at the\n"
    "                       start of their routes)\n"
    "  --threads N          connection threads (default 2)\n"
    "  --ready-file FILE    once listening, write the port number to FILE\n"
    "  --idle-exit SECONDS  stop when no connection has been open for SECONDS (for a server that a\n"
    "                       test or script starts and cannot signal)\n"
    "  --help               this text\n"
    "\n"
    "Commands:\n"
    "  user add EMAIL PASSWORD NAME     create an account\n"
    "  user password EMAIL PASSWORD     set a new password (its sessions end)\n"
    "  user disable EMAIL               stop an account from logging in (its sessions end)\n"
    "  user enable EMAIL                let it log in again\n"
    "  user delete EMAIL                remove an account with its place and marks; groups it owned\n"
    "                                   pass to the member who joined first after it\n"
    "  user list                        list the accounts and their groups, \"(owner)\" after those\n"
    "                                   they run\n"
    "  group list                       list the groups: id, title, owner, members\n"
    "  group add TITLE [OWNER_EMAIL]    create a group (without an owner only the administrator runs it)\n"
    "  group rename GROUP TITLE         give a group another title\n"
    "  group owner GROUP EMAIL          hand a group to a user (who becomes a member)\n"
    "  group remove GROUP               delete a group\n"
    "  group member GROUP EMAIL         put a user into a group\n"
    "  group member remove GROUP EMAIL  take a user out of a group\n"
    "                                   (GROUP: the group's id, or its title when no other group has it)\n"
    "  cell import FILE.csv             add or update cells (mnc, lac, cid, lat, lon, address)\n"
    "  setting list                     show the service settings\n"
    "  setting set KEY VALUE            change one: report_interval, methods (e.g. 1,2,3),\n"
    "                                   token_lifetime, update_url, host, suspended (0/1),\n"
    "                                   min_client_version, registration (open, invite, closed),\n"
    "                                   map_tiles (a tile address with {z}, {x}, {y}),\n"
    "                                   site_address (the web site's address in links it hands out)\n";

struct Options {
    std::string address = "127.0.0.1";
    unsigned port = 8080;
    std::string db = "var/pelmora.db";
    bool demo = false;
    unsigned walkSeconds = 20;
    unsigned threads = 2;
    std::string readyFile;
    unsigned idleExitSeconds = 0;  // 0: serve until a signal
    std::vector<std::string> command;
};

[[noreturn]] void Refuse(const std::string& message) {
    std::cerr << "pelmora-server: " << message << "\n" << "Try pelmora-server --help.\n";
    std::exit(2);
}

unsigned Count(const std::string& text, const char* option, unsigned low, unsigned high) {
    std::optional<std::int64_t> value = pelmora::ParseInteger(text);
    if (!value || *value < low || *value > high) {
        Refuse(std::string(option) + " needs a number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return static_cast<unsigned>(*value);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Refuse(word + " needs a value");
            return argv[++i];
        };
        if (word == "--help" || word == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (word == "--listen") {
            std::string listen = value();
            std::size_t colon = listen.rfind(':');
            if (colon == std::string::npos || colon == 0) Refuse("--listen needs ADDR:PORT");
            options.address = listen.substr(0, colon);
            if (options.address.size() > 2 && options.address.front() == '[' && options.address.back() == ']') {
                options.address = options.address.substr(1, options.address.size() - 2);
            }
            options.port = Count(listen.substr(colon + 1), "--listen", 0, 65535);
        } else if (word == "--db") {
            options.db = value();
        } else if (word == "--demo") {
            options.demo = true;
        } else if (word == "--walk-step") {
            options.walkSeconds = Count(value(), "--walk-step", 0, 86400);
        } else if (word == "--ready-file") {
            options.readyFile = value();
        } else if (word == "--idle-exit") {
            options.idleExitSeconds = Count(value(), "--idle-exit", 1, 86400);
        } else if (word == "--threads") {
            options.threads = Count(value(), "--threads", 1, 64);
        } else if (pelmora::IsAdminCommand(word)) {
            options.command.assign(argv + i, argv + argc);
            break;
        } else {
            Refuse("unknown option or command " + word);
        }
    }
    return options;
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

int Serve(pelmora::Store& store, pelmora::Rules& rules, const Options& options) {
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

    pelmora::DemoWalker walker(store, pelmora::SystemClock);
    // People who stay put still stand somewhere: without a report they would have no place at all.
    // They take their places before the first phone can ask where they are.
    if (options.demo && options.walkSeconds == 0) walker.Step();

    std::mutex logMutex;
    pelmora::PhoneProtocol phone(rules);
    pelmora::WebSite web(rules, PELMORA_LEAFLET_DIR);
    pelmora::HttpServer server(phone, web, pelmora::HttpLimits(), [&logMutex](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        std::fprintf(stderr, "%s\n", line.c_str());
    });
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

    WaitForStop(signals, server, options.idleExitSeconds);
    std::cout << "pelmora-server: stopping" << std::endl;
    walker.Stop();
    server.Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    try {
        std::filesystem::path parent = std::filesystem::path(options.db).parent_path();
        if (!parent.empty()) std::filesystem::create_directories(parent);
        pelmora::Store store(options.db);
        pelmora::Rules rules(store, pelmora::SystemClock);
        if (!options.command.empty()) {
            pelmora::RunAdminCommand(rules, options.command, std::cout);
            return 0;
        }
        return Serve(store, rules, options);
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
