// The client's own request functions against the reference server with the demo data: the phone at
// home on Пятницкая (cell 7704/40403 of network 250-01) reads its cell from the phone simulator and
// logs in as the demo account, as the log-in and the report cycle do it.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/message_box.h"
#include "app/private_hours.h"
#include "app/shell_frontend.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "location/location_report.h"
#include "location/place_mark.h"
#include "location/place_mark_requests.h"
#include "phonesim_process.h"
#include "platform/durations.h"
#include "protocol/configuration.h"
#include "protocol/groups.h"
#include "protocol/handshake.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"
#include "resources/texts.h"
#include "screens/configuration_tab.h"
#include "server_process.h"

namespace {

constexpr char kDemoEmail[] = "demo@pelmora.ru";
constexpr char kDemoPassword[] = "pelmora";
constexpr char kHomeCell[] = "1E18,9DD3";  // 7704/40403 as the modem reports it
constexpr wchar_t kHomeAddress[] = L"Москва, ул. Пятницкая, 41";
constexpr wchar_t kWindowClass[] = L"IntegrationMainWnd";

struct ShownBox {
    std::wstring text;
    std::wstring caption;
    UINT flags;
};

struct SeenPerson {
    std::wstring name;
    std::wstring address;
    bool operator==(const SeenPerson& other) const { return name == other.name && address == other.address; }
};

std::ostream& operator<<(std::ostream& out, const SeenPerson& person) {
    return out << "{" << testing::PrintToString(person.name) << ", " << testing::PrintToString(person.address) << "}";
}

std::vector<std::wstring> Titles(const GroupList& groups) {
    std::vector<std::wstring> titles;
    for (const Group& group : groups) titles.push_back(group.title);
    return titles;
}

std::vector<SeenPerson> People(const Group& group) {
    std::vector<SeenPerson> people;
    for (const Person& person : group.people) people.push_back({person.name, person.address});
    return people;
}

const Group* FindGroup(const GroupList& groups, const std::wstring& title) {
    for (const Group& group : groups) {
        if (group.title.rfind(title + L" (", 0) == 0) return &group;
    }
    return nullptr;
}

class DemoSession : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(phone.Start({"--cell", kHomeCell}));
        ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("modem", phone.Endpoint(), {}, "25001")));
        SetEnvironmentVariableA("PELMORA_SERVICE_HOST", "localhost");
        SetEnvironmentVariableA("PELMORA_SERVICE_PORT", std::to_string(server.Port()).c_str());
        Durations& durations = GetDurations();
        durations.radioPollMs = 100;
        durations.radioWaitMs = 100;
        durations.modemWaitMs = 2000;
        durations.requestWatchdogMs = 15000;
        durations.connectionWaitMs = 2000;

        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWindowClass;
        RegisterClassW(&windowClass);
        mainWindow = CreateWindowW(kWindowClass, L"main", WS_POPUP, 0, 0, 240, 300, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, mainWindow);
        ASSERT_TRUE(CreateAppContext());
        context = GetAppContext();
        context->frontend = std::make_unique<ShellFrontend>(*context);
        context->mainWindow = mainWindow;
        context->loginWindow = mainWindow;
        ASSERT_TRUE(CreateCellMonitor());
        context->cellMonitor = GetCellMonitor();
        SetMessageBoxAnswerer([this](HWND, const wchar_t* text, const wchar_t* caption, UINT flags) {
            boxes.push_back({text, caption != nullptr ? caption : L"", flags});
            return IDOK;
        });
    }

    void TearDown() override {
        SetMessageBoxAnswerer(nullptr);
        if (context != nullptr) StopNetwork(*context);
        DestroyCellMonitor();
        DestroyAppContext();
        if (mainWindow != nullptr) DestroyWindow(mainWindow);
        GetDurations() = Durations();
        UseDeviceProfile("<Device/>");
    }

    // The steps of the log-in up to the handshake: the network, the server's address, the hash.
    void Connect(const char* email, const char* password) {
        context->userId = email;
        ASSERT_TRUE(StartNetwork(*context));
        context->serverHost = GetServiceHost();
        ASSERT_TRUE(ResolveServerHost(*context, context->serverHost));
        ASSERT_TRUE(HashPassword(password, &context->passHash));
    }

    // The whole log-in of the demo account: handshake, first reading, configuration, first report.
    void LogIn() {
        Connect(kDemoEmail, kDemoPassword);
        ASSERT_TRUE(Handshake(*context));
        TakeFirstReading(context->cellMonitor);
        ASSERT_TRUE(GetConfiguration(*context));
        ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    }

    DemoServer server;
    PhoneSim phone;
    HWND mainWindow = nullptr;
    AppContext* context = nullptr;
    std::vector<ShownBox> boxes;
};

