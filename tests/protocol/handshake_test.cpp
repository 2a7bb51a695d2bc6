// The "hand" request: the password hash, the handset data from the telephony layer, the body, every
// status of the reply with its boxes, and what a successful reply sets.
#include <gtest/gtest.h>

#include <fstream>

#include "location/cell_monitor.h"
#include "platform/device_profile.h"
#include "protocol/configuration.h"
#include "protocol/handshake.h"
#include "protocol/transport_state.h"
#include "resources/texts.h"
#include "tests/protocol/exchange_fixture.h"

namespace {

using pelmora_test::XmlReply;

constexpr char kHandset[] = R"(<?xml version="1.0" encoding="UTF-8" ?>
<Device>
    <Handset manufacturer="Demo" model="PPC-2003" revision="4.21.1088" serial="354500001234567"
             subscriber="+79161234567" operator="25001"/>
</Device>)";

constexpr char kHashOfSecret[] = "5ebe2294ecd0e0f08eab7690d2a6ee69";  // MD5 of "secret"
constexpr wchar_t kUntouched[] = L"untouched";

std::string ProfilePath() {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "pelmora-handset-" + std::to_string(GetCurrentProcessId()) + ".xml";
}

void UseHandsetProfile(const char* text) {
    {
        std::ofstream file(ProfilePath(), std::ios::binary | std::ios::trunc);
        file << text;
    }
    LoadDeviceProfile(ProfilePath());
    DeleteFileA(ProfilePath().c_str());
}

pelmora_test::FakeReply Hand(const std::string& elements) { return XmlReply("<handshake>" + elements + "</handshake>"); }

class HandshakeTest : public ExchangeTest {
protected:
    void SetUp() override {
        ExchangeTest::SetUp();
        UseHandsetProfile(kHandset);
        context->userId = "ivan@example.ru";
        context->passHash = kHashOfSecret;
        context->statusText = kUntouched;
    }
    void TearDown() override {
        LoadDeviceProfile(ProfilePath());  // missing: the empty profile again
        ExchangeTest::TearDown();
    }
};

TEST(PasswordHash, IsTheMd5OfThePasswordBytesInLowerCaseHex) {
    const struct {
        std::string password;
        const char* digest;
    } vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {"\xEF\xE0\xF0\xEE\xEB\xFC", "749789e4982b0c563f6729aac100a614"},  // "пароль" in Windows-1251
    };
    for (const auto& vector : vectors) {
        std::string digits = "stale";
        ASSERT_TRUE(HashPassword(vector.password, &digits)) << vector.password;
        EXPECT_EQ(vector.digest, digits) << vector.password;
    }
}

TEST_F(HandshakeTest, GathersTheHandsetFromTheTelephonyLayer) {
    TerminalInfo info;
    ASSERT_TRUE(GatherTerminalInfo(&info));
    EXPECT_EQ("Demo", info.manufacturer);
    EXPECT_EQ("PPC-2003", info.model);
    EXPECT_EQ("4.21.1088", info.revision);
    EXPECT_EQ("354500001234567", info.serialNumber);
    EXPECT_EQ("+79161234567", info.subscriberNumber);
    EXPECT_EQ("250", info.countryCode);
    EXPECT_EQ("01", info.networkCode);

    UseHandsetProfile("<Device/>");
    ASSERT_TRUE(GatherTerminalInfo(&info));
    EXPECT_EQ("", info.model);
    EXPECT_EQ("", info.subscriberNumber);
    EXPECT_EQ("", info.networkCode);
}

TEST_F(HandshakeTest, SendsUserAndHandsetAndTheOwnNameOnlyWhenThereIsOne) {
    server.Push(Hand("<status>0</status><token>A1</token>"));
    server.Push(Hand("<status>0</status><token>A2</token>"));
    EXPECT_TRUE(Handshake(*context));
    context->subName = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";  // "Иван"
    EXPECT_TRUE(Handshake(*context));

    const std::string body = std::string("client_id=2&client_ver=1&user_id=ivan@example.ru&auth=") + kHashOfSecret +
                             "&terminal_osn=2&terminal_firmver=4.21.1088&terminal_model=PPC-2003"
                             "&user_subid=%2B79161234567";
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(Envelope("hand", body), requests[0]);
    EXPECT_EQ(Envelope("hand", body + "&user_name=\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"), requests[1]);
    EXPECT_EQ("A2", context->token);
    EXPECT_EQ("250", context->countryCode);
    EXPECT_EQ("01", context->networkCode);
}

