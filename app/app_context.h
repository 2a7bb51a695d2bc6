// The one application object that every window, request and the start-up share.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/settings_file.h"
#include "location/place_mark.h"
#include "protocol/frontend.h"
#include "protocol/groups_model.h"
#include "protocol/session_states.h"

struct CellMonitor;
struct TransportState;

struct VisibilityState {
    Visibility state = Visibility::Visible;
    HICON icon = nullptr;
    const wchar_t* title = nullptr;
    const wchar_t* description = nullptr;
};

struct Pane {
    const wchar_t* caption = nullptr;  // tab caption, or null for panes shown on demand
    HWND window = nullptr;
    HWND menuBar = nullptr;
};

// Selection of the group panes, kept as identifiers so it survives a rebuild of the model. The
// server may repeat an identifier; the rows kept beside them tell such entries apart.
struct GroupSelection {
    int shownGroup = -1;          // a group identifier, -1 = all groups
    int highlightedGroup = 0;     // row of the group list: a group identifier, -1 = "all groups"
    int highlightedRow = -1;      // the group list's row of that highlight; -1 = the first that matches
    int selectedPerson = -1;
    int selectedPersonGroup = -1;
    int selectedRow = 0;          // the group tab's row of the selected entry, as the last move left it
    HWND detailWindow = nullptr;
};

inline constexpr int kPaneCount = 6;
inline constexpr int kVisibilityStateCount = 4;

struct AppContext {
    AppContext();
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // Settings file.
    SettingsFile settingsFile;
    bool settingsDirty = false;

    // Start and log-in.
    bool startedHidden = false;  // started with "-a" to log in by itself: hidden until the log-in succeeds
    bool autoLogIn = false;
    bool autoRun = false;
    std::string userId;    // ANSI code page
    std::string passHash;  // 32 lower-case hexadecimal digits
    std::string subName;   // UTF-8

    // Session and server-side configuration.
    Visibility visibility = Visibility::Visible;
    std::wstring userName;
    RateMode rateMode = RateMode::Optimal;
    int privateTime = 1;
    int forceGps = 0;
    int levelGps = 0;
    bool inPrivateHours = false;
    AccountMode accountMode = AccountMode::Normal;

    // Windows and layout.
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    RECT contentRect = {};
    HFONT fontHeading = nullptr;
    HFONT fontBold = nullptr;
    HFONT fontLink = nullptr;
    HFONT fontNormal = nullptr;
    HFONT fontSmall = nullptr;
    HFONT fontLogo = nullptr;
    HPEN nullPen = nullptr;
    int borderX = 0;
    int borderY = 0;
    int scale = 0;

    // What the layers below the windows tell the user through; the main window puts it in place.
    std::unique_ptr<Frontend> frontend;

    // Transport: the socket library, the server's address and the request under way
    // (protocol/transport_state.h); never null while the object lives.
    std::unique_ptr<TransportState> transport;
    std::string serverHost;
    std::string token;

    // Location.
    CellMonitor* cellMonitor = nullptr;
    std::string networkCode;
    std::string countryCode;
    PlaceMark placeMark;

    // Login window.
    bool emailEntered = false;
    bool passwordEntered = false;
    bool loginPhase = false;
    HWND loginWindow = nullptr;
    HWND loginMenuBar = nullptr;

    // Report cycle.
    int reportFailures = 0;
    int reportStatus = 0;
    int reportInterval = 0;

    // Header, panes and status line.
    VisibilityState visibilityStates[kVisibilityStateCount];
    Pane panes[kPaneCount];
    int currentPane = 0;
    int selectedTab = 0;
    std::wstring statusText;
    COLORREF statusColor = 0;

    // Groups.
    GroupList groups;
    GroupSelection groupSelection;
    bool placeEditorNew = false;
};

// The one AppContext, or null before CreateAppContext and after DestroyAppContext.
AppContext* GetAppContext();
// Creates the object unless it exists; false only when memory is exhausted.
bool CreateAppContext();
void DestroyAppContext();

// Loads settings.xml (settingsFile.path) and reads it into the context; false when the file is missing,
// beyond the bounds of LoadXmlFile, not well-formed, or has no "Settings" element.
bool LoadSettings(AppContext& context);

// Reads the loaded settings document into the context: autoLogIn and autoRun go off first, and the
// values come from the "Settings" element; false, the other values untouched, without one.
bool ReadSettings(AppContext& context);

enum class SettingsWriter {
    LogIn,          // variant A: the display name is always written
    Configuration,  // variant B: the display name only in account mode 1, otherwise empty
};

// Rebuilds settings.xml from the context. The old file stays when the new one cannot be written.
void WriteSettings(AppContext& context, SettingsWriter writer);

inline constexpr int kInitialiseReady = 1;
inline constexpr int kInitialiseFailed = 0;
inline constexpr int kInitialiseAnotherCopy = -1;

// Everything the start needs before a window exists; see kInitialise* for the results.
int InitialiseApplication(HINSTANCE instance, bool startedHidden);

// True only for a command line that is exactly "-a": the start from the Startup folder.
bool IsAutostartCommandLine(const wchar_t* commandLine);

// The full path of the running executable, and the folder that holds it (no trailing backslash).
std::wstring GetExecutablePath();
std::wstring GetExecutableFolder();
