// A thread of a server's own that does one thing over and over (the demo walk, writing what the
// reports noted, asking the geocoder): a round runs, then the thread sleeps as long as the round
// asked, until woken, or until stopped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace pelmora {

class Background {
public:
    Background() = default;
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    ~Background();

    // `round` runs on the thread and returns how long to sleep before the next one; it must not throw.
    void Start(std::function<std::chrono::milliseconds()> round);
    // Ends the sleep under way (or the next one) at once.
    void Wake();
    // Waits for the round under way; no round starts after it.
    void Stop();

private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    bool stopping_ = false;
};

}  // namespace pelmora