TEST_F(HandshakeTest, RefusalsShowTheirBoxesAndOfferTheUpdate) {
    const struct {
        const char* elements;
        int answer;
        const wchar_t* box;  // null: no box
        UINT flags;
        const wchar_t* opened;  // null: the browser is not opened
        const wchar_t* shown;
    } cases[] = {
        {"<status>1</status>", IDOK, kTextUnknownUser, 0x10, nullptr, kUntouched},
        {"<status>2</status><updateurl>http://u.example/p.cab</updateurl>", IDOK, kTextClientOutdated, 0x11,
         L"http://u.example/p.cab", kUntouched},
        {"<status>2</status><updateurl>http://u.example/p.cab</updateurl>", IDCANCEL, kTextClientOutdated, 0x11,
         nullptr, kUntouched},
        {"<status>2</status>", IDOK, kTextClientOutdated, 0x11, nullptr, kUntouched},
        {"<status>3</status><token>A</token>", IDOK, nullptr, 0, nullptr, kTextServiceSuspended},
        {"<status>7</status><token>A</token>", IDOK, nullptr, 0, nullptr, kUntouched},
        {"<status/><token>A</token>", IDOK, nullptr, 0, nullptr, kUntouched},
        {"<token>A</token>", IDOK, nullptr, 0, nullptr, kUntouched},
    };
    for (const auto& testCase : cases) {
        server.Push(Hand(testCase.elements));
        boxes.clear();
        openedAddresses.clear();
        context->statusText = kUntouched;
        context->token = "OLD";
        AnswerNextBox(testCase.answer);
        EXPECT_FALSE(Handshake(*context)) << testCase.elements;
        EXPECT_EQ("OLD", context->token) << testCase.elements;
        EXPECT_EQ(std::wstring(testCase.shown), context->statusText) << testCase.elements;
        if (testCase.box == nullptr) {
            EXPECT_TRUE(boxes.empty()) << testCase.elements;
        } else if (boxes.size() == 1) {
            EXPECT_EQ(mainWindow, boxes[0].owner);
            EXPECT_EQ(testCase.box, boxes[0].text);
            EXPECT_EQ(kTextErrorCaptionRussian, boxes[0].caption);
            EXPECT_EQ(testCase.flags, boxes[0].flags);
        } else {
            ADD_FAILURE() << boxes.size() << " boxes for " << testCase.elements;
        }
        EXPECT_EQ(testCase.opened == nullptr ? 0u : 1u, openedAddresses.size()) << testCase.elements;
        if (testCase.opened != nullptr && !openedAddresses.empty()) {
            EXPECT_EQ(testCase.opened, openedAddresses[0]);
        }
    }
}

TEST_F(HandshakeTest, AcceptanceOffersAnUpdateAndGoesOnWhateverTheAnswer) {
    for (int answer : {IDCANCEL, IDOK}) {
        server.Push(Hand("<status>0</status><updateurl>http://u.example/new.cab</updateurl><token>B</token>"));
        boxes.clear();
        AnswerNextBox(answer);
        EXPECT_TRUE(Handshake(*context));
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(mainWindow, boxes[0].owner);
        EXPECT_EQ(kTextNewVersionOffer, boxes[0].text);
        EXPECT_EQ(kTextNewVersionCaption, boxes[0].caption);
        EXPECT_EQ(0x41u, boxes[0].flags);
    }
    ASSERT_EQ(1u, openedAddresses.size());
    EXPECT_EQ(L"http://u.example/new.cab", openedAddresses[0]);

    boxes.clear();
    server.Push(Hand("<status>0</status><token>C</token>"));
    EXPECT_TRUE(Handshake(*context));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ("C", context->token);
}

TEST_F(HandshakeTest, FailsWithoutATokenOrAReply) {
    server.Push(Hand("<status>0</status>"));
    server.Push(Hand("<status>0</status><token/>"));
    server.Push(XmlReply("<hand><status>0</status><token>X</token></hand>"));
    context->token = "OLD";
    for (int attempt = 0; attempt < 3; ++attempt) EXPECT_FALSE(Handshake(*context)) << attempt;
    EXPECT_EQ("OLD", context->token);
    EXPECT_EQ(kUntouched, context->statusText);

    context->transport->serverAddress.sin_port = htons(pelmora_test::FakeServer::UnusedPort());
    EXPECT_FALSE(Handshake(*context));
    EXPECT_EQ(kTextTransferError, context->statusText);
}

