#include "app/shell_frontend.h"

#include <windows.h>

#include "app/app_context.h"
#include "app/message_box.h"
#include "app/status_line.h"
#include "platform/durations.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"

namespace {

// The refusals and offers of the server come over the main window; what the cell sources bring up
// while the user logs in, over the login window.
enum class Owner { MainWindow, LoginWindow };

struct QuestionBox {
    Question question;
    const wchar_t* text;
    const wchar_t* caption;
    UINT flags;
    Owner owner;
};

constexpr QuestionBox kQuestionBoxes[] = {
    {Question::UnknownUser, kTextUnknownUser, kTextErrorCaptionRussian, MB_OK | MB_ICONERROR, Owner::MainWindow},
    {Question::ClientOutdated, kTextClientOutdated, kTextErrorCaptionRussian, MB_OKCANCEL | MB_ICONERROR,
     Owner::MainWindow},
    {Question::NewVersion, kTextNewVersionOffer, kTextNewVersionCaption, MB_OKCANCEL | MB_ICONINFORMATION,
     Owner::MainWindow},
    {Question::ProbeWarning, kTextProbeWarning, kTextAttentionCaption, MB_OK | MB_ICONWARNING, Owner::LoginWindow},
    {Question::NoCellLocation, kTextNoCellLocation, kTextErrorCaptionRussian, MB_OK | MB_ICONERROR,
     Owner::LoginWindow},
};

}  // namespace

void ShellFrontend::ShowStatusMessage(const wchar_t* text) {
    ::ShowStatusMessage(text, GetDurations().statusMessageMs);
}

bool ShellFrontend::Ask(Question question) {
    for (const QuestionBox& box : kQuestionBoxes) {
        if (box.question != question) continue;
        HWND owner = box.owner == Owner::MainWindow ? context_.mainWindow : context_.loginWindow;
        return ShowMessageBox(owner, box.text, box.caption, box.flags) == IDOK;
    }
    return false;
}

void ShellFrontend::RenewLogIn() {
    if (context_.mainWindow != nullptr) SendMessageW(context_.mainWindow, WM_PELMORA_RENEW_LOGIN, 0, 0);
}

void ShellFrontend::ReportRadioRefused() { ShowMessageBox(nullptr, kTextCantInitializeRadio, nullptr, MB_OK); }
