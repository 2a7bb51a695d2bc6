#include "tests/screens/screen_fixture.h"

#include "app/message_box.h"
#include "app/private_hours.h"
#include "app/shell_frontend.h"
#include "location/cell_monitor.h"
#include "platform/web_link.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"
#include "screens/configuration_tab.h"
#include "screens/group_list_tab.h"
#include "screens/group_tab.h"
#include "screens/me_tab.h"
#include "screens/pane_window.h"
#include "screens/place_editor.h"

namespace {

constexpr wchar_t kMainClass[] = L"ScreenTestMainWnd";

HFONT MakeFont(int height, int weight, bool italic, bool underline) {
    return CreateFontW(height, 0, 0, 0, weight, italic, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
}

void DeleteFonts(AppContext& context) {
    for (HFONT* font : {&context.fontHeading, &context.fontBold, &context.fontLink, &context.fontNormal,
                        &context.fontSmall, &context.fontLogo}) {
        if (*font != nullptr) DeleteObject(*font);
        *font = nullptr;
    }
}

void MakeFonts(AppContext& context) {
    DeleteFonts(context);
    const int s = context.scale;
    context.fontHeading = MakeFont(16 * s, FW_BOLD, false, false);
    context.fontBold = MakeFont(14 * s, FW_BOLD, false, false);
    context.fontLink = MakeFont(14 * s, FW_NORMAL, false, true);
    context.fontNormal = MakeFont(14 * s, FW_NORMAL, false, false);
    context.fontSmall = MakeFont(11 * s, FW_NORMAL, false, false);
    context.fontLogo = MakeFont(20 * s, FW_BOLD, true, false);
}

}  // namespace

void ScreenTest::SetUp() {
    ASSERT_TRUE(CreateAppContext());
    ASSERT_TRUE(CreateCellMonitor());
    AppContext& c = context();
    c.frontend = std::make_unique<ShellFrontend>(c);
    c.instance = GetModuleHandleW(nullptr);
    c.cellMonitor = GetCellMonitor();
    c.borderX = GetSystemMetrics(SM_CXBORDER);
    c.borderY = GetSystemMetrics(SM_CYBORDER);
    c.loginPhase = false;
    SetMessageBoxAnswerer([this](HWND, const wchar_t* text, const wchar_t*, UINT) {
        questions_.push_back(text);
        if (answers_.empty()) return IDNO;
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    });

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = c.instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kMainClass;
    RegisterClassW(&windowClass);
    UseScale(1);
}

void ScreenTest::UseScale(int scale) {
    AppContext& c = context();
    scale_ = scale;
    c.scale = scale;
    MakeFonts(c);
    if (main_ != nullptr) DestroyWindow(main_);
    main_ = CreateWindowExW(0, kMainClass, L"Pelmora", WS_POPUP | WS_VISIBLE, 0, 0, 240 * scale, 294 * scale, nullptr,
                            nullptr, c.instance, nullptr);
    c.mainWindow = main_;
    RECT client;
    GetClientRect(main_, &client);
    c.contentRect = client;
    c.contentRect.top += 5 * scale;
    c.contentRect.bottom -= 15 * scale;
}

std::vector<int> ScreenTest::ScalesOnThisScreen() {
    if (GetSystemMetrics(SM_CXSCREEN) >= 480 && GetSystemMetrics(SM_CYSCREEN) >= 640) return {1, 2};
    return {1};
}

void ScreenTest::CreatePanes() {
    AppContext& c = context();
    c.panes[kPaneMe].caption = L"Я";
    c.panes[kPaneMe].window = CreateMeTab(main_);
    c.panes[kPaneGroups].caption = L"Группы";
    c.panes[kPaneGroups].window = CreateGroupTab(main_);
    c.panes[kPaneConfiguration].caption = L"Настр";
    c.panes[kPaneConfiguration].window = CreateConfigurationTab(main_);
    c.panes[kPaneGroupList].window = CreateGroupListTab(main_);
    c.panes[kPanePlaceEditor].window = CreatePlaceEditor(c, main_);
    for (int index : {kPaneMe, kPaneGroups, kPaneConfiguration, kPaneGroupList, kPanePlaceEditor}) {
        ASSERT_NE(nullptr, pane(index)) << "pane " << index;
    }
    c.currentPane = kPaneMe;
    c.selectedTab = kPaneMe;
}

void ScreenTest::TearDown() {
    SetMessageBoxAnswerer(nullptr);
    SetBrowserOpenerForTesting(nullptr);
    SetLocalClockForTesting(nullptr);
    AppContext& c = context();
    if (server_ != nullptr) StopNetwork(c);
    server_.reset();
    if (main_ != nullptr) DestroyWindow(main_);
    main_ = nullptr;
    Pump();
    DeleteFonts(c);
    DestroyAppContext();
    DestroyCellMonitor();
}

std::wstring ScreenTest::ControlText(int paneIndex, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(pane(paneIndex), id, text, 512);
    return text;
}

void ScreenTest::Show(int paneIndex) {
    ShowPane(paneIndex, paneIndex <= kPaneConfiguration);
    UpdateWindow(pane(paneIndex));
}

void ScreenTest::Key(int paneIndex, WPARAM key) {
    SendMessageW(pane(paneIndex), WM_KEYDOWN, key, 0);
    Pump();
}

void ScreenTest::Tap(HWND window, int x, int y) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Pump();
}

void ScreenTest::Click(int paneIndex, int id) {
    SendMessageW(control(paneIndex, id), BM_CLICK, 0, 0);
    Pump();
}

void ScreenTest::Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitPosted_ = true;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

COLORREF ScreenTest::PixelAt(HWND window, int x, int y) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

bool ScreenTest::ShowsNameBlue(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const RECT client = ClientRect(window);
    HDC dc = GetDC(window);
    bool found = false;
    for (int y = 0; y < client.bottom && !found; ++y) {
        for (int x = 0; x < client.right && !found; ++x) {
            const COLORREF colour = GetPixel(dc, x, y);
            found = GetBValue(colour) > 200 && GetRValue(colour) < 120 && GetGValue(colour) < 120;
        }
    }
    ReleaseDC(window, dc);
    return found;
}

RECT ScreenTest::ClientRect(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return client;
}

RECT ScreenTest::BoundsInParent(HWND window) {
    RECT bounds = {};
    GetWindowRect(window, &bounds);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

void ScreenTest::StartServer() {
    AppContext& c = context();
    server_ = std::make_unique<pelmora_test::FakeServer>();
    ASSERT_TRUE(StartNetwork(c));
    c.serverHost = "localhost";
    c.transport->serverAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    c.transport->serverAddress.sin_port = htons(server_->Port());
    c.token = "T0K";
    c.networkCode = "01";
    CellIdentity cell;
    cell.lac = 7718;
    cell.cid = 40402;
    c.cellMonitor->history.push_back(cell);
}

std::string ScreenTest::RequestBody(size_t index) {
    const std::vector<std::string> requests = server_->Requests();
    if (index >= requests.size()) return "(no request " + std::to_string(index) + ")";
    const std::string& bytes = requests[index];
    const size_t start = bytes.find("\r\n\r\n");
    if (start == std::string::npos) return bytes;
    std::string body = bytes.substr(start + 4);
    if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
    return body;
}

Person ScreenTest::MakePerson(int id, const std::wstring& name, const std::wstring& address) {
    Person person;
    person.id = id;
    person.name = name;
    person.address = address;
    return person;
}

Group ScreenTest::MakeGroup(int id, const std::wstring& title, std::vector<Person> people) {
    Group group;
    group.id = id;
    group.title = title;
    group.people = std::move(people);
    return group;
}
