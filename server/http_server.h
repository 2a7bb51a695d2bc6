// The service on the network: HTTP/1.0 over TCP as the phones speak it, one request per connection.
#pragma once

#include "server/service.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelmora {

struct HttpLimits {
    std::size_t maxRequestBytes = 64 * 1024;                // request line, headers and body together
    std::chrono::milliseconds requestDeadline{20000};       // to receive the whole request
    std::chrono::milliseconds lingerDeadline{2000};         // to let the client read the reply and close
    int maxConnections = 512;                               // more at once are told the server is busy
};

// Receives one line (without its line end) for every request served.
using AccessLog = std::function<void(const std::string& line)>;

struct HttpServerState;

class HttpServer {
public:
    HttpServer(Service& service, HttpLimits limits, AccessLog log);
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
    ~HttpServer();

    // Binds ADDRESS:PORT (port 0 takes any free port); throws std::system_error.
    void Listen(const std::string& address, std::uint16_t port);
    std::uint16_t Port() const;
    // Serves on `threads` background threads until Stop.
    void Start(unsigned threads);
    // Stops accepting, gives the requests under way a moment to finish, and joins the threads.
    void Stop();
    // How long no connection has been open: zero while one is, otherwise the time since the last one
    // closed (or since Start when none came).
    std::chrono::steady_clock::duration IdleFor() const;

private:
    std::unique_ptr<HttpServerState> impl_;
};

}  // namespace pelmora
