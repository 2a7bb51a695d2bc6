// The envelope every request shares: request bytes, reply acceptance, error replies and log-in
// renewal, transfer failures and the watchdog, the socket library's lifetime.
#include <gtest/gtest.h>

#include "deployment.h"
#include "platform/durations.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"
#include "protocol/wire_format.h"
#include "resources/texts.h"
#include "tests/protocol/exchange_fixture.h"

namespace {

using pelmora_test::FakeReply;
using pelmora_test::HttpReply;
using pelmora_test::XmlDocument;
using pelmora_test::XmlReply;

constexpr wchar_t kUntouched[] = L"untouched";

class Transport : public ExchangeTest {
protected:
    // Runs the shared request sequence for "config" and tells whether its root element came back.
    bool Exchange() {
        TiXmlDocument document;
        return ExchangeRequest(*context, "config", "token=T0K", &document) != nullptr;
    }
};

TEST_F(Transport, WritesTheExactRequestOfEveryKind) {
    const char* kinds[] = {"hand", "config", "isee", "itake", "cancel", "ineed"};
    for (int reply = 0; reply < 7; ++reply) server.Push(XmlReply("<x/>"));
    std::string reply;
    for (const char* kind : kinds) {
        EXPECT_EQ(kTransferComplete, PostRequest(*context, "localhost", kind, "token=T0K&a=1", &reply)) << kind;
    }
    EXPECT_EQ(kTransferComplete, PostRequest(*context, "localhost", "ineed", "", &reply));

    const auto requests = server.Requests();
    ASSERT_EQ(7u, requests.size());
    EXPECT_EQ("POST http://localhost HTTP/1.0\r\nHost: hand.localhost\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 13\r\n\r\ntoken=T0K&a=1\r\n",
              requests[0]);
    for (std::size_t index = 1; index < 6; ++index) {
        EXPECT_EQ(Envelope(kinds[index], "token=T0K&a=1"), requests[index]);
    }
    EXPECT_EQ("POST http://localhost HTTP/1.0\r\nHost: ineed.localhost\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n\r\n\r\n",
              requests[6]);
    EXPECT_EQ("HTTP/1.0 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\n\r\n" + XmlDocument("<x/>"), reply);
}

TEST_F(Transport, CountsBodyBytesAndEncodesOnlyWhatWouldBreakTheForm) {
    const std::string name = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD a/b@c.ru";  // "Иван a/b@c.ru" in UTF-8
    FormBody body;
    body.Add("token", "T0K").Add("user_name", name).Add("odd", "a&b=c+d%e\r\n\x01\x7F").Add("n", -12);
    EXPECT_EQ("token=T0K&user_name=" + name + "&odd=a%26b%3Dc%2Bd%25e%0D%0A%01%7F&n=-12", body.Text());

    server.Push(XmlReply("<x/>"));
    std::string reply;
    ASSERT_EQ(kTransferComplete, PostRequest(*context, "localhost", "config", body.Text(), &reply));
    EXPECT_EQ(Envelope("config", body.Text()), OnlyRequest());
    EXPECT_NE(std::string::npos, OnlyRequest().find("Content-Length: 77\r\n")) << "bytes, not characters";
}

TEST_F(Transport, AcceptsOnlyStatus200WithAnXmlDocument) {
    const std::string document = XmlDocument("<config/>");
    struct Case {
        FakeReply reply;
        bool accepted;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {HttpReply("HTTP/1.1 200 OK", "text/xml", document), true, kUntouched},
        {HttpReply("HTTP/1.0 200", "text/xml", document), true, kUntouched},
        {HttpReply("HTTP/1.0 200 OK", "text/xml; charset=windows-1251", document), true, kUntouched},
        {HttpReply("HTTP/1.1 201 Created", "text/xml", document), false, L"201 Created"},
        {HttpReply("HTTP/1.1 204 No Content", "text/xml", document), false, L"204 No Content"},
        {HttpReply("HTTP/1.1 404 Not Found", "text/html", "<html/>"), false, L"404 Not Found"},
        {HttpReply("HTTP/1.0 200 OK", "text/html", document), false, kUntouched},
        {HttpReply("HTTP/1.0 200 OK", "", document), false, kUntouched},
        {HttpReply("HTTP/1.0 200 OK", "text/xml", "<config/>"), false, kUntouched},
        {HttpReply("HTTX/1.0 200 OK", "text/xml", document), false, kUntouched},
        {HttpReply("HTTP/1.0 200 OK\r\ncontent-type: text/xml", "", document), false, kUntouched},
        {{"HTTP/1.0 200 OK\r\nContent-Type:text/xml\r\n\r\n" + document}, false, kUntouched},
        {{"HTTP/1.0 200 OK\r\nContent-Type:  text/xml\r\n\r\n" + document}, false, kUntouched},
        {{"HTTP/1.0 200 OK\r\nServer: x\r\nContent-Type: text/xml\r\nX-A: 1\r\n\r\n" + document}, true, kUntouched},
    };
    for (const Case& testCase : cases) server.Push(testCase.reply);
    for (const Case& testCase : cases) {
        context->statusText = kUntouched;
        EXPECT_EQ(testCase.accepted, Exchange()) << testCase.reply.bytes;
        EXPECT_EQ(std::wstring(testCase.shown), context->statusText) << testCase.reply.bytes;
    }
}

TEST_F(Transport, JoinsAReplyThatArrivesInManySmallPieces) {
    FakeReply reply = XmlReply("<config><config_rate>1</config_rate><config_levelgps>42</config_levelgps></config>");
    reply.chunkSize = 3;
    reply.chunkPauseMs = 2;
    server.Push(reply);
    std::string received;
    ASSERT_EQ(kTransferComplete, PostRequest(*context, "localhost", "config", "", &received));
    EXPECT_EQ(reply.bytes, received);
}

TEST_F(Transport, CutsALongStatusTextSafely) {
    const std::string reason(400, 'x');
    server.Push(HttpReply("HTTP/1.0 500 " + reason, "text/xml", XmlDocument("<config/>")));
    server.Push({"HTTP/1.0 503 Busy"});
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(L"500 " + std::wstring(251, L'x'), context->statusText) << "255 bytes of the status line";
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(L"503 Busy", context->statusText) << "a reply without any line feed";
    server.Push({"HTTP/1.0\r\nContent-Type: text/xml\r\n\r\n" + XmlDocument("<config/>")});
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(L"", context->statusText) << "a status line that ends before the code";
}

TEST_F(Transport, ShowsErrorRepliesAndFailsOnlyOnANonZeroCodeWithDescription) {
    struct Case {
        const char* elements;
        bool accepted;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {"<error><code>17</code><description>\xD0\x9D\xD0\xB5\xD1\x82</description></error>", false, L"17: Нет"},
        {"<error><code>17</code></error>", false, kUntouched},
        {"<error><code>0</code><description>Note</description></error>", false, L"0: Note"},
        {"<error><code>0</code><description>Note</description></error><config/>", true, L"0: Note"},
        {"<error><code>5</code></error><config/>", true, kUntouched},
        {"<error><code>5</code><description/></error><config/>", false, kUntouched},
    };
    for (const Case& testCase : cases) server.Push(XmlReply(testCase.elements));
    for (const Case& testCase : cases) {
        context->statusText = kUntouched;
        EXPECT_EQ(testCase.accepted, Exchange()) << testCase.elements;
        EXPECT_EQ(std::wstring(testCase.shown), context->statusText) << testCase.elements;
    }
    EXPECT_EQ(0, renewalMessages);
}

TEST_F(Transport, Code401RenewsTheLogInOnceAndDoesNotRepeatTheRequest) {
    const std::string expired = "<error><code>401</code><description>Expired</description></error>";
    server.Push(XmlReply(expired));
    server.Push(XmlReply(expired));
    std::wstring shownBeforeRenewal;
    onRenewal = [&] {
        // The shell's handler: the renewal's own request gets a 401 as well and must not start another.
        shownBeforeRenewal = context->statusText;
        context->transport->renewingLogIn = true;
        TiXmlDocument document;
        EXPECT_EQ(nullptr, ExchangeRequest(*context, "hand", "client_id=2", &document));
        context->transport->renewingLogIn = false;
    };
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(1, renewalMessages);
    EXPECT_EQ(L"401: Expired", shownBeforeRenewal) << "the message comes before the renewal";
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(Envelope("config", "token=T0K"), requests[0]);
    EXPECT_EQ(Envelope("hand", "client_id=2"), requests[1]);
}

TEST_F(Transport, ReportsTransferFailures) {
    context->transport->serverAddress.sin_port = htons(pelmora_test::FakeServer::UnusedPort());
    std::string reply = "old";
    EXPECT_EQ(kTransferFailed, PostRequest(*context, "localhost", "config", "", &reply));
    EXPECT_EQ("", reply);
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(kTextTransferError, context->statusText) << "refused connection";

    context->transport->serverAddress.sin_port = htons(server.Port());
    FakeReply reset = XmlReply("<config/>");
    reset.ending = pelmora_test::FakeEnding::Reset;
    server.Push(reset);
    context->statusText = kUntouched;
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(kTextTransferError, context->statusText) << "reset connection";

    server.Push(pelmora_test::DroppedConnection());
    context->statusText = kUntouched;
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(kUntouched, context->statusText) << "closed without a reply: an empty reply, rejected silently";
    EXPECT_FALSE(context->transport->requestActive);
}

TEST_F(Transport, FailsAReplyBeyondTheSizeLimit) {
    server.Push(XmlReply("<config>" + std::string(kMaxReplyBytes, ' ') + "</config>"));
    std::string reply;
    EXPECT_EQ(kTransferFailed, PostRequest(*context, "localhost", "config", "", &reply));
}

TEST_F(Transport, WatchdogAbandonsASilentServerAndTheNextRequestWorks) {
    GetDurations().requestWatchdogMs = 400;
    FakeReply partial = pelmora_test::SilentReply();
    partial.bytes = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n<?xml version=\"1.0\"?><config/>";
    server.Push(partial);
    server.Push(XmlReply("<config/>"));

    const DWORD start = GetTickCount();
    EXPECT_FALSE(Exchange());
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(kTextTransferError, context->statusText);
    EXPECT_GE(elapsed, 350u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_TRUE(Exchange());
    EXPECT_EQ(2u, server.RequestCount());
}

// The socket's own time-out reports a server gone silent, before the watchdog would abandon it; one
// that keeps sending, however slowly, is not cut by it.
TEST_F(Transport, ASilentServerTimesOutOnTheSocketBeforeTheWatchdog) {
    GetDurations().requestSocketTimeoutMs = 1000;
    GetDurations().requestWatchdogMs = 30000;
    FakeReply silentAfterHeaders = pelmora_test::SilentReply();
    silentAfterHeaders.bytes = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n";
    server.Push(pelmora_test::SilentReply());
    server.Push(silentAfterHeaders);
    FakeReply trickle = XmlReply("<config/>");
    trickle.chunkSize = 4;
    trickle.chunkPauseMs = 100;
    server.Push(trickle);

    std::string reply;
    EXPECT_EQ(kTransferTimedOut, PostRequest(*context, "localhost", "config", "", &reply));
    EXPECT_FALSE(context->transport->requestActive);
    EXPECT_FALSE(Exchange());
    EXPECT_EQ(kTextTimeout, context->statusText);
    EXPECT_TRUE(Exchange()) << "a reply slower in total than the time-out, never silent that long";
    EXPECT_EQ(3u, server.RequestCount());
}

TEST_F(Transport, AWatchdogLeavesLaterRequestsAlone) {
    // The first request ends at once; its watchdog period would run out in the middle of the second.
    GetDurations().requestWatchdogMs = 300;
    server.Push(XmlReply("<config/>"));
    EXPECT_TRUE(Exchange());
    GetDurations().requestWatchdogMs = 10000;
    FakeReply slow = XmlReply("<config/>");
    slow.delayMs = 800;
    server.Push(slow);
    EXPECT_TRUE(Exchange());
}

TEST(ServiceEndpoint, HostAndPortComeFromTheBuildOrTheEnvironment) {
    SetEnvironmentVariableA("PELMORA_SERVICE_HOST", nullptr);
    EXPECT_EQ(PELMORA_SERVICE_HOST, GetServiceHost());
    SetEnvironmentVariableA("PELMORA_SERVICE_HOST", "pelmora.example");
    EXPECT_EQ("pelmora.example", GetServiceHost());
    SetEnvironmentVariableA("PELMORA_SERVICE_HOST", nullptr);

    const struct {
        const char* value;
        unsigned short port;
    } ports[] = {{nullptr, 80}, {"8123", 8123}, {"65535", 65535}, {"0", 80}, {"70000", 80}, {"80a", 80}, {"", 80}};
    for (const auto& entry : ports) {
        SetEnvironmentVariableA("PELMORA_SERVICE_PORT", entry.value);
        EXPECT_EQ(entry.port, GetServicePort()) << (entry.value ? entry.value : "(unset)");
    }
    SetEnvironmentVariableA("PELMORA_SERVICE_PORT", nullptr);
}

TEST_F(Transport, StartNetworkTakesThePortAndResolvingTakesTheAddress) {
    server.ExportPort();
    StopNetwork(*context);
    ASSERT_TRUE(StartNetwork(*context));
    SetEnvironmentVariableA("PELMORA_SERVICE_PORT", nullptr);
    EXPECT_EQ(AF_INET, context->transport->serverAddress.sin_family);
    EXPECT_EQ(server.Port(), ntohs(context->transport->serverAddress.sin_port));
    EXPECT_EQ(0u, context->transport->serverAddress.sin_addr.s_addr);
    ASSERT_TRUE(ResolveServerHost(*context, "localhost"));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), context->transport->serverAddress.sin_addr.s_addr);
    EXPECT_EQ(server.Port(), ntohs(context->transport->serverAddress.sin_port));

    server.Push(XmlReply("<config/>"));
    EXPECT_TRUE(Exchange());

    // Started with the phone: goes on as soon as the platform reports a connection, as the desktop does.
    context->startedHidden = true;
    EXPECT_TRUE(StartNetwork(*context));
}

}  // namespace
