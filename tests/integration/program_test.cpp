// Pelmora itself, copied into a folder of its own with the demo account's settings and a phone
// simulator walking the demo cells as its modem. Against the demo server it logs in by itself, shows
// its place on the Me tab, and ends when the configuration tab's "Закрыть программу совсем" is
// pressed. Against a hostile service it outlives group lists nested far too deep.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/app_context.h"
#include "app/main_window.h"
#include "app/status_line.h"
#include "app/tab_header.h"
#include "native_process.h"
#include "phonesim_process.h"
#include "platform/screen_metrics.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "server_process.h"
#include "tests/support/fake_server.h"
#include "tests/support/picture.h"

namespace {

constexpr DWORD kLogInTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 15000;
constexpr char kPassHash[] = "5ef81f0bf48880bff0addd8443f2b381";  // MD5 of "pelmora"
// From home on Пятницкая (7704/40403) northwards, a minute in each cell; LAC and CI as the modem
// reports them.
constexpr char kRoute[] = "60 1E18 9DD3\n60 1E18 9DD2\n60 1E18 9DD1\n";

void WriteFile(const std::string& windowsPath, const std::string& text) {
    std::ofstream file(windowsPath, std::ios::binary | std::ios::trunc);
    file << text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// Asks `done` every 100 ms until it holds or `timeoutMs` pass.
bool WaitFor(DWORD timeoutMs, const std::function<bool()>& done) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() > deadline) return false;
        Sleep(100);
    }
    return true;
}

struct WindowSearch {
    DWORD process;
    std::vector<HWND> windows;
};

// The top-level windows of one process.
std::vector<HWND> WindowsOf(DWORD process) {
    WindowSearch search = {process, {}};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == search->process) search->windows.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

// A copy of the program in a scratch folder of its own, with the demo account's settings for an
// automatic log-in and the phone simulator walking the demo cells as its modem.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = UniqueScratchPath("program");
        ASSERT_TRUE(CreateDirectoryA(WindowsPath(folder).c_str(), nullptr));
        WriteFile(WindowsPath(folder + "/route.txt"), kRoute);
        ASSERT_TRUE(phone.Start({"--route", folder + "/route.txt"}, 2));
        ASSERT_TRUE(CopyFileA(PELMORA_PROGRAM, WindowsPath(folder + "/pelmora.exe").c_str(), FALSE));
        WriteFile(WindowsPath(folder + "/device.xml"),
                  DeviceProfileText("modem", phone.Endpoint(0), {{"COM2:", phone.Endpoint(1)}}, "25001"));
        // Written the way no writer of the program writes it, so that the log-in's rewrite shows.
        WriteFile(WindowsPath(folder + "/settings.xml"),
                  std::string("<Settings><UserID>demo@pelmora.ru</UserID><AutoLogIn>1</AutoLogIn><PassHash>") +
                      kPassHash + "</PassHash><AutoRun>0</AutoRun></Settings>");
    }

    void TearDown() override {
        if (program.hProcess != nullptr) {
            if (WaitForSingleObject(program.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(program.hProcess, 1);
            WaitForSingleObject(program.hProcess, kExitTimeoutMs);
            CloseHandle(program.hProcess);
            CloseHandle(program.hThread);
        }
        for (const char* name : {"pelmora.exe", "settings.xml", "device.xml", "route.txt"}) {
            DeleteFileA(WindowsPath(folder + "/" + name).c_str());
        }
        RemoveDirectoryA(WindowsPath(folder).c_str());
    }

    // Starts the copied program, told that the service is on `port` of this machine.
    bool StartProgram(unsigned short port) {
        SetEnvironmentVariableA("PELMORA_SERVICE_HOST", "localhost");
        SetEnvironmentVariableA("PELMORA_SERVICE_PORT", std::to_string(port).c_str());
        const std::wstring executable = WidePath(folder + "/pelmora.exe");
        std::wstring commandLine = L"\"" + executable + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        return CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              WidePath(folder).c_str(), &startup, &program) != FALSE;
    }

    static std::wstring WidePath(const std::string& linuxPath) {
        const std::string path = WindowsPath(linuxPath);
        return std::wstring(path.begin(), path.end());
    }

    // What the program shows at the top level, for a failure message: class and text of each window.
    std::string ShownWindows() const {
        std::wstring shown;
        for (HWND window : WindowsOf(program.dwProcessId)) {
            if (!IsWindowVisible(window)) continue;
            shown += L"[" + ClassOf(window) + L"] " + TextOf(window) + L"\n";
            for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
                if (IsWindowVisible(child)) shown += L"    [" + ClassOf(child) + L"] " + TextOf(child) + L"\n";
            }
        }
        return testing::PrintToString(shown);
    }

    bool HasEnded() const { return WaitForSingleObject(program.hProcess, 0) == WAIT_OBJECT_0; }

    // The program's main window and its Me tab, once they are shown (null until then).
    HWND MainWindow() const {
        for (HWND window : WindowsOf(program.dwProcessId)) {
            if (ClassOf(window) == L"PelMainWnd") return window;
        }
        return nullptr;
    }
    HWND MeTab() const {
        const HWND main = MainWindow();
        return main != nullptr ? FindWindowExW(main, nullptr, L"PelAITabWnd", nullptr) : nullptr;
    }

    PhoneSim phone;
    std::string folder;  // as Linux names it
    PROCESS_INFORMATION program = {};
};

