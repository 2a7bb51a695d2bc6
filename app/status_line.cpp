#include "app/status_line.h"

#include "app/app_context.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"

namespace {

void SetStatus(AppContext& context, const wchar_t* text, COLORREF colour = kStatusBlack) {
    KillTimer(context.mainWindow, TIMER_STATUS_MESSAGE);
    context.statusText = text;
    context.statusColor = colour;
}

void RepaintNow(const AppContext& context) {
    if (context.mainWindow == nullptr) return;
    InvalidateRect(context.mainWindow, nullptr, TRUE);
    UpdateWindow(context.mainWindow);
}

}  // namespace

void ShowStatusMessage(const wchar_t* text, unsigned milliseconds) {
    AppContext& context = *GetAppContext();
    SetStatus(context, text);
    RepaintNow(context);
    if (context.mainWindow != nullptr) SetTimer(context.mainWindow, TIMER_STATUS_MESSAGE, milliseconds, nullptr);
}

void ShowTransferStatus() {
    AppContext& context = *GetAppContext();
    SetStatus(context, kTextTransfer);
    RepaintNow(context);
}

void ShowIdleStatus() {
    AppContext& context = *GetAppContext();
    // At rest the product line is greyed like disabled text; "offline" stays black.
    if (context.visibility == Visibility::SwitchedOff) {
        SetStatus(context, kTextIdleOffline);
    } else {
        SetStatus(context, kTextIdleProductLine, GetSysColor(COLOR_GRAYTEXT));
    }
    RepaintNow(context);
}
