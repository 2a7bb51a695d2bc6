// The wire between the phone's processor and its modem as the desktop has it: a TCP connection to the
// phone simulator. The serial ports and the radio layer both reach the modem through it.
//
// The link works as a serial driver's interrupt side does: a thread of its own moves bytes between the
// socket and a receive queue of limited size (a full queue holds the modem back, as hardware flow
// control does) and hands over what a writer queued. Every wait of a caller is on that state, so
// another thread can end it at once: Cancel ends the waits of the kinds it names that are pending now.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <string>
#include <thread>

class ModemLink {
public:
    enum class Readiness {
        Data,       // a byte can be read
        HungUp,     // the modem closed the connection and nothing is left to read
        TimedOut,
        Failed,
        Cancelled,  // another thread cancelled waits of this kind
    };

    // The kinds of waiting that Cancel tells apart, as a serial driver tells apart its pending reads,
    // writes and waits for a communication event.
    enum Waits : unsigned {
        kReadWaits = 1,
        kWriteWaits = 2,
        kEventWaits = 4,
        kAllWaits = kReadWaits | kWriteWaits | kEventWaits,
    };

    // Bytes the link holds for the reader at most; the modem waits while they are not taken.
    static constexpr std::size_t kReceiveQueueSize = 4096;

    ModemLink();
    ~ModemLink();
    ModemLink(const ModemLink&) = delete;
    ModemLink& operator=(const ModemLink&) = delete;

    // Connects to "HOST:PORT" within `timeoutMs`. Winsock is started for as long as the link is open,
    // because the device layer may be used before the program starts its own network. Connect and
    // Close must not run while another thread uses the link; every other call may come from any thread.
    bool Connect(const std::string& endpoint, DWORD timeoutMs);
    void Close();
    bool IsOpen() const { return line_ != nullptr; }

    // A point in the cancellations of one kind of wait: a wait given it also ends for a Cancel that came
    // after that point but before the wait began, so that a call made of several waits is ended by a
    // Cancel between them too.
    using CancelMark = unsigned long long;
    CancelMark MarkCancels(Waits kind);

    // Waits at most `timeoutMs` (INFINITE: without a bound) until a byte can be read or the modem hangs
    // up; a Cancel of `kind` (since `since`) ends the wait.
    Readiness WaitForData(DWORD timeoutMs, Waits kind = kReadWaits);
    Readiness WaitForData(DWORD timeoutMs, Waits kind, CancelMark since);
    // Takes what has arrived, at most `size` bytes: the count, 0 when the modem hung up, -1 on failure.
    int Receive(char* buffer, int size);
    // Forgets what has arrived and was not taken yet.
    void DiscardReceived();
    // Writes `bytes` within `timeoutMs`: the count written, fewer when the modem hung up, the time ran
    // out or a Cancel of the writes came (then *cancelled is set); -1 when the connection failed before
    // anything was written. Writers take turns.
    int Send(const char* bytes, int size, DWORD timeoutMs, bool* cancelled = nullptr);
    // Ends the waits of the given kinds (a combination of Waits) that are pending now.
    void Cancel(unsigned kinds);

private:
    struct Line;
    static void Pump(Line* line);

    std::unique_ptr<Line> line_;
    std::thread pump_;
    bool winsockStarted_ = false;
};