TEST_F(HandshakeTest, StoresModeAndUserNameAndResetsAMissingMode) {
    server.Push(Hand("<status>0</status><token>A</token><mode>2</mode>"
                     "<userName>\xD0\x9F\xD1\x91\xD1\x82\xD1\x80</userName>"));
    server.Push(Hand("<status>0</status><token>B</token>"));
    ASSERT_TRUE(Handshake(*context));
    EXPECT_EQ(static_cast<AccountMode>(2), context->accountMode);
    EXPECT_EQ(L"Пётр", context->userName);
    ASSERT_TRUE(Handshake(*context));
    EXPECT_EQ(AccountMode::Normal, context->accountMode);
    EXPECT_EQ(L"", context->userName);
}

TEST_F(HandshakeTest, AnAddressChangesOnlyTheAddressAndANameChangesBoth) {
    server.Push(Hand("<status>0</status><token>A</token><host>10.0.0.1</host>"));
    ASSERT_TRUE(Handshake(*context));
    EXPECT_EQ("localhost", context->serverHost);
    EXPECT_EQ(inet_addr("10.0.0.1"), context->transport->serverAddress.sin_addr.s_addr);
    EXPECT_EQ(server.Port(), ntohs(context->transport->serverAddress.sin_port));

    // From the loopback address by number to the same server by name.
    context->serverHost = "127.0.0.1";
    context->transport->serverAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.Push(Hand("<status>0</status><token>B</token><host>localhost</host>"));
    server.Push(XmlReply("<config/>"));
    ASSERT_TRUE(Handshake(*context));
    EXPECT_EQ("localhost", context->serverHost);
    EXPECT_EQ(htonl(INADDR_LOOPBACK), context->transport->serverAddress.sin_addr.s_addr);
    ASSERT_TRUE(GetConfiguration(*context));
    const auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(0u, requests[1].find("POST http://127.0.0.1 HTTP/1.0\r\nHost: hand.127.0.0.1\r\n"));
    EXPECT_EQ(Envelope("config", "token=B&config_get=0", "localhost"), requests[2]);
}

TEST(MethodList, TakesTheFirstMethodAndEverySiblingAfterIt) {
    const struct {
        const char* elements;
        std::vector<std::optional<CellMethod>> methods;
    } cases[] = {
        {"<status>0</status>", {}},
        {"<method>-1</method>", {CellMethod::Off}},
        {"<method>2</method><method>1</method>", {CellMethod::Com2, CellMethod::Radio}},
        {"<other>9</other><method>0</method>", {CellMethod::Probe}},
        {"<method>3</method><token>abc</token><method/><mode>1</mode>",
         {CellMethod::Com9, CellMethod::Probe, std::nullopt, CellMethod::Radio}},
        {"<method>01</method><method> 1</method><method>7</method><method>-5x</method>",
         {CellMethod::Radio, CellMethod::Radio, static_cast<CellMethod>(7), static_cast<CellMethod>(-5)}},
    };
    for (const auto& testCase : cases) {
        TiXmlDocument document;
        ParseReplyDocument(std::string("<handshake>") + testCase.elements + "</handshake>", &document);
        EXPECT_EQ(testCase.methods, ReadMethodList(document.FirstChildElement("handshake"))) << testCase.elements;
    }
}