class ProgramRun : public ProgramTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        ProgramTest::SetUp();
    }

    bool ServerGot(const std::string& request) const {
        const std::vector<std::string> requests = server.Requests();
        return std::find(requests.begin(), requests.end(), request) != requests.end();
    }

    DemoServer server;
};

TEST_F(ProgramRun, LogsInByItselfShowsItsPlaceAndClosesFromTheConfigurationTab) {
    ASSERT_TRUE(StartProgram(server.Port()));

    HWND main = nullptr;
    HWND meTab = nullptr;
    const bool shown = WaitFor(kLogInTimeoutMs, [&] {
        main = MainWindow();
        meTab = MeTab();
        return HasEnded() ||
               (meTab != nullptr && IsWindowVisible(meTab) && !TextOf(GetDlgItem(meTab, IDC_PLACE_LINE)).empty());
    });
    ASSERT_FALSE(HasEnded()) << "the program ended before its Me tab showed a place";
    ASSERT_TRUE(shown) << "no Me tab with a place line; the program shows:\n" << ShownWindows();
    EXPECT_EQ(L"Дом ул. Пятницкая, д.41", TextOf(GetDlgItem(meTab, IDC_PLACE_LINE)));
    EXPECT_TRUE(IsWindowVisible(main));

    // The groups are fetched once the main window is up.
    EXPECT_TRUE(WaitFor(kLogInTimeoutMs, [this] { return ServerGot("ineed demo@pelmora.ru ok"); }))
        << server.AccessLog();
    const std::vector<std::string> requests = server.Requests();
    ASSERT_GE(requests.size(), 4u) << server.AccessLog();
    EXPECT_EQ((std::vector<std::string>{"hand demo@pelmora.ru ok", "config demo@pelmora.ru ok",
                                        "isee demo@pelmora.ru ok", "ineed demo@pelmora.ru ok"}),
              std::vector<std::string>(requests.begin(), requests.begin() + 4));

    const HWND configurationTab = FindWindowExW(main, nullptr, L"PelConfigTabWnd", nullptr);
    ASSERT_NE(nullptr, configurationTab);
    const HWND quit = GetDlgItem(configurationTab, IDC_CONFIG_QUIT);
    ASSERT_NE(nullptr, quit);
    EXPECT_EQ(L"Закрыть программу совсем", TextOf(quit));
    ASSERT_TRUE(PostMessageW(configurationTab, WM_COMMAND, MAKEWPARAM(IDC_CONFIG_QUIT, BN_CLICKED),
                             reinterpret_cast<LPARAM>(quit)));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program.hProcess, kExitTimeoutMs)) << ShownWindows();
    DWORD exitCode = 1;
    ASSERT_TRUE(GetExitCodeProcess(program.hProcess, &exitCode));
    EXPECT_EQ(0u, exitCode);

    EXPECT_EQ(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n"
                          "<Settings>\n"
                          "    <AutoRun>0</AutoRun>\n"
                          "    <AutoLogIn>1</AutoLogIn>\n"
                          "    <UserID>demo@pelmora.ru</UserID>\n"
                          "    <PassHash>") +
                  kPassHash +
                  "</PassHash>\n"
                  "    <SubName />\n"
                  "</Settings>\n",
              ReadWholeFile(WindowsPath(folder + "/settings.xml")));
}

