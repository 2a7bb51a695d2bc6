// The program's windows as the layers below them see them: their messages on the status line, their
// questions in message boxes over the main or the login window, the log-in renewed by the main window.
#pragma once

#include "protocol/frontend.h"

struct AppContext;

class ShellFrontend final : public Frontend {
public:
    explicit ShellFrontend(AppContext& context) : context_(context) {}

    void ShowStatusMessage(const wchar_t* text) override;
    bool Ask(Question question) override;
    // Sends WM_PELMORA_RENEW_LOGIN to the main window, whose handler renews the session.
    void RenewLogIn() override;
    // "Cant initialize RIL", in a plain box of no window.
    void ReportRadioRefused() override;

private:
    AppContext& context_;
};
