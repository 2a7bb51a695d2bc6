#include "tests/support/fake_server.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace pelmora_test {

namespace {

constexpr unsigned kPollMs = 50;
// Bytes that follow the complete request this closely are still taken as part of it, so that a
// client writing more than it announced is caught by the byte comparison.
constexpr unsigned kTrailingBytesMs = 30;
// A request whose headers never end is recorded as it stands after this much silence.
constexpr DWORD kIncompleteRequestMs = 2000;

bool WaitReadable(SOCKET socket, unsigned milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval timeout = {static_cast<long>(milliseconds / 1000), static_cast<long>((milliseconds % 1000) * 1000)};
    return select(0, &readable, nullptr, nullptr, &timeout) == 1;
}

// The number in the Content-Length header among the headers that end at `headerEnd`; 0 without one.
std::size_t ContentLength(const std::string& request, std::size_t headerEnd) {
    static const char kName[] = "\r\ncontent-length:";
    const std::size_t nameLength = sizeof(kName) - 1;
    for (std::size_t at = 0; at + nameLength <= headerEnd; ++at) {
        if (_strnicmp(request.c_str() + at, kName, nameLength) == 0) {
            return static_cast<std::size_t>(std::strtoul(request.c_str() + at + nameLength, nullptr, 10));
        }
    }
    return 0;
}

}  // namespace

FakeReply HttpReply(const std::string& statusLine, const std::string& contentType, const std::string& body) {
    FakeReply reply;
    reply.bytes = statusLine + "\r\n";
    if (!contentType.empty()) reply.bytes += "Content-Type: " + contentType + "\r\n";
    reply.bytes += "\r\n" + body;
    return reply;
}

std::string XmlDocument(const std::string& elements) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + elements;
}

FakeReply XmlReply(const std::string& elements) {
    return HttpReply("HTTP/1.0 200 OK", "text/xml; charset=utf-8", XmlDocument(elements));
}

FakeReply SilentReply() {
    FakeReply reply;
    reply.ending = FakeEnding::Silence;
    return reply;
}

FakeReply DroppedConnection() {
    FakeReply reply;
    reply.ending = FakeEnding::Drop;
    return reply;
}

FakeServer::FakeServer() {
    if (WSAStartup(MAKEWORD(2, 2), &socketData_) != 0) throw std::runtime_error("fake server: no socket library");
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (stopEvent_ == nullptr || listener_ == INVALID_SOCKET ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_, SOMAXCONN) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener_ != INVALID_SOCKET) closesocket(listener_);
        if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
        WSACleanup();
        throw std::runtime_error("fake server: cannot listen on the loopback interface");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

FakeServer::~FakeServer() {
    stopping_ = true;
    SetEvent(stopEvent_);
    thread_.join();
    closesocket(listener_);
    CloseHandle(stopEvent_);
    WSACleanup();
}

void FakeServer::Push(FakeReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(std::move(reply));
}

void FakeServer::AnswerWith(std::function<FakeReply(const std::string& request)> answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(answer);
}

std::vector<std::string> FakeServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::size_t FakeServer::RequestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool FakeServer::WaitForRequests(std::size_t count, unsigned timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
}

void FakeServer::ExportPort() const {
    SetEnvironmentVariableA("PELMORA_SERVICE_PORT", std::to_string(port_).c_str());
}

unsigned short FakeServer::UnusedPort() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    unsigned short port = 0;
    if (probe != INVALID_SOCKET && bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (probe != INVALID_SOCKET) closesocket(probe);
    WSACleanup();
    return port;
}

void FakeServer::Run() {
    while (!stopping_) {
        if (!WaitReadable(listener_, kPollMs)) continue;
        SOCKET connection = accept(listener_, nullptr, nullptr);
        if (connection == INVALID_SOCKET) continue;
        Serve(connection);
    }
}

void FakeServer::Serve(SOCKET connection) {
    std::string request = ReadRequest(connection);
    FakeReply reply;
    bool scripted = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (answer_) {
            reply = answer_(request);
            scripted = true;
        }
        requests_.push_back(std::move(request));
        if (!scripted && !script_.empty()) {
            reply = std::move(script_.front());
            script_.pop_front();
            scripted = true;
        }
    }
    arrived_.notify_all();
    if (!scripted) reply.ending = FakeEnding::Drop;

    if (reply.ending == FakeEnding::Reset) {
        linger abort = {1, 0};
        setsockopt(connection, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
    }
    if (reply.ending != FakeEnding::Drop && reply.ending != FakeEnding::Reset && Pause(reply.delayMs)) {
        const std::size_t chunk = reply.chunkSize == 0 ? reply.bytes.size() : reply.chunkSize;
        for (std::size_t sent = 0; sent < reply.bytes.size();) {
            if (sent != 0 && !Pause(reply.chunkPauseMs)) break;
            const int length = static_cast<int>(std::min(chunk, reply.bytes.size() - sent));
            const int written = send(connection, reply.bytes.data() + sent, length, 0);
            if (written <= 0) break;
            sent += static_cast<std::size_t>(written);
        }
        if (reply.ending == FakeEnding::Silence) HoldUntilClosed(connection);
    }
    closesocket(connection);
}

std::string FakeServer::ReadRequest(SOCKET connection) {
    std::string request;
    std::size_t complete = std::string::npos;  // the request's full length, once its headers are known
    DWORD lastArrival = GetTickCount();
    char buffer[4096];
    while (!stopping_) {
        if (complete != std::string::npos && request.size() >= complete) {
            if (!WaitReadable(connection, kTrailingBytesMs)) break;
        } else if (!WaitReadable(connection, kPollMs)) {
            if (GetTickCount() - lastArrival > kIncompleteRequestMs) break;
            continue;
        }
        const int received = recv(connection, buffer, sizeof(buffer), 0);
        if (received <= 0) break;
        request.append(buffer, static_cast<std::size_t>(received));
        lastArrival = GetTickCount();
        if (complete == std::string::npos) {
            const std::size_t headerEnd = request.find("\r\n\r\n");
            // Headers, blank line, body and the line end the client writes after the body.
            if (headerEnd != std::string::npos) complete = headerEnd + 4 + ContentLength(request, headerEnd) + 2;
        }
    }
    return request;
}

// Waits `milliseconds`; false when the server is stopping.
bool FakeServer::Pause(unsigned milliseconds) {
    if (milliseconds == 0) return !stopping_;
    return WaitForSingleObject(stopEvent_, milliseconds) == WAIT_TIMEOUT;
}

void FakeServer::HoldUntilClosed(SOCKET connection) {
    char buffer[512];
    while (!stopping_) {
        if (!WaitReadable(connection, kPollMs)) continue;
        if (recv(connection, buffer, sizeof(buffer), 0) <= 0) return;
    }
}

}  // namespace pelmora_test
