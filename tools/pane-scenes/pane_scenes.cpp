// Pelmora's panes in the scenes of docs/screens: the main window with every pane, logged in to a
// scripted service that knows a demo account in Moscow with two groups. The program walks through
// the scenes the way a user gets there (keys, menu commands) and holds each one until its picture
// is taken: it writes "SCENE name" on standard output and waits for the file FOLDER\name.taken.
//
//   pelmora-pane-scenes.exe FOLDER
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/app_context.h"
#include "app/main_window.h"
#include "app/report_cycle.h"
#include "location/cell_monitor.h"
#include "location/location_report.h"
#include "platform/aygshell.h"
#include "platform/screen_metrics.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"
#include "resources/resource_ids.h"
#include "screens/configuration_tab.h"
#include "screens/pane_window.h"
#include "screens/place_editor.h"
#include "tests/support/fake_server.h"

namespace {

// Where the demo user is: a named place first, an unnamed one after the next report.
constexpr const char* kNamedPlace =
    "<isee><status>1</status><timer>300</timer><sint><sint_id>12</sint_id><sint_scope>2</sint_scope>"
    "<sint_group>-1</sint_group><sint_title>Офис</sint_title><address>Москва, Тверская ул., 7</address>"
    "<address_street>Тверская ул.</address_street><address_number>7</address_number>"
    "<address_build>с1</address_build></sint></isee>";
constexpr const char* kUnnamedPlace =
    "<isee><status>1</status><timer>300</timer><sint><sint_id>0</sint_id>"
    "<address>Москва, Новослободская ул., 14</address></sint></isee>";
constexpr const char* kGroups =
    "<ineed><groups>"
    "<group><title>Семья</title><group_id>1</group_id><count>3</count><users>"
    "<user><user_id>21</user_id><name>Мама</name><address>Москва, Лесная ул., 3</address><distance>4.2</distance></user>"
    "<user><user_id>22</user_id><name>Олег</name><address>Химки, Мира пр-т, 15</address><distance>18</distance></user>"
    "<user><user_id>23</user_id><name>Катя Смирнова</name><address>Зеленоград, корпус 1104</address>"
    "<distance>34.7</distance></user></users></group>"
    "<group><title>Работа</title><group_id>2</group_id><count>3</count><users>"
    "<user><user_id>31</user_id><name>Сергей Петров</name><address>Москва, Тверская ул., 7</address>"
    "<distance>0.1</distance></user>"
    "<user><user_id>32</user_id><name>Ирина</name><address>Москва, Пресненская наб., 10</address>"
    "<distance>6.3</distance></user>"
    "<user><user_id>22</user_id><name>Олег</name><address>Химки, Мира пр-т, 15</address><distance>18</distance></user>"
    "</users></group>"
    "<group><title>Бег по субботам</title><group_id>3</group_id><count>1</count><users>"
    "<user><user_id>41</user_id><name>Дмитрий</name><address>Москва, Лужники</address><distance>7.9</distance></user>"
    "</users></group>"
    "</groups></ineed>";

std::wstring g_folder;

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Paints everything, announces the scene and keeps the windows alive until its picture is taken.
void Hold(const char* name) {
    const AppContext& context = *GetAppContext();
    RedrawWindow(context.mainWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump();
    std::printf("SCENE %s\n", name);
    std::fflush(stdout);
    const std::wstring taken = g_folder + L"\\" + std::wstring(name, name + std::strlen(name)) + L".taken";
    for (int wait = 0; wait < 600 && GetFileAttributesW(taken.c_str()) == INVALID_FILE_ATTRIBUTES; ++wait) {
        Pump();
        Sleep(50);
    }
}

void Key(WPARAM key) {
    SendMessageW(GetAppContext()->mainWindow, WM_KEYDOWN, key, 0);
    Pump();
}

void Command(int pane, UINT command) {
    SendMessageW(GetAppContext()->panes[pane].window, WM_COMMAND, command, 0);
    Pump();
}

// The tab as account mode 1 shows it: the name field instead of the rate and the private hours.
void RecreateConfigurationTabForNameMode(AppContext& context) {
    context.accountMode = AccountMode::OwnName;
    context.subName = "Анна";
    Pane& pane = context.panes[kPaneConfiguration];
    DestroyWindow(pane.window);
    if (pane.menuBar != nullptr) DestroyWindow(pane.menuBar);
    pane.menuBar = nullptr;
    pane.window = CreateConfigurationTab(context.mainWindow);
    RECT client;
    GetClientRect(context.mainWindow, &client);
    SendMessageW(context.mainWindow, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

bool StartSession(AppContext& context, pelmora_test::FakeServer& server) {
    if (!StartNetwork(context)) return false;
    context.serverHost = "localhost";
    context.transport->serverAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    context.transport->serverAddress.sin_port = htons(server.Port());
    context.token = "scenes";
    context.networkCode = "01";
    context.userName = L"Анна Смирнова";
    context.privateTime = 0;
    CellIdentity cell;
    cell.lac = 7718;
    cell.cid = 40402;
    context.cellMonitor->history.assign(3, cell);
    return SendLocationReport(context, context.placeMark);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelmora-pane-scenes FOLDER\n");
        return 2;
    }
    g_folder = argv[1];
    if (!CreateAppContext() || !CreateCellMonitor()) return 1;
    AppContext& context = *GetAppContext();
    context.instance = GetModuleHandleW(nullptr);
    context.scale = GetScreenScale();
    context.cellMonitor = GetCellMonitor();
    SHInitExtraControls();

    pelmora_test::FakeServer server;
    for (const char* reply : {kNamedPlace, kGroups, kUnnamedPlace, kGroups}) server.Push(pelmora_test::XmlReply(reply));

    if (CreateMainWindow() == nullptr) return 1;
    if (!StartSession(context, server)) {
        std::fprintf(stderr, "pelmora-pane-scenes: the scripted service did not answer\n");
        return 1;
    }
    EnterRunningPhase();
    Hold("me");

    // A tap on the second entry selects it.
    Key(VK_RIGHT);
    SendMessageW(context.panes[kPaneGroups].window, WM_LBUTTONUP, 0, MAKELPARAM(60 * context.scale, 58 * context.scale));
    Pump();
    Hold("groups");
    Key(VK_RETURN);
    Hold("detail");
    Key(VK_RETURN);

    Command(kPaneGroups, IDM_CHOOSE_GROUP);
    Key(VK_DOWN);
    Hold("group-list");
    Command(kPaneGroupList, IDM_BACK);

    Key(VK_RIGHT);
    Hold("configuration");
    for (int page = 0; page < 20; ++page) SendMessageW(context.panes[kPaneConfiguration].window, WM_VSCROLL, SB_PAGEDOWN, 0);
    Hold("configuration-end");

    Key(VK_RIGHT);
    Command(kPaneMe, IDM_NAME_MY_PLACE);
    Hold("place-existing");
    Command(kPanePlaceEditor, IDM_BACK);

    RunReportCycle();
    Command(kPaneMe, IDM_NAME_MY_PLACE);
    Hold("place-new");
    Command(kPanePlaceEditor, IDM_BACK);

    Command(kPaneMe, IDM_CHANGE_STATUS);
    Hold("visibility");
    Command(kPaneVisibility, IDM_BACK);

    RecreateConfigurationTabForNameMode(context);
    ShowPane(kPaneConfiguration, true);
    Hold("configuration-name");

    StopNetwork(context);
    return 0;
}