std::string NestedGroupList(int levels) {
    std::string elements = "<ineed>";
    for (int level = 1; level < levels; ++level) elements += "<a>";
    for (int level = 1; level < levels; ++level) elements += "</a>";
    return elements + "</ineed>";
}

// The service's answers by the kind in the Host header: a session, the settings (no private hours, so
// that the groups are asked for at any hour), a place numbered by the report, and group lists that
// follow `groupLists`, the last of them from then on.
class HostileService : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        server.AnswerWith([this](const std::string& request) { return Answer(request); });
        ASSERT_TRUE(CreateAppContext());
        AppContext& context = *GetAppContext();
        context.scale = GetScreenScale();
        context.loginPhase = true;  // only the status line is painted
        context.statusColor = kStatusBlack;
        CreateFonts(context);
    }
    void TearDown() override {
        ProgramTest::TearDown();
        DestroyAppContext();
    }

    pelmora_test::FakeReply Answer(const std::string& request) {
        const std::size_t host = request.find("\r\nHost: ");
        const std::string kind =
            host == std::string::npos ? std::string() : request.substr(host + 8, request.find('.', host) - host - 8);
        if (kind == "hand") {
            return pelmora_test::XmlReply(
                "<handshake><status>0</status><token>T0K</token><mode>0</mode><method>2</method></handshake>");
        }
        if (kind == "config") {
            return pelmora_test::XmlReply(
                "<config><config_rate>0</config_rate><config_privatetime>0</config_privatetime></config>");
        }
        if (kind == "isee") {
            const std::string number = std::to_string(++reports);
            return pelmora_test::XmlReply("<isee><status>1</status><timer>30</timer><sint><sint_id>" + number +
                                          "</sint_id><sint_title>\xD0\x9C\xD0\xB5\xD1\x81\xD1\x82\xD0\xBE " +
                                          number + "</sint_title><address_street>Tverskaya</address_street>"
                                                   "</sint></isee>");
        }
        if (kind == "ineed") {
            const std::size_t fetch = static_cast<std::size_t>(groupFetches++);
            return pelmora_test::XmlReply(groupLists[std::min(fetch, groupLists.size() - 1)]);
        }
        return pelmora_test::DroppedConnection();
    }

    // The text of the status line of the running program, and as PaintMainWindow paints `text` in a
    // main window of the same size: the same pixels when the program shows `text`. Only the inside of
    // the line's frame is compared: at 480x640 the program draws the frame's top a pixel lower.
    RECT StatusLine(HWND main) const {
        RECT client;
        GetClientRect(main, &client);
        const int s = GetAppContext()->scale;
        GetAppContext()->contentRect = {0, 5 * s, client.right, client.bottom - 15 * s};
        return {0, client.bottom - 16 * s, client.right, client.bottom};
    }
    static RECT InsideFrame(const RECT& line) { return {line.left + 1, line.top + 2, line.right - 1, line.bottom - 2}; }
    std::vector<COLORREF> ShownStatus(HWND main) const {
        const RECT line = StatusLine(main);
        POINT origin = {0, 0};
        ClientToScreen(main, &origin);
        pelmora_test::Picture picture(line.right, line.bottom - line.top);
        picture.TakeScreen(origin.x, origin.y + line.top);
        return picture.Colours(InsideFrame({0, 0, line.right, line.bottom - line.top}));
    }
    std::vector<COLORREF> PaintedStatus(HWND main, const wchar_t* text) const {
        const RECT line = StatusLine(main);
        GetAppContext()->statusText = text;
        pelmora_test::Picture picture(line.right, line.bottom);
        PaintMainWindow(picture.dc());
        return picture.Colours(InsideFrame(line));
    }

    // Whether the group tab shows anyone: their names are drawn in blue.
    bool PeopleShown(HWND main) const {
        const HWND groupTab = FindWindowExW(main, nullptr, L"PelGroupTabWnd", nullptr);
        RECT area;
        GetWindowRect(groupTab, &area);
        pelmora_test::Picture picture(area.right - area.left, area.bottom - area.top);
        picture.TakeScreen(area.left, area.top);
        return picture.AnyIn({0, 0, area.right - area.left, area.bottom - area.top}, [](COLORREF colour) {
            return GetBValue(colour) > 200 && GetRValue(colour) < 120 && GetGValue(colour) < 120;
        });
    }

    std::atomic<int> reports{0};
    std::atomic<int> groupFetches{0};
    std::vector<std::string> groupLists;
    pelmora_test::FakeServer server;
};

