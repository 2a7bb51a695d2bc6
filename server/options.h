// What pelmora-server is told to do: the command line, and the configuration file it names with
// --config FILE, in which every option of the command line may be set as "name = value" (the
// option's name without its dashes). The command line wins over the file.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace pelmora {

// A command line or configuration file that cannot be followed; the message says where and why.
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ServerOptions {
    std::string address = "127.0.0.1";
    unsigned port = 8080;
    std::string db = "var/pelmora.db";
    bool demo = false;
    unsigned walkSeconds = 20;
    unsigned threads = 2;
    unsigned handlerThreads = 4;
    unsigned passwordThreads = 0;  // 0: one per processor
    unsigned dbConnections = 0;  // 0: enough for every handler thread
    std::string readyFile;
    unsigned idleExitSeconds = 0;  // 0: serve until a signal
    std::vector<std::string> trustedProxies;
    std::vector<std::string> command;  // an administration command and its words
    bool help = false;
};

// Parses the words after the program's name; reads the configuration file when one is named.
ServerOptions ParseOptions(const std::vector<std::string>& words);

// The options in a configuration file's text; `name` is what error messages call it.
void ApplyConfiguration(ServerOptions& options, const std::string& text, const std::string& name);

extern const char* const kUsage;

}  // namespace pelmora
