#include "platform/modem_link.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/device_profile.h"

namespace {

constexpr int kWaitKinds = 3;
constexpr int kChunkSize = 1024;
constexpr int kLargestSend = 65536;

int KindIndex(ModemLink::Waits kind) {
    switch (kind) {
    case ModemLink::kWriteWaits:
        return 1;
    case ModemLink::kEventWaits:
        return 2;
    default:
        return 0;
    }
}

// The modem's end went away rather than the connection breaking on this side.
bool PeerLeft(int error) {
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN || error == WSAENETRESET;
}

// Connects `socket` (non-blocking) within `timeoutMs`, so that a connection that is neither accepted
// nor refused cannot hold the caller.
bool ConnectWithin(SOCKET socket, const addrinfo& address, DWORD timeoutMs) {
    if (connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    fd_set broken;
    FD_ZERO(&broken);
    FD_SET(socket, &broken);
    timeval limit;
    limit.tv_sec = static_cast<long>(timeoutMs / 1000);
    limit.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    if (select(0, nullptr, &writable, &broken, timeoutMs == INFINITE ? nullptr : &limit) <= 0) return false;
    int error = 0;
    int length = sizeof(error);
    return FD_ISSET(socket, &writable) && !FD_ISSET(socket, &broken) &&
           getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

}  // namespace

struct ModemLink::Line {
    SOCKET socket = INVALID_SOCKET;
    WSAEVENT socketEvent = WSA_INVALID_EVENT;
    HANDLE wake = nullptr;  // auto-reset: the pump has work that no socket event announces

    std::mutex lock;  // guards everything below
    std::condition_variable changed;
    std::string received;
    std::string unsent;            // the bytes of the writer whose turn it is
    unsigned long long sent = 0;   // bytes handed to the socket since the link opened
    bool hungUp = false;
    bool failed = false;
    bool closing = false;
    bool writing = false;          // a writer has its turn
    unsigned long long cancels[kWaitKinds] = {};

    void MarkGone(int error) {
        if (PeerLeft(error)) {
            hungUp = true;
        } else {
            failed = true;
        }
    }

    // Takes what the socket has while there is room and hands it what waits to be sent; never blocks.
    void MoveBytes() {
        if (hungUp || failed) return;
        while (received.size() < kReceiveQueueSize) {
            char chunk[kChunkSize];
            const int room = static_cast<int>(std::min<std::size_t>(kChunkSize, kReceiveQueueSize - received.size()));
            const int got = recv(socket, chunk, room, 0);
            if (got > 0) {
                received.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            if (got == 0) {
                hungUp = true;
            } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
                MarkGone(WSAGetLastError());
            }
            break;
        }
        while (!unsent.empty() && !hungUp && !failed) {
            const int put = send(socket, unsent.data(), static_cast<int>(std::min<std::size_t>(unsent.size(), kLargestSend)), 0);
            if (put > 0) {
                unsent.erase(0, static_cast<std::size_t>(put));
                sent += static_cast<unsigned long long>(put);
                continue;
            }
            if (WSAGetLastError() != WSAEWOULDBLOCK) MarkGone(WSAGetLastError());
            break;
        }
        // A line that is gone has nothing more to announce.
        if (hungUp || failed) WSAEventSelect(socket, socketEvent, 0);
    }
};

void ModemLink::Pump(Line* line) {
    const HANDLE events[] = {line->socketEvent, line->wake};
    bool watchSocket = true;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(line->lock);
            if (line->closing) return;
            line->MoveBytes();
        }
        line->changed.notify_all();
        const DWORD woken = watchSocket ? WaitForMultipleObjects(2, events, FALSE, INFINITE)
                                        : WaitForSingleObject(line->wake, INFINITE);
        if (woken == WAIT_FAILED) {
            std::lock_guard<std::mutex> guard(line->lock);
            line->failed = true;
            watchSocket = false;
        } else if (woken == WAIT_OBJECT_0 && watchSocket) {
            WSANETWORKEVENTS happened;
            WSAEnumNetworkEvents(line->socket, line->socketEvent, &happened);  // also resets the event
        }
    }
}

ModemLink::ModemLink() = default;

ModemLink::~ModemLink() { Close(); }

bool ModemLink::Connect(const std::string& endpoint, DWORD timeoutMs) {
    Close();
    std::string host;
    unsigned short port = 0;
    if (!SplitEndpoint(endpoint, &host, &port)) return false;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    winsockStarted_ = true;

    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0 || addresses == nullptr) {
        Close();
        return false;
    }
    auto line = std::make_unique<Line>();
    line->socket = socket(addresses->ai_family, addresses->ai_socktype, addresses->ai_protocol);
    bool connected = false;
    if (line->socket != INVALID_SOCKET) {
        u_long nonBlocking = 1;
        connected = ioctlsocket(line->socket, FIONBIO, &nonBlocking) == 0 &&
                    ConnectWithin(line->socket, *addresses, timeoutMs);
    }
    freeaddrinfo(addresses);
    if (connected) {
        line->socketEvent = WSACreateEvent();
        line->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        connected = line->socketEvent != WSA_INVALID_EVENT && line->wake != nullptr &&
                    WSAEventSelect(line->socket, line->socketEvent, FD_READ | FD_WRITE | FD_CLOSE) == 0;
    }
    if (!connected) {
        if (line->socket != INVALID_SOCKET) closesocket(line->socket);
        if (line->socketEvent != WSA_INVALID_EVENT) WSACloseEvent(line->socketEvent);
        if (line->wake != nullptr) CloseHandle(line->wake);
        Close();
        return false;
    }
    BOOL noDelay = TRUE;
    setsockopt(line->socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    line_ = std::move(line);
    pump_ = std::thread(Pump, line_.get());
    return true;
}

