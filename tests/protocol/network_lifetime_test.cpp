// The socket library's start and release across log-in attempts and shut-down. A program of its own:
// the platform's connection check keeps a start of the library for the rest of the process once a
// request has been made, which would hide a release too many.
#include <gtest/gtest.h>

#include <string>

#include "app/app_context.h"
#include "app/shutdown.h"
#include "protocol/transport.h"
#include "tests/support/fake_server.h"

namespace {

TEST(NetworkLifetime, ReleasesTheSocketLibraryOnceWhateverTheCallers) {
    pelmora_test::FakeServer server;  // holds a start of its own, which the program must not take away
    ASSERT_TRUE(CreateAppContext());
    AppContext& context = *GetAppContext();
    StopNetwork(context);  // never started: nothing to release
    ASSERT_TRUE(StartNetwork(context));
    StopNetwork(context);  // a failed log-in attempt
    ShutDownApplication();  // releases again at the end of the program

    SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(INVALID_SOCKET, probe);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)));
    const std::string request = "GET / HTTP/1.0\r\n\r\n\r\n";
    send(probe, request.data(), static_cast<int>(request.size()), 0);
    EXPECT_TRUE(server.WaitForRequests(1, 3000)) << "the server's listener was closed with the library";
    closesocket(probe);
}

}  // namespace
