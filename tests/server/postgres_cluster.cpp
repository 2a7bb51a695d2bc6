#include "postgres_cluster.h"

#include "server/passwords.h"
#include "server/store.h"
#include "server/text.h"

#include <gtest/gtest.h>
#include <pqxx/pqxx>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

extern char** environ;

namespace pelmora::testing {

namespace {

const char* const kSuperuser = "pelmora";
const char* const kTemplate = "pelmora_template";

// A loopback port nobody listens on right now.
std::uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// Starts `arguments` (the program first) with its output appended to `log`, in `folder`; prefixed
// with setpriv as nobody when running as root. The child gets `deathSignal` when this process dies.
pid_t Spawn(std::vector<std::string> arguments, const std::string& folder, const std::string& log,
            const char* deathSignal) {
    if (geteuid() == 0) {
        passwd* nobody = getpwnam("nobody");
        std::vector<std::string> prefix = {"/usr/bin/setpriv",
                                           "--reuid=" + std::to_string(nobody->pw_uid),
                                           "--regid=" + std::to_string(nobody->pw_gid),
                                           "--clear-groups",
                                           std::string("--pdeathsig=") + deathSignal};
        arguments.insert(arguments.begin(), prefix.begin(), prefix.end());
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t child = 0;
    int result = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(result);
        return 0;
    }
    return child;
}

// Hands the file to nobody when running as root, so that the cluster's user may use it.
void GiveAway(const std::string& path) {
    if (geteuid() != 0) return;
    passwd* nobody = getpwnam("nobody");
    EXPECT_EQ(chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0) << path << ": " << std::strerror(errno);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

PostgresCluster& PostgresCluster::Get() {
    static PostgresCluster cluster;
    return cluster;
}

PostgresCluster::PostgresCluster() {
    char pattern[] = "/tmp/pelmora-postgres-XXXXXX";
    char* made = mkdtemp(pattern);
    if (!made) {
        ADD_FAILURE() << "cannot make a folder for the cluster: " << std::strerror(errno);
        return;
    }
    folder_ = made;
    chmod(folder_.c_str(), 0700);
    GiveAway(folder_);
    password_ = RandomHex(12);
    std::ofstream(folder_ + "/password") << password_ << "\n";
    GiveAway(folder_ + "/password");
    int status = RunProgram("initdb", {"-D", folder_ + "/data", "-U", kSuperuser, "--pwfile=" + folder_ + "/password",
                                       "--auth=scram-sha-256", "--encoding=UTF8", "--locale=C", "--no-sync"});
    if (status != 0) {
        ADD_FAILURE() << "initdb failed:\n" << ReadFile(folder_ + "/log");
        return;
    }
    Start();
    Execute(std::string("CREATE DATABASE ") + kTemplate);
    // The template carries the schema: each test's database is a copy of it.
    try {
        OpenStore(Uri(kTemplate));
    } catch (const std::exception& error) {
        ADD_FAILURE() << "cannot create the schema: " << error.what();
    }
}

PostgresCluster::~PostgresCluster() {
    Stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

int PostgresCluster::RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {std::string(PELMORA_POSTGRES_BIN_DIR) + "/" + program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    pid_t child = Spawn(words, folder_, folder_ + "/log", "KILL");
    int status = 0;
    if (child == 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void PostgresCluster::Start() {
    if (server_ != 0 || folder_.empty()) return;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (port_ == 0 || attempt > 0) port_ = FreePort();
        // Durability is of no use to a cluster that ends with the tests.
        server_ = Spawn({std::string(PELMORA_POSTGRES_BIN_DIR) + "/postgres", "-D", folder_ + "/data", "-p",
                         std::to_string(port_), "-c", "listen_addresses=127.0.0.1", "-c", "unix_socket_directories=",
                         "-c", "fsync=off", "-c", "synchronous_commit=off", "-c", "full_page_writes=off", "-c",
                         "max_connections=300", "-c", "shared_buffers=32MB"},
                        folder_, folder_ + "/log", "KILL");
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (server_ != 0 && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(server_, &status, WNOHANG) == server_) {
                server_ = 0;
                break;
            }
            try {
                pqxx::connection probe(Uri("postgres"));
                return;
            } catch (const std::exception&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        if (server_ != 0) {
            kill(server_, SIGKILL);
            waitpid(server_, nullptr, 0);
            server_ = 0;
        }
    }
    ADD_FAILURE() << "the PostgreSQL server did not start:\n" << ReadFile(folder_ + "/log");
}

void PostgresCluster::Stop() {
    if (server_ == 0) return;
    // Fast shutdown: sessions are ended, the server waits for nobody.
    kill(server_, SIGINT);
    int status = 0;
    waitpid(server_, &status, 0);
    server_ = 0;
}

std::string PostgresCluster::Uri(const std::string& database) const {
    return std::string("postgresql://") + kSuperuser + ":" + password_ + "@127.0.0.1:" + std::to_string(port_) + "/" +
           database;
}

void PostgresCluster::Execute(const std::string& sql) {
    try {
        pqxx::connection connection(Uri("postgres"));
        pqxx::nontransaction work(connection);
        work.exec(sql);
    } catch (const std::exception& error) {
        ADD_FAILURE() << sql << ": " << error.what();
    }
}

std::string PostgresCluster::CreateDatabase() {
    std::string name = "test_" + std::to_string(++databases_);
    Execute("CREATE DATABASE " + name + " TEMPLATE " + kTemplate);
    return Uri(name);
}

std::string PostgresCluster::CreateEmptyDatabase() {
    std::string name = "test_" + std::to_string(++databases_);
    Execute("CREATE DATABASE " + name);
    return Uri(name);
}

void PostgresCluster::DropDatabase(const std::string& uri) {
    Execute("DROP DATABASE IF EXISTS " + uri.substr(uri.rfind('/') + 1) + " WITH (FORCE)");
}

}  // namespace pelmora::testing