constexpr DWORD kReportCycleTimeoutMs = 70000;
constexpr DWORD kStatusTimeoutMs = 15000;

// 10,000 levels overflow the parser's stack; 1,000,000 (7 MB) come close to the reply limit. Each is
// refused as a failed transfer, the program lives on, and the next report cycle comes 30 seconds
// later as the server asked: its report is read and its group list shown.
TEST_F(HostileService, AGroupListNestedTooDeepIsATransferErrorAndTheNextCycleWorks) {
    groupLists = {NestedGroupList(10000), NestedGroupList(1000000),
                  "<ineed><groups><group><title>T</title><group_id>1</group_id><users><user><user_id>2</user_id>"
                  "<name>Nina</name><address>Home</address></user></users></group></groups></ineed>"};
    ASSERT_TRUE(StartProgram(server.Port()));
    const struct {
        int fetch;
        const wchar_t* status;
        const wchar_t* place;
        bool peopleShown;
    } stages[] = {
        {1, kTextTransferError, L"Место 1 Tverskaya", false},
        {2, kTextTransferError, L"Место 2 Tverskaya", false},
        {3, kTextIdleProductLine, L"Место 3 Tverskaya", true},
    };
    for (const auto& stage : stages) {
        ASSERT_TRUE(WaitFor(kReportCycleTimeoutMs, [&] { return HasEnded() || groupFetches >= stage.fetch; }))
            << "group list " << stage.fetch << " never asked for; the program shows:\n" << ShownWindows();
        ASSERT_FALSE(HasEnded()) << "the program ended at group list " << stage.fetch;
        const HWND main = MainWindow();
        ASSERT_NE(nullptr, main);
        if (stage.fetch == 1) PostMessageW(main, WM_KEYDOWN, VK_RIGHT, 0);  // on to the group tab
        const std::vector<COLORREF> expected = PaintedStatus(main, stage.status);
        EXPECT_TRUE(WaitFor(kStatusTimeoutMs, [&] { return HasEnded() || ShownStatus(main) == expected; }))
            << "group list " << stage.fetch << ": the status line never showed the expected text";
        ASSERT_FALSE(HasEnded()) << "the program ended after group list " << stage.fetch;
        EXPECT_EQ(stage.place, TextOf(GetDlgItem(MeTab(), IDC_PLACE_LINE))) << "the report of the cycle was read";
        EXPECT_EQ(stage.fetch, reports.load()) << "one report per cycle";
        EXPECT_EQ(stage.peopleShown, WaitFor(2000, [&] { return PeopleShown(main); }))
            << "group list " << stage.fetch;
    }
}

}  // namespace
