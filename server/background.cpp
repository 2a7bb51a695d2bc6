#include "server/background.h"

namespace pelmora {

Background::~Background() {
    Stop();
}

void Background::Start(std::function<std::chrono::milliseconds()> round) {
    thread_ = std::thread([this, round = std::move(round)] {
        for (;;) {
            std::chrono::milliseconds pause = round();
            std::unique_lock<std::mutex> lock(mutex_);
            if (pause.count() > 0) wake_.wait_for(lock, pause, [this] { return stopping_ || woken_; });
            if (stopping_) return;
            woken_ = false;
        }
    });
}

void Background::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

void Background::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

}  // namespace pelmora
