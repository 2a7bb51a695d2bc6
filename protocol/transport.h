// HTTP/1.0 over Winsock: one POST per request on a fresh connection, an XML document in reply.
//
// Requests are made on the user-interface thread, one at a time, and block it until the outcome is
// known. A request lasts at most GetDurations().requestWatchdogMs from its start: the connection to
// the server is given no more than that, and a watchdog thread abandons the request when its reply
// has not ended by then. Once connected, a send or receive that waits requestSocketTimeoutMs without
// a byte moving fails as a time-out, when the request's limit leaves that much time.
//
// What the user is to see of an exchange (a failed transfer, a time-out, a refused reply, the
// server's error text) goes to AppContext::frontend; nothing here draws or shows a box.
//
// Log-in renewal: an error reply with code 401 makes CheckErrorReply ask the frontend to renew the
// log-in, and wait for it. The renewal (handshake, configuration, report) runs with
// AppContext::renewingLogIn set for its whole length; while it is set, a 401 is shown like any other
// error but asks for no further renewal, so renewals never nest.
#pragma once

#include <cstddef>
#include <string>

class TiXmlDocument;
class TiXmlElement;
struct AppContext;
class ScratchHeap;

// Results of PostRequest.
inline constexpr int kTransferComplete = 1;   // the whole reply arrived and the server closed the connection
inline constexpr int kTransferFailed = 0;     // no socket, no connection, a send or receive error, abandoned
inline constexpr int kTransferTimedOut = -1;  // the socket reported a time-out

// The longest reply taken (room for thousands of group members); a longer one fails as a transfer error.
inline constexpr std::size_t kMaxReplyBytes = 8u * 1024u * 1024u;

// The service's host name: the environment variable PELMORA_SERVICE_HOST when set, otherwise the
// deployment value of the build. The log-in puts it into AppContext::serverHost.
std::string GetServiceHost();
// The service's port: the environment variable PELMORA_SERVICE_PORT when it holds a port number, else 80.
unsigned short GetServicePort();

// Starts the socket library and waits for a data connection; at an automatic start (startedHidden)
// it keeps asking for a connection until the platform reports one. Sets the server's port.
bool StartNetwork(AppContext& context);
// Resolves `host` and keeps its first IPv4 address as the server's address (port unchanged).
bool ResolveServerHost(AppContext& context, const std::string& host);
// Releases the socket library if StartNetwork started it; calling it again does nothing.
void StopNetwork(AppContext& context);

// Sends one request of `kind` ("hand", "config", "isee", "itake", "cancel", "ineed") to the server's
// address, naming `host` in the request line and the Host header, and reads the reply into `reply`
// until the server closes the connection. Returns one of kTransfer*. When the server cannot be
// reached, the platform is asked for a data connection and the request tries once more.
int PostRequest(AppContext& context, const std::string& host, const char* kind, const std::string& body,
                std::string* reply);

// True for a reply with status 200. A reply with another status has its status text (code and reason,
// at most 255 bytes) shown on the status line; a reply that is no HTTP reply at all is rejected silently.
bool CheckHttpStatus(AppContext& context, const std::string& reply);

// The offset of the XML document in `reply`, or std::string::npos when the reply has no "text/xml"
// Content-Type header or no document that starts with an XML declaration.
std::size_t FindXmlDocument(const std::string& reply);

// The code of an "error" document (non-zero when the document is an error reply), 0 otherwise. Shows
// "CODE: DESCRIPTION" (its first 255 characters); code 401 renews the log-in (see above) before it returns.
int CheckErrorReply(AppContext& context, const TiXmlDocument& document);

// The exchange every request makes: sends `body` as `kind` to AppContext::serverHost and reads the
// reply with ReadReply. Returns null after any failure, having told what the user is to see:
// "Ошибка передачи данных" or the time-out text for a failed transfer, and what ReadReply shows.
// With `scratch`, the document's tree is built in that scratch heap (platform/scratch_heap.h), which must
// outlive the document.
const TiXmlElement* ExchangeRequest(AppContext& context, const char* kind, const std::string& body,
                                    TiXmlDocument* document, ScratchHeap* scratch = nullptr);

// The reply half of ExchangeRequest, over the reply's bytes (status line and headers included):
// checks the status line, finds the XML document, parses it into `document`, handles an error reply
// and returns the root element for the kind ("handshake" for "hand", the kind's own name otherwise).
// Returns null after any failure, having told the status text of a refused reply, the error of an
// error reply (at most 255 characters of it), or "Ошибка передачи данных" for a document nested
// too deep to parse safely (xml_document.h); a missing root element shows nothing.
const TiXmlElement* ReadReply(AppContext& context, const char* kind, const std::string& reply,
                              TiXmlDocument* document, ScratchHeap* scratch = nullptr);
