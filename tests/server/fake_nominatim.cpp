#include "fake_nominatim.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace pelmora::testing {

FakeNominatim::FakeNominatim(std::function<Reply(const std::string& target)> script) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("the fake geocoder cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

FakeNominatim::~FakeNominatim() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        released_ = true;
    }
    changed_.notify_all();
    thread_.join();
    close(listener_);
}

std::string FakeNominatim::Address() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/nominatim";
}

std::vector<FakeNominatim::Request> FakeNominatim::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool FakeNominatim::WaitForRequests(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

void FakeNominatim::Release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

std::string FakeNominatim::Jsonv2(const std::vector<std::pair<std::string, std::string>>& address) {
    nlohmann::json parts = nlohmann::json::object();
    for (const auto& [key, value] : address) parts[key] = value;
    return nlohmann::json{{"place_id", 1}, {"lat", "55.7579"}, {"lon", "37.6112"}, {"display_name", "…"},
                          {"address", parts}}
        .dump();
}

void FakeNominatim::Serve() {
    // Each connection on a thread of its own: a slow answer holds up no other request.
    std::vector<std::thread> answering;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;
        }
        pollfd ready{listener_, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        int connection = accept(listener_, nullptr, nullptr);
        if (connection >= 0) answering.emplace_back([this, connection] { Answer(connection); });
    }
    for (std::thread& thread : answering) thread.join();
}

void FakeNominatim::Answer(int connection) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        ssize_t n = recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t start = head.find(' ') + 1;
    std::string target = head.substr(start, head.find(' ', start) - start);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({target, std::chrono::steady_clock::now()});
    }
    changed_.notify_all();
    Reply reply = script_(target);
    std::unique_lock<std::mutex> lock(mutex_);
    if (reply.held) changed_.wait_for(lock, std::chrono::seconds(30), [this] { return released_; });
    changed_.wait_for(lock, reply.delay, [this] { return stopping_; });
    lock.unlock();
    std::string bytes = "HTTP/1.1 " + std::to_string(reply.status) + " Whatever\r\n" +
                        "Content-Type: application/json; charset=utf-8\r\nContent-Length: " +
                        std::to_string(reply.body.size()) + "\r\n" + reply.headers + "Connection: close\r\n\r\n" +
                        reply.body;
    send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    close(connection);
}

}  // namespace pelmora::testing