void ModemLink::Close() {
    if (line_ != nullptr) {
        {
            std::lock_guard<std::mutex> guard(line_->lock);
            line_->closing = true;
        }
        SetEvent(line_->wake);
        if (pump_.joinable()) pump_.join();
        closesocket(line_->socket);
        WSACloseEvent(line_->socketEvent);
        CloseHandle(line_->wake);
        line_.reset();
    }
    if (winsockStarted_) {
        WSACleanup();
        winsockStarted_ = false;
    }
}

ModemLink::CancelMark ModemLink::MarkCancels(Waits kind) {
    if (line_ == nullptr) return 0;
    std::lock_guard<std::mutex> guard(line_->lock);
    return line_->cancels[KindIndex(kind)];
}

ModemLink::Readiness ModemLink::WaitForData(DWORD timeoutMs, Waits kind) {
    return WaitForData(timeoutMs, kind, MarkCancels(kind));
}

ModemLink::Readiness ModemLink::WaitForData(DWORD timeoutMs, Waits kind, CancelMark since) {
    if (line_ == nullptr) return Readiness::Failed;
    Line& line = *line_;
    const int index = KindIndex(kind);
    std::unique_lock<std::mutex> guard(line.lock);
    const unsigned long long cancels = since;
    const auto settled = [&] {
        return !line.received.empty() || line.hungUp || line.failed || line.cancels[index] != cancels;
    };
    if (timeoutMs == INFINITE) {
        line.changed.wait(guard, settled);
    } else {
        line.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), settled);
    }
    if (line.cancels[index] != cancels) return Readiness::Cancelled;
    if (!line.received.empty()) return Readiness::Data;
    if (line.hungUp) return Readiness::HungUp;
    return line.failed ? Readiness::Failed : Readiness::TimedOut;
}

int ModemLink::Receive(char* buffer, int size) {
    if (line_ == nullptr) return -1;
    if (size <= 0) return 0;
    Line& line = *line_;
    std::lock_guard<std::mutex> guard(line.lock);
    if (line.received.empty()) return line.failed ? -1 : 0;
    const bool wasFull = line.received.size() >= kReceiveQueueSize;
    const std::size_t taken = std::min<std::size_t>(static_cast<std::size_t>(size), line.received.size());
    memcpy(buffer, line.received.data(), taken);
    line.received.erase(0, taken);
    // A full queue held the modem back: the pump may take from the socket again.
    if (wasFull) SetEvent(line.wake);
    return static_cast<int>(taken);
}

void ModemLink::DiscardReceived() {
    if (line_ == nullptr) return;
    std::lock_guard<std::mutex> guard(line_->lock);
    const bool wasFull = line_->received.size() >= kReceiveQueueSize;
    line_->received.clear();
    if (wasFull) SetEvent(line_->wake);
}

int ModemLink::Send(const char* bytes, int size, DWORD timeoutMs, bool* cancelled) {
    if (cancelled != nullptr) *cancelled = false;
    if (line_ == nullptr) return -1;
    Line& line = *line_;
    const int index = KindIndex(kWriteWaits);
    std::unique_lock<std::mutex> guard(line.lock);
    const unsigned long long cancels = line.cancels[index];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto isCancelled = [&] { return line.cancels[index] != cancels; };
    const auto waitUntil = [&](const auto& done) {
        if (timeoutMs == INFINITE) {
            line.changed.wait(guard, done);
        } else {
            line.changed.wait_until(guard, deadline, done);
        }
    };

    waitUntil([&] { return !line.writing || isCancelled(); });
    if (line.writing || isCancelled()) {
        if (cancelled != nullptr) *cancelled = isCancelled();
        return 0;
    }
    if (line.hungUp) return 0;  // a modem that hung up takes nothing, as a line that timed out
    if (line.failed) return -1;
    if (size <= 0) return 0;

    line.writing = true;
    line.unsent.assign(bytes, static_cast<std::size_t>(size));
    const unsigned long long sentBefore = line.sent;
    SetEvent(line.wake);
    waitUntil([&] { return line.unsent.empty() || line.hungUp || line.failed || isCancelled(); });
    const int written = static_cast<int>(line.sent - sentBefore);
    const bool failedEmpty = line.failed && written == 0;
    if (cancelled != nullptr) *cancelled = written < size && isCancelled();
    // What was not handed to the socket is not sent: the write ended.
    line.unsent.clear();
    line.writing = false;
    guard.unlock();
    line.changed.notify_all();
    return failedEmpty ? -1 : written;
}

void ModemLink::Cancel(unsigned kinds) {
    if (line_ == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(line_->lock);
        for (const Waits kind : {kReadWaits, kWriteWaits, kEventWaits}) {
            if ((kinds & kind) != 0) ++line_->cancels[KindIndex(kind)];
        }
    }
    line_->changed.notify_all();
}
