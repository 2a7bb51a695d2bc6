// The wire between the phone's processor and its modem as the desktop has it: a TCP connection to the
// phone simulator. The serial ports and the radio layer both reach the modem through it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

class ModemLink {
public:
    enum class Readiness {
        Data,      // a byte can be read
        HungUp,    // the modem closed the connection and nothing is left to read
        TimedOut,
        Failed,
    };

    ModemLink() = default;
    ~ModemLink();
    ModemLink(const ModemLink&) = delete;
    ModemLink& operator=(const ModemLink&) = delete;

    // Connects to "HOST:PORT" within `timeoutMs`. Winsock is started for as long as the link is open,
    // because the device layer may be used before the program starts its own network.
    bool Connect(const std::string& endpoint, DWORD timeoutMs);
    void Close();
    bool IsOpen() const { return socket_ != INVALID_SOCKET; }

    // Waits at most `timeoutMs` (INFINITE: without a bound) until a byte can be read or the modem hangs up.
    Readiness WaitForData(DWORD timeoutMs);
    // Reads what has arrived, at most `size` bytes: the count, 0 when the modem hung up, -1 on failure.
    int Receive(char* buffer, int size);
    // Writes `bytes` within `timeoutMs`: the count written, fewer when the modem hung up or the time ran
    // out; -1 when the connection failed before anything was written.
    int Send(const char* bytes, int size, DWORD timeoutMs);
    // The modem closed the connection and sent nothing more that is still waiting to be read.
    bool HasHungUp();

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool winsockStarted_ = false;
};
