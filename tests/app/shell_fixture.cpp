#include "tests/app/shell_fixture.h"

#include "app/main_window.h"
#include "app/message_box.h"
#include "app/private_hours.h"
#include "app/settings_file.h"
#include "app/shell_frontend.h"
#include "app/tab_header.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "platform/durations.h"
#include "platform/screen_metrics.h"
#include "platform/web_link.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"

void ShellTest::SetUp() {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    settingsPath_ = std::string(folder) + "pelmora-shell-" + std::to_string(GetCurrentProcessId()) + ".xml";
    BeginProgram();

    SetMessageBoxAnswerer([this](HWND owner, const wchar_t* text, const wchar_t* caption, UINT flags) {
        questions_.push_back({owner, text, caption, flags});
        return answer_;
    });
}

void ShellTest::TearDown() {
    EndProgram();
    GetDurations() = Durations();
    SetMessageBoxAnswerer({});
    SetBrowserOpenerForTesting({});
    SetLocalClockForTesting(nullptr);
    DeleteFileA(settingsPath_.c_str());
}

void ShellTest::BeginProgram() {
    ASSERT_TRUE(CreateAppContext());
    context().frontend = std::make_unique<ShellFrontend>(context());
    context().instance = GetModuleHandleW(nullptr);
    context().scale = GetScreenScale();
    ASSERT_TRUE(CreateCellMonitor());
    context().cellMonitor = GetCellMonitor();
    context().settingsFile.path = settingsPath_;
}

void ShellTest::EndProgram() {
    if (GetAppContext() == nullptr) return;
    if (CellMonitor* monitor = GetCellMonitor()) StopCellSampler(monitor);
    if (context().mainWindow != nullptr) DestroyWindow(context().mainWindow);
    // Whatever the test left in the queue (a quit message above all) must not reach the next test.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    StopNetwork(context());
    DestroyCellMonitor();
    DestroyAppContext();
}

void ShellTest::StartAgain() {
    StartAfresh();
    ASSERT_TRUE(LoadSettings(context()));
}

void ShellTest::StartAfresh() {
    EndProgram();
    BeginProgram();
}

void ShellTest::CreateMain() {
    ASSERT_NE(nullptr, CreateMainWindow());
    ShowWindow(login(), SW_SHOW);
    Pump();
}

void ShellTest::CreateRunningMain() {
    CreateMain();
    EnterRunningPhase();
    Pump();
}

std::wstring ShellTest::TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

RECT ShellTest::BoundsInParent(HWND window) {
    RECT bounds;
    GetWindowRect(window, &bounds);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

void ShellTest::Tap(HWND window, int x, int y) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Pump();
}

void ShellTest::Key(WPARAM key) {
    SendMessageW(main(), WM_KEYDOWN, key, 1);
    Pump();
}

void ShellTest::Command(HWND window, int id, int notification) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, notification), 0);
    Pump();
}

void ShellTest::Type(HWND edit, const std::wstring& text) {
    for (wchar_t character : text) SendMessageW(edit, WM_CHAR, character, 1);
    Pump();
}

void ShellTest::Timer(UINT_PTR id) {
    SendMessageW(main(), WM_TIMER, id, 0);
    Pump();
}

void ShellTest::Pump(unsigned milliseconds) {
    const DWORD start = GetTickCount();
    MSG message;
    do {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            if (message.message == WM_QUIT) return;
            PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (milliseconds == 0) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

bool ShellTest::TakeQuit(int code) {
    MSG message;
    if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
    return static_cast<int>(message.wParam) == code;
}

bool ShellTest::TakeTimer(UINT_PTR id) { return KillTimer(main(), id) != FALSE; }

void ShellTest::PaintMain(Picture& picture) { PaintMainWindow(picture.dc()); }

void ShellTest::Capture(HWND window, Picture& picture) {
    UpdateWindow(window);
    RECT client;
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    BitBlt(picture.dc(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ReleaseDC(window, dc);
}

namespace {

WNDPROC originalMainProc = nullptr;

LRESULT CALLBACK StatusRecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) ShellTest::paintedStatuses().push_back(GetAppContext()->statusText);
    return CallWindowProcW(originalMainProc, window, message, wParam, lParam);
}

}  // namespace

std::vector<std::wstring>& ShellTest::paintedStatuses() {
    static std::vector<std::wstring> statuses;
    return statuses;
}

void ShellTest::RecordPaintedStatuses() {
    paintedStatuses().clear();
    originalMainProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(main(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusRecordingProc)));
}

SIZE ShellTest::Measure(HFONT font, const wchar_t* text) {
    HDC dc = GetDC(main());
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    SelectObject(dc, old);
    ReleaseDC(main(), dc);
    return size;
}

SYSTEMTIME MakeLocalTime(int dayOfWeek, int hour, int minute) {
    SYSTEMTIME time = {};
    time.wYear = 2024;
    time.wMonth = 1;
    time.wDay = static_cast<WORD>(7 + dayOfWeek);  // 7 January 2024 was a Sunday
    time.wDayOfWeek = static_cast<WORD>(dayOfWeek);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    return time;
}

const char kHandshakeAccepted[] = "<handshake><status>0</status><token>T1</token><userName>Анна</userName></handshake>";
const char kConfigurationVisibleToGroups[] =
    "<config><config_rate>0</config_rate><config_visibilily>1</config_visibilily>"
    "<config_privatetime>1</config_privatetime></config>";
const char kReportAccepted[] =
    "<isee><status>1</status><timer>300</timer><sint><sint_id>4</sint_id><sint_title>Дом</sint_title>"
    "<address_street>Лесная</address_street><address_number>3</address_number></sint></isee>";
const char kReportRefused[] = "<isee><status>0</status></isee>";
const char kOneGroup[] =
    "<ineed><groups><group><title>Семья</title><group_id>1</group_id><count>1</count><users>"
    "<user><user_id>2</user_id><name>Мама</name><address>Лесная, 3</address></user></users></group></groups></ineed>";
const char kLogInExpired[] = "<error><code>401</code><description>Сессия истекла</description></error>";

void ServedShellTest::SetUp() {
    ShellTest::SetUp();
    server_.ExportPort();
    SetEnvironmentVariableW(L"PELMORA_SERVICE_HOST", L"127.0.0.1");
}

void ServedShellTest::TearDown() {
    SetEnvironmentVariableW(L"PELMORA_SERVICE_HOST", nullptr);
    SetEnvironmentVariableW(L"PELMORA_SERVICE_PORT", nullptr);
    ShellTest::TearDown();
}

void ServedShellTest::OpenSession() {
    ASSERT_TRUE(StartNetwork(context()));
    context().serverHost = "localhost";
    context().transport->serverAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    context().token = "T0K";
}

std::vector<std::string> ServedShellTest::RequestKinds() const {
    std::vector<std::string> kinds;
    for (const std::string& request : server_.Requests()) {
        // "Host: KIND.HOST" names the kind of every request.
        const size_t host = request.find("\r\nHost: ");
        if (host == std::string::npos) {
            kinds.push_back("?");
            continue;
        }
        const size_t start = host + 8;
        kinds.push_back(request.substr(start, request.find('.', start) - start));
    }
    return kinds;
}

std::string ServedShellTest::RequestBody(size_t index) const {
    const std::vector<std::string> requests = server_.Requests();
    if (index >= requests.size()) return "";
    const std::string& request = requests[index];
    const size_t start = request.find("\r\n\r\n");
    if (start == std::string::npos) return "";
    std::string body = request.substr(start + 4);
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
    return body;
}
