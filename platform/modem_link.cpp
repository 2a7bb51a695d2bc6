#include "platform/modem_link.h"

#include <ws2tcpip.h>

#include "platform/device_profile.h"

namespace {

timeval ToTimeval(DWORD milliseconds) {
    timeval value;
    value.tv_sec = static_cast<long>(milliseconds / 1000);
    value.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
    return value;
}

// select() on one socket; true when it is ready within `timeoutMs`.
bool WaitForSocket(SOCKET socket, bool forWriting, DWORD timeoutMs, bool* failed) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    fd_set broken;
    FD_ZERO(&broken);
    FD_SET(socket, &broken);
    timeval limit = ToTimeval(timeoutMs);
    const int result = select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &broken,
                              timeoutMs == INFINITE ? nullptr : &limit);
    *failed = result == SOCKET_ERROR || FD_ISSET(socket, &broken);
    return result > 0 && FD_ISSET(socket, &ready);
}

}  // namespace

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
    socket_ = socket(addresses->ai_family, addresses->ai_socktype, addresses->ai_protocol);
    bool connected = false;
    if (socket_ != INVALID_SOCKET) {
        // A connection that is neither accepted nor refused must not hold the caller forever.
        u_long nonBlocking = 1;
        ioctlsocket(socket_, FIONBIO, &nonBlocking);
        if (connect(socket_, addresses->ai_addr, static_cast<int>(addresses->ai_addrlen)) == 0) {
            connected = true;
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            bool failed = false;
            int error = 0;
            int length = sizeof(error);
            connected = WaitForSocket(socket_, true, timeoutMs, &failed) && !failed &&
                        getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
                        error == 0;
        }
        nonBlocking = 0;
        ioctlsocket(socket_, FIONBIO, &nonBlocking);
    }
    freeaddrinfo(addresses);
    if (!connected) {
        Close();
        return false;
    }
    BOOL noDelay = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    return true;
}

void ModemLink::Close() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    if (winsockStarted_) {
        WSACleanup();
        winsockStarted_ = false;
    }
}

ModemLink::Readiness ModemLink::WaitForData(DWORD timeoutMs) {
    if (socket_ == INVALID_SOCKET) return Readiness::Failed;
    bool failed = false;
    if (!WaitForSocket(socket_, false, timeoutMs, &failed)) return failed ? Readiness::Failed : Readiness::TimedOut;
    char byte;
    const int peeked = recv(socket_, &byte, 1, MSG_PEEK);
    if (peeked > 0) return Readiness::Data;
    return peeked == 0 ? Readiness::HungUp : Readiness::Failed;
}

int ModemLink::Receive(char* buffer, int size) {
    if (socket_ == INVALID_SOCKET) return -1;
    if (size <= 0) return 0;
    const int received = recv(socket_, buffer, size, 0);
    return received == SOCKET_ERROR ? -1 : received;
}

int ModemLink::Send(const char* bytes, int size, DWORD timeoutMs) {
    if (socket_ == INVALID_SOCKET) return -1;
    if (HasHungUp()) return 0;
    const DWORD start = GetTickCount();
    int sent = 0;
    while (sent < size) {
        const DWORD spent = GetTickCount() - start;
        if (timeoutMs != INFINITE && spent >= timeoutMs) break;
        bool failed = false;
        if (!WaitForSocket(socket_, true, timeoutMs == INFINITE ? INFINITE : timeoutMs - spent, &failed)) {
            if (failed && sent == 0) return -1;
            break;
        }
        const int written = send(socket_, bytes + sent, size - sent, 0);
        if (written == SOCKET_ERROR) return sent > 0 ? sent : -1;
        sent += written;
    }
    return sent;
}

bool ModemLink::HasHungUp() {
    if (socket_ == INVALID_SOCKET) return true;
    bool failed = false;
    if (!WaitForSocket(socket_, false, 0, &failed)) return failed;
    char byte;
    return recv(socket_, &byte, 1, MSG_PEEK) <= 0;
}
