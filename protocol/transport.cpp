#include "protocol/transport.h"

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/app_context.h"
#include "deployment.h"
#include "platform/connection_manager.h"
#include "platform/durations.h"
#include "platform/text_conversion.h"
#include "platform/xml_document.h"
#include "protocol/frontend.h"
#include "protocol/transport_state.h"
#include "protocol/wire_format.h"
#include "resources/texts.h"

namespace {

constexpr unsigned short kDefaultServicePort = 80;
constexpr int kReceiveChunk = 512;
// The status text shown for a refused reply is kept within this many bytes, terminating zero included.
constexpr std::size_t kStatusTextBuffer = 256;
// The server's own error text is kept within as many characters: the status line shows a few dozen,
// and every repaint of the main window measures the whole text.
constexpr std::size_t kMaxServerErrorText = kStatusTextBuffer - 1;

// One request under way, shared by the user-interface thread and the request's watchdog. Whichever
// of them ends the request first (interlocked `ended`) closes the socket; the other leaves it alone,
// so a watchdog never touches a socket after its request is over, let alone a later request's.
struct PendingRequest {
    SOCKET socket = INVALID_SOCKET;
    HANDLE finished = nullptr;  // set when the user-interface thread ends the request: the watchdog stops waiting
    DWORD watchdogMs = 0;
    volatile LONG ended = 0;
    volatile LONG references = 1;
};

void ReleaseRequest(PendingRequest* request) {
    if (InterlockedDecrement(&request->references) != 0) return;
    CloseHandle(request->finished);
    delete request;
}

// True for the thread that ends the request; false when the other one has ended it already.
bool ClaimEnd(PendingRequest* request) { return InterlockedExchange(&request->ended, 1) == 0; }

bool HasEnded(PendingRequest* request) { return InterlockedCompareExchange(&request->ended, 0, 0) != 0; }

DWORD WINAPI RequestWatchdog(LPVOID parameter) {
    PendingRequest* request = static_cast<PendingRequest*>(parameter);
    if (WaitForSingleObject(request->finished, request->watchdogMs) == WAIT_TIMEOUT && ClaimEnd(request)) {
        // The blocked send or receive of the user-interface thread fails and the request ends with 0.
        closesocket(request->socket);
    }
    ReleaseRequest(request);
    return 0;
}

// Ends the request from the user-interface thread; false when the watchdog had abandoned it.
bool EndRequest(PendingRequest* request) {
    const bool ours = ClaimEnd(request);
    if (ours) {
        closesocket(request->socket);
        SetEvent(request->finished);
    }
    ReleaseRequest(request);
    return ours;
}

// Asks the platform for a data connection to the Internet and waits for it at most `waitMs`; the
// outcome shows later, when the connection to the server is made or fails.
void RequestDataConnection(DWORD waitMs) {
    CONNMGR_CONNECTIONINFO info = {};
    info.cbSize = sizeof(info);
    info.dwParams = CONNMGR_PARAM_GUIDDESTNET;
    info.dwFlags = CONNMGR_FLAG_PROXY_HTTP;
    info.dwPriority = CONNMGR_PRIORITY_HIPRIBKGND;
    info.guidDestNet = IID_DestNetInternet;
    HANDLE connection = nullptr;
    DWORD status = 0;
    ConnMgrEstablishConnectionSync(&info, &connection, waitMs, &status);
}

// Milliseconds from now until `deadline` (a GetTickCount64 value); 0 once it has passed.
DWORD TimeLeft(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Waits at most `waitMs` for a connection under way on a non-blocking socket; true once it is made.
bool AwaitConnection(SOCKET connection, DWORD waitMs) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(connection, &writable);
    FD_SET(connection, &failed);
    timeval wait = {static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
    if (select(0, nullptr, &writable, &failed, &wait) <= 0 || !FD_ISSET(connection, &writable)) return false;
    int error = 0;
    int length = sizeof(error);
    return getsockopt(connection, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

// A connection to `address` made before `deadline`, or INVALID_SOCKET. It is made without blocking,
// so that a host that never answers costs no more than the time left, and handed back blocking, as
// the request's send and receive expect.
SOCKET ConnectBefore(const sockaddr_in& address, ULONGLONG deadline) {
    const SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
    if (connection == INVALID_SOCKET) return INVALID_SOCKET;
    u_long nonBlocking = 1;
    u_long blocking = 0;
    const bool connected =
        ioctlsocket(connection, FIONBIO, &nonBlocking) == 0 &&
        (connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ||
         (WSAGetLastError() == WSAEWOULDBLOCK && AwaitConnection(connection, TimeLeft(deadline))));
    if (connected && ioctlsocket(connection, FIONBIO, &blocking) == 0) return connection;
    closesocket(connection);
    return INVALID_SOCKET;
}

std::string BuildRequest(const std::string& host, const char* kind, const std::string& body) {
    std::string request = "POST http://";
    request += host;
    request += " HTTP/1.0\r\nHost: ";
    request += kind;
    request += ".";
    request += host;
    request += "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: ";
    request += std::to_string(body.size());
    request += "\r\n\r\n";
    request += body;
    request += "\r\n";
    return request;
}

// Each send and receive of a connected socket: a server that goes silent is reported as a time-out
// before the watchdog abandons the request, as long as the request's limit leaves that much time after
// the connection was made; a server that keeps sending, however slowly, is bounded by the watchdog alone.
// The connection itself is made without blocking and bounded by the request's limit, not by these.
void SetSocketTimeouts(SOCKET connection) {
    const DWORD timeout = GetDurations().requestSocketTimeoutMs;
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
}

int FailureOfLastCall() { return WSAGetLastError() == WSAETIMEDOUT ? kTransferTimedOut : kTransferFailed; }

int SendAll(PendingRequest* request, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        if (HasEnded(request)) return kTransferFailed;
        const int written = send(request->socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (written == SOCKET_ERROR) return FailureOfLastCall();
        sent += static_cast<std::size_t>(written);
    }
    return kTransferComplete;
}

int ReceiveAll(PendingRequest* request, std::string* reply) {
    char chunk[kReceiveChunk];
    for (;;) {
        if (HasEnded(request)) return kTransferFailed;
        const int received = recv(request->socket, chunk, kReceiveChunk, 0);
        if (received == 0) return kTransferComplete;
        if (received == SOCKET_ERROR) return FailureOfLastCall();
        if (reply->size() + static_cast<std::size_t>(received) > kMaxReplyBytes) return kTransferFailed;
        reply->append(chunk, static_cast<std::size_t>(received));
    }
}

const char* RootElementName(const char* kind) { return std::strcmp(kind, "hand") == 0 ? "handshake" : kind; }

}  // namespace

std::string GetServiceHost() {
    char host[256] = {};
    const DWORD length = GetEnvironmentVariableA("PELMORA_SERVICE_HOST", host, sizeof(host));
    if (length > 0 && length < sizeof(host)) return std::string(host, length);
    return PELMORA_SERVICE_HOST;
}

unsigned short GetServicePort() {
    char text[16] = {};
    const DWORD length = GetEnvironmentVariableA("PELMORA_SERVICE_PORT", text, sizeof(text));
    if (length == 0 || length >= sizeof(text)) return kDefaultServicePort;
    char* end = nullptr;
    const unsigned long port = std::strtoul(text, &end, 10);
    if (*end != '\0' || port == 0 || port > 65535) return kDefaultServicePort;
    return static_cast<unsigned short>(port);
}

bool StartNetwork(AppContext& context) {
    if (!context.transport->networkStarted) {
        if (WSAStartup(MAKEWORD(2, 0), &context.transport->socketData) != 0) return false;
        context.transport->networkStarted = true;
    }
    std::memset(&context.transport->serverAddress, 0, sizeof(context.transport->serverAddress));
    context.transport->serverAddress.sin_family = AF_INET;
    context.transport->serverAddress.sin_port = htons(GetServicePort());

    RequestDataConnection(GetDurations().connectionWaitMs);
    if (context.startedHidden) {
        // Started with the phone: wait, however long it takes, until the phone has a data connection.
        DWORD flags = 0;
        while (!InternetGetConnectedState(&flags, 0)) {
            Sleep(GetDurations().connectionRetryMs);
            RequestDataConnection(GetDurations().connectionWaitMs);
        }
    }
    return true;
}

bool ResolveServerHost(AppContext& context, const std::string& host) {
    const hostent* entry = gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr) return false;
    std::memcpy(&context.transport->serverAddress.sin_addr, entry->h_addr_list[0], 4);
    return true;
}

void StopNetwork(AppContext& context) {
    if (!context.transport->networkStarted) return;
    WSACleanup();
    context.transport->networkStarted = false;
}

int PostRequest(AppContext& context, const std::string& host, const char* kind, const std::string& body,
                std::string* reply) {
    reply->clear();
    // The request's limit covers its whole life, the connection to the server included.
    const ULONGLONG deadline = GetTickCount64() + GetDurations().requestWatchdogMs;
    // Connecting to the address and port the request uses is the check that the data connection is
    // up: when it fails, the platform is asked for a data connection and the request tries once more.
    SOCKET connection = ConnectBefore(context.transport->serverAddress, deadline);
    if (connection == INVALID_SOCKET) {
        const DWORD left = TimeLeft(deadline);
        RequestDataConnection(left < GetDurations().connectionWaitMs ? left : GetDurations().connectionWaitMs);
        connection = ConnectBefore(context.transport->serverAddress, deadline);
    }
    if (connection == INVALID_SOCKET) return kTransferFailed;
    SetSocketTimeouts(connection);

    HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (finished == nullptr) {
        closesocket(connection);
        return kTransferFailed;
    }
    PendingRequest* request = new PendingRequest;
    request->socket = connection;
    request->finished = finished;
    request->watchdogMs = TimeLeft(deadline);
    request->references = 2;  // this thread and the watchdog
    HANDLE watchdog = CreateThread(nullptr, 0, RequestWatchdog, request, 0, nullptr);
    if (watchdog == nullptr) {
        // Without a watchdog the request could block the program for good: it is not made.
        request->references = 1;
        EndRequest(request);
        return kTransferFailed;
    }
    CloseHandle(watchdog);
    context.transport->socket = connection;
    context.transport->requestActive = true;

    int result = SendAll(request, BuildRequest(host, kind, body));
    if (result == kTransferComplete) result = ReceiveAll(request, reply);
    if (!EndRequest(request)) result = kTransferFailed;
    context.transport->requestActive = false;
    context.transport->socket = INVALID_SOCKET;
    return result;
}

bool CheckHttpStatus(AppContext& context, const std::string& reply) {
    if (reply.size() < 9 || reply.compare(0, 5, "HTTP/") != 0) return false;
    if (ReadDecimal(reply.c_str() + 9) == 200) return true;

    std::size_t end = reply.find('\n', 9);
    if (end == std::string::npos) end = reply.size();
    if (end > 9 && reply[end - 1] == '\r') --end;
    std::string status = reply.substr(9, end - 9);
    if (status.size() > kStatusTextBuffer - 1) status.resize(kStatusTextBuffer - 1);
    context.frontend->ShowStatusMessage(AnsiToWide(status).c_str());
    return false;
}

std::size_t FindXmlDocument(const std::string& reply) {
    static const char kHeader[] = "Content-Type:";
    const std::size_t headerLength = sizeof(kHeader) - 1;
    for (std::size_t line = 0;;) {
        const std::size_t start = line < reply.size() && reply[line] == '\r' ? line + 1 : line;
        if (reply.compare(start, headerLength, kHeader) == 0) {
            // One byte (the blank) after the colon, then exactly the type; parameters after it are allowed.
            const std::size_t type = start + headerLength + 1;
            if (type > reply.size() || reply.compare(type, 8, "text/xml") != 0) return std::string::npos;
            for (std::size_t at = reply.find('<', start); at != std::string::npos; at = reply.find('<', at + 1)) {
                if (reply.compare(at, 5, "<?xml") == 0) return at;
            }
            return std::string::npos;
        }
        const std::size_t feed = reply.find('\n', line);
        if (feed == std::string::npos) return std::string::npos;
        line = feed + 1;
    }
}

int CheckErrorReply(AppContext& context, const TiXmlDocument& document) {
    const TiXmlElement* error = FindChild(&document, "error");
    if (error == nullptr) return 0;
    const TiXmlElement* code = FindChild(error, "code");
    if (code == nullptr) return 0;
    std::wstring codeText;
    int number = 0;
    if (const char* text = code->GetText()) {
        codeText = Utf8ToWide(text);
        number = ReadDecimal(text);
    }
    const TiXmlElement* description = FindChild(error, "description");
    if (description == nullptr) return 0;
    if (const char* text = description->GetText()) {
        std::wstring message = codeText + L": " + Utf8ToWide(text);
        if (message.size() > kMaxServerErrorText) {
            // Cut before a character, never between the two halves of a surrogate pair.
            std::size_t length = kMaxServerErrorText;
            if (IS_HIGH_SURROGATE(message[length - 1])) --length;
            message.resize(length);
        }
        context.frontend->ShowStatusMessage(message.c_str());
    }
    if (number == 401 && !context.transport->renewingLogIn) context.frontend->RenewLogIn();
    return number;
}

const TiXmlElement* ExchangeRequest(AppContext& context, const char* kind, const std::string& body,
                                    TiXmlDocument* document, ScratchHeap* scratch) {
    std::string reply;
    const int transfer = PostRequest(context, context.serverHost, kind, body, &reply);
    if (transfer == kTransferFailed) context.frontend->ShowStatusMessage(kTextTransferError);
    if (transfer == kTransferTimedOut) context.frontend->ShowStatusMessage(kTextTimeout);
    if (transfer != kTransferComplete) return nullptr;
    return ReadReply(context, kind, reply, document, scratch);
}

const TiXmlElement* ReadReply(AppContext& context, const char* kind, const std::string& reply,
                              TiXmlDocument* document, ScratchHeap* scratch) {
    document->Clear();
    if (!CheckHttpStatus(context, reply)) return nullptr;
    const std::size_t start = FindXmlDocument(reply);
    if (start == std::string::npos) return nullptr;
    // Whatever part of the tree parses is used: a damaged document shows up as missing elements. A
    // document the parser cannot take safely is a transfer that went wrong.
    if (!ParseXmlText(std::string_view(reply).substr(start), TIXML_ENCODING_UNKNOWN, document, scratch)) {
        context.frontend->ShowStatusMessage(kTextTransferError);
        return nullptr;
    }
    if (CheckErrorReply(context, *document) != 0) return nullptr;
    return FindChild(document, RootElementName(kind));
}
