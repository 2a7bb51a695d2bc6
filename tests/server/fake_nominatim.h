// A reverse geocoder of our own on a loopback port, speaking as much of Nominatim's API as the
// server uses: it records every request (its target and when it came) and answers from a script —
// an answer, a slow answer, an error, a refusal with Retry-After, or an answer held until the test
// lets it go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelmora::testing {

class FakeNominatim {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::string headers;  // further header lines, each ending in CR LF
        std::chrono::milliseconds delay{0};
        bool held = false;  // sent only once Release is called
    };
    struct Request {
        std::string target;  // "/reverse?format=jsonv2&lat=…"
        std::chrono::steady_clock::time_point at;
    };

    // `script` answers each request by its target.
    explicit FakeNominatim(std::function<Reply(const std::string& target)> script);
    ~FakeNominatim();

    // The address for the setting geocoder: "http://127.0.0.1:PORT/nominatim".
    std::string Address() const;
    std::vector<Request> Requests();
    // Waits (at most `limit`) until `count` requests have come; false when they have not.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Lets the held answers go.
    void Release();

    // Nominatim's jsonv2 answer with these address parts ("city", "Москва", "road", …).
    static std::string Jsonv2(const std::vector<std::pair<std::string, std::string>>& address);

private:
    void Serve();
    void Answer(int connection);

    std::function<Reply(const std::string&)> script_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Request> requests_;
    bool released_ = false;
    bool stopping_ = false;
};

}  // namespace pelmora::testing
