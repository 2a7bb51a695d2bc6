// The service on the network, one listener for all: the phones' HTTP/1.0, one request per
// connection, and the web's HTTP/1.1 with keep-alive. A POST whose Host names a phone request kind
// (or whose request line has the phone's absolute form) is the phone protocol; anything else goes
// to the web site. The handlers run on pools of their own, off the threads that move the bytes: one
// for requests that only read ("ineed", the web's GET, /healthz, /metrics), one for the phones' writes,
// so that readers never queue behind writers waiting for the database, and one for the requests that
// check or hash a password (the handshake, the web's forms), whose tens of milliseconds of Argon2id
// never keep a report or a group list waiting for a thread.
#pragma once

#include "server/monitoring.h"
#include "server/phone_protocol.h"
#include "server/web.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelmora {

struct HttpLimits {
    std::size_t maxRequestBytes = 64 * 1024;                // request line, headers and body together
    std::chrono::milliseconds requestDeadline{20000};       // to receive the whole request
    std::chrono::milliseconds lingerDeadline{2000};         // to let the client read the reply and close
    int maxConnections = 512;                               // more at once are told the server is busy
    unsigned handlerThreads = 4;                            // the readers' pool and the writers' each
    unsigned passwordThreads = 2;                           // the pool of password checks
    int maxRequestsPerConnection = 100;                     // of a browser's kept-alive connection
};

// Proxies (nginx) whose X-Real-IP or X-Forwarded-For header names the client; the header of
// anybody else is ignored, so nobody can choose the address their failed log-ins are counted for.
struct TrustedProxies {
    std::vector<std::string> addresses;
    // The client of a request from `peer` with these headers: the proxy's word for it when the peer
    // is trusted and the word is an address, otherwise the peer.
    std::string ClientOf(const std::string& peer, const std::string& realIp, const std::string& forwardedFor) const;
};

// Receives one line (without its line end) for every request served.
using AccessLog = std::function<void(const std::string& line)>;

struct HttpServerState;

class HttpServer {
public:
    HttpServer(PhoneProtocol& phone, WebSite& web, Monitoring& monitoring, HttpLimits limits, AccessLog log,
               TrustedProxies proxies = TrustedProxies());
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
    ~HttpServer();

    // Binds ADDRESS:PORT (port 0 takes any free port); throws std::system_error.
    void Listen(const std::string& address, std::uint16_t port);
    std::uint16_t Port() const;
    // Serves on `threads` background threads (and the handler pool) until Stop.
    void Start(unsigned threads);
    // Stops accepting, gives the requests under way a moment to finish, and joins the threads.
    void Stop();
    // How long no connection has been open: zero while one is, otherwise the time since the last one
    // closed (or since Start when none came).
    std::chrono::steady_clock::duration IdleFor() const;
    int OpenConnections() const;

private:
    std::unique_ptr<HttpServerState> impl_;
};

}  // namespace pelmora