TEST_F(DemoSession, TheLogInReportsThePlaceAndTheGroupsShowTheDemoPeople) {
    Connect(kDemoEmail, kDemoPassword);
    EXPECT_EQ("localhost", context->serverHost);
    EXPECT_EQ(htonl(INADDR_LOOPBACK), context->transport->serverAddress.sin_addr.s_addr);
    EXPECT_EQ(server.Port(), ntohs(context->transport->serverAddress.sin_port));
    EXPECT_EQ("5ef81f0bf48880bff0addd8443f2b381", context->passHash) << "MD5 of \"pelmora\"";

    ASSERT_TRUE(Handshake(*context));
    EXPECT_EQ(32u, context->token.size()) << context->token;
    EXPECT_EQ(std::string::npos, context->token.find_first_not_of("0123456789abcdef")) << context->token;
    EXPECT_EQ(L"Алексей Смирнов", context->userName);
    EXPECT_EQ(AccountMode::Normal, context->accountMode);
    EXPECT_EQ("250", context->countryCode);
    EXPECT_EQ("01", context->networkCode);
    // The demo offers the methods 1, 2, 3: the radio layer, the first, opens.
    EXPECT_EQ(CellMethod::Radio, context->cellMonitor->method);
    EXPECT_EQ(0, context->cellMonitor->probed);
    EXPECT_EQ(1, context->cellMonitor->enabled);
    EXPECT_TRUE(boxes.empty());

    TakeFirstReading(context->cellMonitor);
    ASSERT_EQ(3u, context->cellMonitor->history.size());
    for (const CellIdentity& cell : context->cellMonitor->history) {
        EXPECT_EQ(7704, cell.lac);
        EXPECT_EQ(40403, cell.cid);
    }

    context->rateMode = static_cast<RateMode>(7);
    context->visibility = static_cast<Visibility>(7);
    context->privateTime = 7;
    context->forceGps = 7;
    context->levelGps = 7;
    ASSERT_TRUE(GetConfiguration(*context));
    EXPECT_EQ(RateMode::Optimal, context->rateMode);
    EXPECT_EQ(Visibility::Visible, context->visibility);
    EXPECT_EQ(0, context->privateTime);
    EXPECT_EQ(0, context->forceGps);
    EXPECT_EQ(0, context->levelGps);

    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    EXPECT_EQ(1, context->reportStatus);
    EXPECT_EQ(300, context->reportInterval);
    const PlaceMark& place = context->placeMark;
    EXPECT_GT(place.id, 0);
    EXPECT_EQ(0, place.scope);
    EXPECT_EQ(L"Дом", place.title);
    EXPECT_EQ(L"ул. Пятницкая", place.street);
    EXPECT_EQ(L"41", place.house);
    EXPECT_EQ(L"", place.building);
    EXPECT_EQ(kHomeAddress, place.address);

    // Vanya keeps his evenings, nights and weekends to himself; the server goes by the same clock.
    const bool vanyaPrivateBefore = IsPrivateTime(GetLocalClock());
    FetchGroups(*context);
    const bool vanyaPrivateAfter = IsPrivateTime(GetLocalClock());
    ASSERT_EQ((std::vector<std::wstring>{L"Семья (3)", L"Друзья (4)", L"Работа (3)"}), Titles(context->groups));
    const SeenPerson marina = {L"Марина Смирнова: ", L"Дом, ул. Пятницкая, д.41, 0.0 км"};
    const SeenPerson dmitry = {L"Дмитрий Волков: ", L"Москва, Комсомольская площадь, 3, 4.7 км"};
    const std::vector<SeenPerson> family = People(context->groups[0]);
    ASSERT_EQ(2u, family.size());
    EXPECT_EQ(L"Ваня Смирнов: ", family[0].name);
    if (vanyaPrivateBefore == vanyaPrivateAfter) {
        EXPECT_EQ(vanyaPrivateBefore ? L"" : L"Дом, ул. Пятницкая, д.41, 0.0 км", family[0].address);
    }
    EXPECT_EQ(marina, family[1]);
    EXPECT_EQ((std::vector<SeenPerson>{dmitry, marina, {L"Ольга Кузнецова: ", L"Москва, ул. Арбат, 54, 3.1 км"}}),
              People(context->groups[1]));
    // Sergey is invisible: named, but nowhere.
    EXPECT_EQ((std::vector<SeenPerson>{dmitry, {L"Сергей Новиков: ", L""}}), People(context->groups[2]));
    for (const Group& group : context->groups) EXPECT_GT(group.id, 0);

    EXPECT_EQ((std::vector<std::string>{"hand demo@pelmora.ru ok", "config demo@pelmora.ru ok",
                                        "isee demo@pelmora.ru ok", "ineed demo@pelmora.ru ok"}),
              server.Requests());
}

