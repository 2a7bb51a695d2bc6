// The program entry: start-up, the main window's loops, and shut-down in order.
#include <windows.h>

#include "app/app_context.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "app/shutdown.h"
#include "app/trace.h"
#include "resources/texts.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    StartTraceWhenAsked();
    const bool startedHidden = IsAutostartCommandLine(commandLine);
    if (!CreateAppContext()) {
        ShowMessageBox(nullptr, kTextCantStart, kTextErrorCaption, MB_OK | MB_ICONERROR);
        return 0;
    }
    switch (InitialiseApplication(instance, startedHidden)) {
    case kInitialiseReady:
        RunMainWindow();
        ShutDownApplication();
        break;
    case kInitialiseFailed:
        ShowMessageBox(nullptr, kTextInitializationError, kTextErrorCaption, MB_OK | MB_ICONERROR);
        break;
    default:
        break;
    }
    StopTrace();
    return 0;
}
