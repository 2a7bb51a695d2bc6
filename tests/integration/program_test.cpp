// Pelmora itself, copied into a folder of its own with the demo account's settings and a phone
// simulator walking the demo cells as its modem. Against the demo server it logs in by itself, shows
// its place on the Me tab, and ends when the configuration tab's "Закрыть программу совсем" is
// pressed; started from the Startup folder it stays hidden only while it logs in by itself; an
// account made on the web site logs in. Against a hostile service it outlives group lists nested
// far too deep.
#include <gtest/gtest.h>

#include <winsock2.h>
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
#include "platform/durations.h"
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

// The first window of class `name` among the descendants of `parent`.
HWND FindDescendant(HWND parent, const std::wstring& name) {
    struct Search {
        std::wstring name;
        HWND found;
    } search = {name, nullptr};
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM parameter) -> BOOL {
            Search* search = reinterpret_cast<Search*>(parameter);
            if (ClassOf(window) != search->name) return TRUE;
            search->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// One HTTP request to the server's web side; the whole answer.
std::string WebRequest(unsigned short port, const std::string& method, const std::string& path,
                       const std::string& body) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return std::string();
    std::string answer;
    SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        const std::string request = method + " " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
                                    "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\n\r\n" + body;
        send(connection, request.data(), static_cast<int>(request.size()), 0);
        char buffer[1024];
        for (int got; (got = recv(connection, buffer, sizeof(buffer), 0)) > 0;) answer.append(buffer, got);
    }
    closesocket(connection);
    WSACleanup();
    return answer;
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

    // The port on this machine where the fixture's service listens.
    virtual unsigned short ServicePort() const = 0;

    // Starts the copied program with `arguments`, told where the service is (the fixture's own
    // unless another port is given).
    bool StartProgram(const std::wstring& arguments = L"", unsigned short port = 0) {
        return Start(arguments, port != 0 ? port : ServicePort(), &program);
    }

    bool Start(const std::wstring& arguments, unsigned short port, PROCESS_INFORMATION* started) {
        SetEnvironmentVariableA("PELMORA_SERVICE_HOST", "localhost");
        SetEnvironmentVariableA("PELMORA_SERVICE_PORT", std::to_string(port).c_str());
        const std::wstring executable = WidePath(folder + "/pelmora.exe");
        std::wstring commandLine = L"\"" + executable + L"\"";
        if (!arguments.empty()) commandLine += L" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        return CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              WidePath(folder).c_str(), &startup, started) != FALSE;
    }

    // The program's main window, its login window and the login window's soft-key strip; null
    // where there is none yet.
    struct LoginScreen {
        HWND main = nullptr;
        HWND login = nullptr;
        HWND softKeys = nullptr;
    };
    LoginScreen FindLoginScreen() const {
        LoginScreen screen;
        screen.main = MainWindow();
        for (HWND window : WindowsOf(program.dwProcessId)) {
            // Only the login window's strip exists before the log-in.
            if (ClassOf(window) == L"PelMenuBarWnd") screen.softKeys = window;
        }
        if (screen.main != nullptr) screen.login = FindWindowExW(screen.main, nullptr, L"PelLoginWnd", nullptr);
        return screen;
    }

    // Ends the program at its login window with "Выход".
    void ExitFromLoginWindow(const LoginScreen& screen) {
        ASSERT_TRUE(PostMessageW(screen.login, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program.hProcess, kExitTimeoutMs)) << ShownWindows();
    }

    void WriteSettings(const std::string& autoLogIn) {
        WriteFile(WindowsPath(folder + "/settings.xml"),
                  "<Settings><UserID>demo@pelmora.ru</UserID><AutoLogIn>" + autoLogIn + "</AutoLogIn><PassHash>" +
                      kPassHash + "</PassHash><AutoRun>1</AutoRun></Settings>");
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

    unsigned short ServicePort() const override { return server.Port(); }

    bool ServerGot(const std::string& request) const {
        const std::vector<std::string> requests = server.Requests();
        return std::find(requests.begin(), requests.end(), request) != requests.end();
    }

    DemoServer server;
};

