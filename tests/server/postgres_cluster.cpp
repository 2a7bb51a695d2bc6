#include "postgres_cluster.h"

#include "processes.h"

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
    pid_t child = Spawn(words, folder_, folder_ + "/log", true);
    return child == 0 ? -1 : WaitFor(child);
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
                        folder_, folder_ + "/log", true);
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
