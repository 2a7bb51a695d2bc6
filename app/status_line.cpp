#include "app/status_line.h"

#include "app/app_context.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"

namespace {

void SetStatus(AppContext& context, const wchar_t* text) {
    KillTimer(context.mainWindow, TIMER_STATUS_MESSAGE);
    context.statusText = text;
    context.statusColor = kStatusBlack;
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
    SetStatus(context, context.visibility == 3 ? kTextIdleOffline : kTextIdleProductLine);
    RepaintNow(context);
}
