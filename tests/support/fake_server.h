// A scripted HTTP server on the loopback interface for tests of everything that talks to the service.
//
// The server listens on 127.0.0.1 on a port the system picks, on a thread of its own inside the test
// program. It takes one connection at a time, in the order they arrive. For each connection it reads
// the whole request (headers, the body of Content-Length bytes and the line end after it, plus any
// bytes that follow at once), records those bytes exactly as received, and answers with the next reply
// of its script. A connection that arrives when the script is empty is recorded and closed unanswered.
//
// Typical use:
//
//     pelmora_test::FakeServer server;
//     server.Push(pelmora_test::XmlReply("<config><status>0</status></config>"));
//     context.transport->serverAddress.sin_port = htons(server.Port());   // or server.ExportPort() before StartNetwork
//     ... run the request under test ...
//     ASSERT_EQ(1u, server.RequestCount());
//     EXPECT_EQ(expectedBytes, server.Requests()[0]);
//
// A refused connection needs no server at all: connect to FakeServer::UnusedPort().
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelmora_test {

// What the server does with the connection once the reply bytes (if any) have been sent.
enum class FakeEnding {
    Close,    // close it: the end of an HTTP/1.0 reply
    Silence,  // keep it open without sending anything more, until the client closes it or the server stops
    Drop,     // close it without sending the reply bytes at all
    Reset,    // abort it (the client sees a reset) without sending the reply bytes
};

// One answer of the script.
struct FakeReply {
    std::string bytes;              // sent exactly as they are: status line, headers, blank line, body
    std::size_t chunkSize = 0;      // 0: all bytes in one send; otherwise sends of at most this many bytes
    unsigned chunkPauseMs = 0;      // pause between two chunks
    unsigned delayMs = 0;           // wait between the arrival of the request and the first byte sent
    FakeEnding ending = FakeEnding::Close;
};

// A reply made of a status line (without its line end), a Content-Type header (left out when
// `contentType` is empty), the blank line and the body.
FakeReply HttpReply(const std::string& statusLine, const std::string& contentType, const std::string& body);

// "HTTP/1.0 200 OK", "Content-Type: text/xml; charset=utf-8" and an XML declaration followed by `elements`.
FakeReply XmlReply(const std::string& elements);

// Prefixes `elements` with the XML declaration the service puts before every document.
std::string XmlDocument(const std::string& elements);

// A connection that is accepted, read and then never answered nor closed.
FakeReply SilentReply();

// A connection that is accepted, read and closed without any reply.
FakeReply DroppedConnection();

class FakeServer {
public:
    // Starts listening; a test fails with an exception when no loopback port can be had.
    FakeServer();
    // Stops the thread and closes every connection, the silent ones included.
    ~FakeServer();

    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    unsigned short Port() const { return port_; }

    // Appends a reply to the script; each accepted connection takes the first reply left.
    void Push(FakeReply reply);
    // Answers every request from now on with what `answer` makes of its bytes, instead of the script:
    // for a program that makes its requests in an order of its own. `answer` runs on the server's thread
    // with the server locked: it must not call the server.
    void AnswerWith(std::function<FakeReply(const std::string& request)> answer);

    // The raw bytes of every request received so far, in order of arrival.
    std::vector<std::string> Requests() const;
    std::size_t RequestCount() const;
    // Waits until at least `count` requests were received; false when `timeoutMs` passed first.
    bool WaitForRequests(std::size_t count, unsigned timeoutMs) const;

    // Sets the process's environment variable PELMORA_SERVICE_PORT to this server's port, so that the
    // next StartNetwork directs requests here.
    void ExportPort() const;

    // A loopback port that nobody listens on: connecting to it is refused.
    static unsigned short UnusedPort();

private:
    void Run();
    void Serve(SOCKET connection);
    std::string ReadRequest(SOCKET connection);
    bool Pause(unsigned milliseconds);
    void HoldUntilClosed(SOCKET connection);

    WSADATA socketData_ = {};
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    HANDLE stopEvent_ = nullptr;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::deque<FakeReply> script_;
    std::function<FakeReply(const std::string&)> answer_;
    std::vector<std::string> requests_;

    std::thread thread_;
};

}  // namespace pelmora_test