TEST_F(DemoSession, AMarkNamedHereShowsInTheNextReportUntilItIsDeleted) {
    LogIn();
    FetchGroups(*context);
    const Group* work = FindGroup(context->groups, L"Работа");
    ASSERT_NE(nullptr, work);

    PlaceMark mark;
    mark.scope = 3;
    mark.group = work->id;
    mark.title = L"Кафе «Пушкинъ» & бар <1+1=2>";
    mark.street = L"ул. Пятницкая";
    mark.house = L"41";
    mark.building = L"с2";
    mark.tags = L"обед";
    ASSERT_TRUE(SendPlaceMark(*context, mark));
    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    PlaceMark shown = context->placeMark;
    EXPECT_GT(shown.id, 0);
    EXPECT_EQ(3, shown.scope);
    EXPECT_EQ(work->id, shown.group);
    EXPECT_EQ(mark.title, shown.title);
    EXPECT_EQ(mark.street, shown.street);
    EXPECT_EQ(mark.house, shown.house);
    EXPECT_EQ(mark.building, shown.building);
    EXPECT_EQ(kHomeAddress, shown.address);

    ASSERT_TRUE(DeletePlaceMark(*context, shown));
    ASSERT_TRUE(SendLocationReport(*context, context->placeMark));
    // One mark per person and cell: the new one had taken the place of "Дом", so nothing is left.
    EXPECT_EQ(0, context->placeMark.id);
    EXPECT_EQ(L"", context->placeMark.title);
    EXPECT_EQ(kHomeAddress, context->placeMark.address);
    EXPECT_FALSE(DeletePlaceMark(*context, shown)) << "a mark deleted once is gone";

    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(9u, requests.size());
    EXPECT_EQ((std::vector<std::string>{"itake demo@pelmora.ru ok", "isee demo@pelmora.ru ok",
                                        "cancel demo@pelmora.ru ok", "isee demo@pelmora.ru ok",
                                        "cancel demo@pelmora.ru status 1"}),
              std::vector<std::string>(requests.begin() + 4, requests.end()));
}

TEST_F(DemoSession, VisibilityAndSettingsReachTheServer) {
    LogIn();
    // Marina, in the same family and in the same cell, sees the demo account at home until it turns
    // invisible, and again once it is visible.
    const auto marinaSeesDemo = [this] {
        context->userId = "marina@pelmora.ru";
        EXPECT_TRUE(Handshake(*context));
        EXPECT_EQ(L"Марина Смирнова", context->userName);
        FetchGroups(*context);
        const Group* family = FindGroup(context->groups, L"Семья");
        context->userId = kDemoEmail;
        EXPECT_TRUE(Handshake(*context));
        if (family == nullptr) return SeenPerson{L"no family", L""};
        for (const SeenPerson& person : People(*family)) {
            if (person.name == L"Алексей Смирнов: ") return person;
        }
        return SeenPerson{L"not in the family", L""};
    };
    const SeenPerson atHome = {L"Алексей Смирнов: ", std::wstring(kHomeAddress) + L", 0.0 км"};
    EXPECT_EQ(atHome, marinaSeesDemo());
    SendVisibility(*context, Visibility::Invisible);
    EXPECT_EQ((SeenPerson{L"Алексей Смирнов: ", L""}), marinaSeesDemo());
    SendVisibility(*context, Visibility::Visible);
    EXPECT_EQ(atHome, marinaSeesDemo());

    context->rateMode = RateMode::CellChange;
    context->privateTime = 1;
    context->subName = "Лёша";
    ActOnSaveVerdict(SaveConfiguration(*context), 0);
    EXPECT_EQ(kTextSettingsSaved, context->statusText);

    // The next log-in brings the settings back, and the name the phone gave.
    context->rateMode = RateMode::Optimal;
    context->privateTime = 0;
    context->subName.clear();
    ASSERT_TRUE(Handshake(*context));
    EXPECT_EQ(L"Лёша", context->userName);
    ASSERT_TRUE(GetConfiguration(*context));
    EXPECT_EQ(RateMode::CellChange, context->rateMode);
    EXPECT_EQ(1, context->privateTime);
    EXPECT_EQ(Visibility::Visible, context->visibility);
}

TEST_F(DemoSession, AWrongPasswordIsRefusedWithTheUnknownUserBox) {
    Connect(kDemoEmail, "pelmora1");
    context->token = "before";
    EXPECT_FALSE(Handshake(*context));
    EXPECT_EQ("before", context->token);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(kTextUnknownUser, boxes[0].text);
    EXPECT_EQ(kTextErrorCaptionRussian, boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes[0].flags);
    EXPECT_EQ((std::vector<std::string>{"hand demo@pelmora.ru status 1"}), server.Requests());
}

}  // namespace
