#include "app/app_context.h"

#include <cwchar>
#include <new>

#include "app/settings_file.h"
#include "location/cell_monitor.h"
#include "platform/aygshell.h"
#include "platform/screen_metrics.h"
#include "platform/text_conversion.h"
#include "protocol/transport_state.h"
#include "resources/texts.h"

namespace {

AppContext*& ContextSlot() {
    static AppContext* context = nullptr;
    return context;
}

constexpr wchar_t kMainWindowClass[] = L"PelMainWnd";

// The user started the program again: whatever state its window is in, it is what they want to see.
// A copy started from the Startup folder stays hidden after a failed automatic log-in, and "Свернуть"
// minimises it. The other copy may be busy with a request, so it is asked without waiting for it.
// The phone brings a window forward together with its owned pop-ups when the handle's lowest bit is
// set; the desktop has no such flag, so the copy's last active pop-up (a question it asks, or itself)
// is brought forward instead. The soft-key strip is never active, however a platform counts it.
void ShowRunningCopy(HWND running) {
    if (!IsWindowVisible(running)) ShowWindowAsync(running, SW_SHOW);
    if (IsIconic(running)) ShowWindowAsync(running, SW_RESTORE);
    HWND forward = GetLastActivePopup(running);
    if ((GetWindowLongW(forward, GWL_EXSTYLE) & WS_EX_NOACTIVATE) != 0) forward = running;
    SetForegroundWindow(forward);
}

StoredSettings StoredSettingsOf(const AppContext& context) {
    StoredSettings settings;
    settings.autoRun = context.autoRun;
    settings.autoLogIn = context.autoLogIn;
    settings.userId = context.userId;
    settings.passHash = context.passHash;
    settings.subName = context.subName;
    return settings;
}

void TakeStoredSettings(AppContext& context, const StoredSettings& settings) {
    context.autoRun = settings.autoRun;
    context.autoLogIn = settings.autoLogIn;
    context.userId = settings.userId;
    context.passHash = settings.passHash;
    context.subName = settings.subName;
}

}  // namespace

AppContext::AppContext() : transport(new (std::nothrow) TransportState) {}

AppContext::~AppContext() = default;

AppContext* GetAppContext() { return ContextSlot(); }

bool CreateAppContext() {
    if (ContextSlot() != nullptr) return true;
    AppContext* context = new (std::nothrow) AppContext;
    if (context == nullptr) return false;
    if (context->transport == nullptr) {
        delete context;
        return false;
    }
    ContextSlot() = context;
    return true;
}

void DestroyAppContext() {
    AppContext* context = ContextSlot();
    if (context == nullptr) return;
    delete context;
    ContextSlot() = nullptr;
}

bool LoadSettings(AppContext& context) {
    StoredSettings settings = StoredSettingsOf(context);
    const bool loaded = LoadSettingsFile(context.settingsFile, &settings);
    TakeStoredSettings(context, settings);
    return loaded;
}

bool ReadSettings(AppContext& context) {
    StoredSettings settings = StoredSettingsOf(context);
    const bool read = ReadSettingsFile(context.settingsFile, &settings);
    TakeStoredSettings(context, settings);
    return read;
}

void WriteSettings(AppContext& context, SettingsWriter writer) {
    StoredSettings settings = StoredSettingsOf(context);
    if (writer == SettingsWriter::Configuration && context.accountMode != AccountMode::OwnName) settings.subName.clear();
    WriteSettingsFile(context.settingsFile, settings);
}

bool IsAutostartCommandLine(const wchar_t* commandLine) {
    return commandLine != nullptr && std::wcscmp(commandLine, L"-a") == 0;
}

std::wstring GetExecutablePath() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring GetExecutableFolder() {
    const std::wstring path = GetExecutablePath();
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

int InitialiseApplication(HINSTANCE instance, bool startedHidden) {
    AppContext& context = *GetAppContext();

    // A running copy takes over and this start ends silently.
    if (HWND running = FindWindowW(kMainWindowClass, kTextProductName)) {
        context.mainWindow = running;
        ShowRunningCopy(running);
        return kInitialiseAnotherCopy;
    }

    context.instance = instance;
    SHInitExtraControls();
    context.autoRun = false;
    context.autoLogIn = false;

    context.settingsFile.path = WideToAnsi(GetExecutableFolder()) + "\\settings.xml";
    if (!LoadSettings(context)) return kInitialiseFailed;
    // A start from the Startup folder stays hidden only while it logs in by itself: without the
    // automatic log-in nobody could reach its login window.
    context.startedHidden = startedHidden && context.autoLogIn;

    context.scale = GetScreenScale();

    if (!CreateCellMonitor()) return kInitialiseFailed;
    context.cellMonitor = GetCellMonitor();
    return kInitialiseReady;
}
