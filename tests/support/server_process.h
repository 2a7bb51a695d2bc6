// The reference server for tests: pelmora-server (the native Linux build, which Wine runs beside the
// test) with the demo seeded into a fresh database of its own, on a free loopback port.
#pragma once

#include <string>
#include <vector>

class DemoServer {
public:
    DemoServer();
    // Removes the server's folder. The server itself ends a few seconds after its last connection.
    ~DemoServer();
    DemoServer(const DemoServer&) = delete;
    DemoServer& operator=(const DemoServer&) = delete;

    // Starts the server with the demo people standing still; false when it did not come up.
    bool Start();
    unsigned short Port() const { return port_; }
    // The requests served so far, one "KIND USER RESULT" a request in the order they were answered
    // ("hand demo@pelmora.ru ok", "ineed - error 401"): the access log without times and peers.
    std::vector<std::string> Requests() const;
    // The access log as the server wrote it.
    std::string AccessLog() const;

private:
    std::string folder_;  // as Linux names it
    unsigned short port_ = 0;
};
