// The check of the connection before each request: it goes to the address and port the request
// itself uses, and a server that does not answer cannot hold the request beyond the request's limit.
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/durations.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"
#include "tests/protocol/exchange_fixture.h"
#include "tests/support/import_patch.h"

namespace {

using ConnectFunction = int(WSAAPI*)(SOCKET, const sockaddr*, int);

// Every port a connection was attempted to, by this program or by the system's Internet library.
std::vector<unsigned short>& ConnectedPorts() {
    static std::vector<unsigned short> ports;
    return ports;
}

ConnectFunction programConnect = nullptr;
ConnectFunction internetLibraryConnect = nullptr;

unsigned short PortOf(const sockaddr* address) {
    return ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
}

int WSAAPI RecordProgramConnect(SOCKET socket, const sockaddr* address, int length) {
    ConnectedPorts().push_back(PortOf(address));
    return programConnect(socket, address, length);
}

int WSAAPI RecordInternetLibraryConnect(SOCKET socket, const sockaddr* address, int length) {
    ConnectedPorts().push_back(PortOf(address));
    return internetLibraryConnect(socket, address, length);
}

class ConnectionCheck : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        ASSERT_TRUE(program_.Active());
        programConnect = program_.Original<ConnectFunction>();
        // The system's Internet library (WinINet) makes connections of its own when it is asked to check one.
        ASSERT_EQ(GetModuleHandleW(L"wininet.dll") != nullptr, internetLibrary_.Active());
        internetLibraryConnect = internetLibrary_.Original<ConnectFunction>();
        ConnectedPorts().clear();
    }

    pelmora_test::ImportPatch program_{GetModuleHandleW(nullptr), "ws2_32.dll", "connect",
                                       reinterpret_cast<void*>(RecordProgramConnect)};
    pelmora_test::ImportPatch internetLibrary_{GetModuleHandleW(L"wininet.dll"), "ws2_32.dll", "connect",
                                               reinterpret_cast<void*>(RecordInternetLibraryConnect)};
};

TEST_F(ConnectionCheck, EveryConnectionGoesToTheServersOwnPort) {
    const unsigned short refused = pelmora_test::FakeServer::UnusedPort();
    ASSERT_NE(80, server.Port());
    ASSERT_NE(80, refused);
    struct Case {
        const char* name;
        unsigned short port;
        int result;
        std::vector<unsigned short> ports;
    };
    const Case cases[] = {
        // The checked connection carries the request: one connection, no other.
        {"a server that answers", server.Port(), kTransferComplete, {server.Port()}},
        // The check fails, a data connection is asked for, and the request tries once more.
        {"a port nobody listens on", refused, kTransferFailed, {refused, refused}},
    };
    for (const Case& test : cases) {
        if (test.result == kTransferComplete) server.Push(pelmora_test::XmlReply("<config/>"));
        context->transport->serverAddress.sin_port = htons(test.port);
        ConnectedPorts().clear();
        std::string reply;
        EXPECT_EQ(test.result, PostRequest(*context, "localhost", "config", "token=T0K", &reply)) << test.name;
        EXPECT_EQ(test.ports, ConnectedPorts()) << test.name;
    }
    EXPECT_EQ(1u, server.RequestCount());
}

TEST_F(ConnectionCheck, AServerThatDoesNotAnswerCannotHoldARequestBeyondItsLimit) {
    // A listener whose queue of one is full: the system drops every further attempt to connect
    // without an answer, as a host that is down or behind a filter does.
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    int length = sizeof(address);
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
    ASSERT_EQ(0, listen(listener, 0));
    SOCKET queued = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(0, connect(queued, reinterpret_cast<sockaddr*>(&address), sizeof(address)));

    GetDurations().requestWatchdogMs = 1000;
    context->transport->serverAddress.sin_port = address.sin_port;
    const DWORD start = GetTickCount();
    std::string reply;
    EXPECT_EQ(kTransferFailed, PostRequest(*context, "localhost", "config", "token=T0K", &reply));
    const DWORD elapsed = GetTickCount() - start;
    // An unbounded attempt to connect lasts minutes; the request's limit here is one second.
    EXPECT_LT(elapsed, 10000u);
    EXPECT_FALSE(context->transport->requestActive);
    closesocket(queued);
    closesocket(listener);
}

}  // namespace