TEST_F(HandshakeTest, AProbeIsReportedAndAFailedOneWarnsOnTheLoginWindow) {
    CellMonitor& monitor = *context->cellMonitor;
    monitor.enabled = 1;
    monitor.probed = 1;
    monitor.method = CellMethod::Com2;
    server.Push(XmlReply("<config><status>0</status></config>"));
    server.Push(XmlReply("<config><status>4</status></config>"));
    EXPECT_TRUE(FinishMethodChoice(*context, MethodChoice::ProbeFound));
    EXPECT_FALSE(FinishMethodChoice(*context, MethodChoice::ProbeFound)) << "a refused report fails the handshake";
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(Envelope("config", "token=T0K&method_use=2"), requests[0]);

    for (MethodChoice quiet : {MethodChoice::Opened, MethodChoice::SwitchedOff, MethodChoice::Exhausted}) {
        EXPECT_TRUE(FinishMethodChoice(*context, quiet));
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(2u, server.RequestCount());

    EXPECT_TRUE(FinishMethodChoice(*context, MethodChoice::ProbeFailed));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(loginWindow, boxes[0].owner);
    EXPECT_EQ(kTextNoCellLocation, boxes[0].text);
    EXPECT_EQ(kTextErrorCaptionRussian, boxes[0].caption);
    EXPECT_EQ(0x10u, boxes[0].flags);
}

// The whole handshake with the method list walked by the real cell sources of the device layer.
class MethodWalkTest : public HandshakeTest {
protected:
    void UseDevice(const char* radioMode) {
        UseHandsetProfile((std::string("<Device><Radio mode=\"") + radioMode + "\"/></Device>").c_str());
        CellMonitor& monitor = *context->cellMonitor;
        monitor.enabled = 1;
        monitor.probed = 0;
        monitor.method = CellMethod::Probe;
    }
    bool HandshakeWithMethods(const std::string& methods) {
        server.Push(Hand("<status>0</status><token>T0K</token>" + methods));
        return Handshake(*context);
    }
};

TEST_F(MethodWalkTest, MinusOneSwitchesLocationOffWithoutAProbe) {
    UseDevice("none");
    EXPECT_TRUE(HandshakeWithMethods("<method>-1</method><method>1</method>"));
    EXPECT_EQ(0, context->cellMonitor->enabled);
    EXPECT_EQ(0, context->cellMonitor->probed);
    EXPECT_EQ(CellMethod::Probe, context->cellMonitor->method);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(1u, server.RequestCount()) << "no method report";
}

TEST_F(MethodWalkTest, NamedSourcesAreTriedInTheServersOrder) {
    UseDevice("silent");  // the radio layer opens; there are no serial ports
    EXPECT_TRUE(HandshakeWithMethods("<method>2</method><method>1</method>"));
    EXPECT_EQ(CellMethod::Radio, context->cellMonitor->method) << "COM2: missing, then the radio";
    EXPECT_EQ(1, context->cellMonitor->enabled);

    UseDevice("silent");
    EXPECT_TRUE(HandshakeWithMethods("<method>3</method>"));
    EXPECT_EQ(CellMethod::Com9, context->cellMonitor->method) << "no COM9: keeps the method and the log-in goes on";
    EXPECT_EQ(1, context->cellMonitor->enabled);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(2u, server.RequestCount());
}

TEST_F(MethodWalkTest, ZeroWarnsThenProbesAndReportsAFailedProbe) {
    UseDevice("none");
    EXPECT_TRUE(HandshakeWithMethods("<method>0</method><method>1</method>"));
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ(loginWindow, boxes[0].owner);
    EXPECT_EQ(kTextProbeWarning, boxes[0].text);
    EXPECT_EQ(kTextAttentionCaption, boxes[0].caption);
    EXPECT_EQ(0x30u, boxes[0].flags);
    EXPECT_EQ(kTextCantInitializeRadio, boxes[1].text);
    EXPECT_EQ(nullptr, boxes[1].owner);
    EXPECT_EQ(L"", boxes[1].caption) << "no caption";
    EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[1].flags);
    EXPECT_EQ(kTextNoCellLocation, boxes[2].text);
    EXPECT_EQ(CellMethod::Off, context->cellMonitor->method);
    EXPECT_EQ(0, context->cellMonitor->enabled);
    EXPECT_EQ(1, context->cellMonitor->probed);
    EXPECT_EQ(1u, server.RequestCount()) << "nothing found, nothing reported";
}

// A reply naming the radio layer a thousand times must not ask the user a thousand times.
TEST_F(MethodWalkTest, ARepeatedSourceIsTriedOnceAndTheWalkEndsOnTheLastOneTried) {
    const struct {
        int radioRepeats;
        const char* after;
        std::size_t boxes;
        CellMethod method;
    } cases[] = {{1000, "<method>3</method>", 1, CellMethod::Com9},
                 {1000, "<method>2</method><method>1</method>", 2, CellMethod::Radio}};
    for (const auto& testCase : cases) {
        UseDevice("none");
        boxes.clear();
        std::string methods;
        for (int repeat = 0; repeat < testCase.radioRepeats; ++repeat) methods += "<method>1</method>";
        EXPECT_TRUE(HandshakeWithMethods(methods + testCase.after));
        EXPECT_EQ(testCase.boxes, boxes.size()) << testCase.after;
        for (const ShownBox& box : boxes) EXPECT_EQ(kTextCantInitializeRadio, box.text);
        EXPECT_EQ(testCase.method, context->cellMonitor->method) << testCase.after;
    }
}

TEST_F(MethodWalkTest, AStrayElementAfterTheMethodsReadsAsZero) {
    UseDevice("none");
    EXPECT_TRUE(HandshakeWithMethods("<method>3</method><note>later</note>"));
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(kTextProbeWarning, boxes[0].text) << "\"later\" has no digits: a probe";
    EXPECT_EQ(CellMethod::Off, context->cellMonitor->method);
}

}  // namespace
