// What the transport keeps between its calls: the socket library it started, the server's address,
// and the flags of the request under way. The application object holds one (AppContext::transport),
// so that only the files that make requests see Winsock.
#pragma once

#include <winsock2.h>

struct TransportState {
    WSADATA socketData = {};
    bool networkStarted = false;  // the socket library is started and StopNetwork has to release it
    SOCKET socket = INVALID_SOCKET;  // the connection of the request under way
    sockaddr_in serverAddress = {};
    bool requestActive = false;
    bool renewingLogIn = false;  // a log-in renewal is under way; a 401 inside it starts no other
};