TEST_F(ProgramRun, LogsInByItselfShowsItsPlaceAndClosesFromTheConfigurationTab) {
    ASSERT_TRUE(StartProgram());

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

// Started from the Startup folder with the automatic log-in unticked: nobody could reach a hidden
// login window, so it is shown at once.
TEST_F(ProgramRun, AStartWithDashAThatDoesNotLogInByItselfShowsTheLoginWindow) {
    WriteSettings("0");
    ASSERT_TRUE(StartProgram(L"-a"));
    LoginScreen screen;
    const bool shown = WaitFor(kLogInTimeoutMs, [&] {
        screen = FindLoginScreen();
        return HasEnded() || (screen.login != nullptr && IsWindowVisible(screen.main) &&
                              IsWindowVisible(screen.login) && screen.softKeys != nullptr &&
                              IsWindowVisible(screen.softKeys));
    });
    ASSERT_FALSE(HasEnded());
    EXPECT_TRUE(shown) << "the program shows:\n" << ShownWindows();
    EXPECT_TRUE(server.Requests().empty()) << "no log-in was started";
    ExitFromLoginWindow(screen);
}

// A copy started from the Startup folder whose automatic log-in failed stays hidden; starting the
// program again shows it with its soft keys and brings it forward.
TEST_F(ProgramRun, ASecondStartShowsAHiddenCopy) {
    pelmora_test::FakeServer refusing;
    refusing.Push(pelmora_test::DroppedConnection());
    WriteSettings("1");
    ASSERT_TRUE(StartProgram(L"-a", refusing.Port()));
    ASSERT_TRUE(refusing.WaitForRequests(1, kLogInTimeoutMs)) << "no automatic log-in";
    LoginScreen screen;
    // The failed log-in gives the form back.
    ASSERT_TRUE(WaitFor(kLogInTimeoutMs, [&] {
        screen = FindLoginScreen();
        return screen.login != nullptr && IsWindowEnabled(GetDlgItem(screen.login, IDC_LOGIN_EMAIL));
    })) << ShownWindows();
    ASSERT_FALSE(IsWindowVisible(screen.main)) << "an automatic start stays hidden while it is not logged in";

    PROCESS_INFORMATION second = {};
    ASSERT_TRUE(Start(L"", refusing.Port(), &second));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second.hProcess, kExitTimeoutMs)) << "the second start ended";
    CloseHandle(second.hThread);
    CloseHandle(second.hProcess);
    EXPECT_EQ(1u, refusing.RequestCount()) << "the second start made no request of its own";

    const bool shown = WaitFor(kExitTimeoutMs, [&] {
        screen = FindLoginScreen();
        return IsWindowVisible(screen.main) && IsWindowVisible(screen.login) && screen.softKeys != nullptr &&
               IsWindowVisible(screen.softKeys) && GetForegroundWindow() == screen.main;
    });
    EXPECT_TRUE(shown) << "visible " << IsWindowVisible(screen.main) << ", soft keys "
                       << (screen.softKeys != nullptr && IsWindowVisible(screen.softKeys)) << ", in front: "
                       << testing::PrintToString(ClassOf(GetForegroundWindow()));
    ExitFromLoginWindow(screen);
}

// An account made on the web site logs in from the program with the password typed in its log-in
// window: the site keeps what the phone sends, the MD5 of the Windows-1251 password.
TEST_F(ProgramRun, AnAccountMadeOnTheWebLogsInWithTheSamePassword) {
    const std::string made = WebRequest(server.Port(), "POST", "/api/v1/accounts",
                                        "{\"email\": \"vera.web@example.org\", \"password\": \"пароль-веры\", "
                                        "\"name\": \"Вера\"}");
    ASSERT_EQ(0u, made.find("HTTP/1.1 201 Created\r\n")) << made;
    WriteFile(WindowsPath(folder + "/settings.xml"), "<Settings><AutoLogIn>0</AutoLogIn><AutoRun>0</AutoRun></Settings>");
    ASSERT_TRUE(StartProgram());

    HWND login = nullptr;
    ASSERT_TRUE(WaitFor(kLogInTimeoutMs, [&] {
        for (HWND window : WindowsOf(program.dwProcessId)) {
            if (login == nullptr) login = FindDescendant(window, L"PelLoginWnd");
        }
        return HasEnded() || (login != nullptr && IsWindowVisible(login));
    })) << ShownWindows();
    ASSERT_FALSE(HasEnded());
    // What the keyboard would leave in the fields; the fields tell the window of the change.
    ASSERT_TRUE(SendMessageW(GetDlgItem(login, IDC_LOGIN_EMAIL), WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(L"vera.web@example.org")));
    ASSERT_TRUE(SendMessageW(GetDlgItem(login, IDC_LOGIN_PASSWORD), WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(L"пароль-веры")));
    ASSERT_TRUE(PostMessageW(login, WM_COMMAND, MAKEWPARAM(IDC_LOGIN_BUTTON, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(login, IDC_LOGIN_BUTTON))));
    EXPECT_TRUE(WaitFor(kLogInTimeoutMs, [this] { return ServerGot("config vera.web@example.org ok"); }))
        << server.AccessLog() << ShownWindows();
    EXPECT_TRUE(ServerGot("hand vera.web@example.org ok")) << server.AccessLog();
}

void ShowTransferError() { ShowStatusMessage(kTextTransferError, GetDurations().statusMessageMs); }

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

    // The status line of the running program, and as PaintMainWindow paints it in a main window of
    // the same size once `show` (a function of the status line, here without a window: it sets the
    // text and its colour) has set it: the same pixels when the program shows that status. Only the
    // inside of the line's frame is compared: at 480x640 the program draws the frame's top a pixel lower.
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
    std::vector<COLORREF> PaintedStatus(HWND main, void (*show)()) const {
        const RECT line = StatusLine(main);
        show();
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

    unsigned short ServicePort() const override { return server.Port(); }

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
    ASSERT_TRUE(StartProgram());
    const struct {
        int fetch;
        void (*showStatus)();
        const wchar_t* place;
        bool peopleShown;
    } stages[] = {
        {1, ShowTransferError, L"Место 1 Tverskaya", false},
        {2, ShowTransferError, L"Место 2 Tverskaya", false},
        {3, ShowIdleStatus, L"Место 3 Tverskaya", true},
    };
    for (const auto& stage : stages) {
        ASSERT_TRUE(WaitFor(kReportCycleTimeoutMs, [&] { return HasEnded() || groupFetches >= stage.fetch; }))
            << "group list " << stage.fetch << " never asked for; the program shows:\n" << ShownWindows();
        ASSERT_FALSE(HasEnded()) << "the program ended at group list " << stage.fetch;
        const HWND main = MainWindow();
        ASSERT_NE(nullptr, main);
        if (stage.fetch == 1) PostMessageW(main, WM_KEYDOWN, VK_RIGHT, 0);  // on to the group tab
        const std::vector<COLORREF> expected = PaintedStatus(main, stage.showStatus);
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
