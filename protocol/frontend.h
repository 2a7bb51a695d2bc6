// What the layers below the windows need of them. Requests, the handshake and the cell sources never
// draw, show a box or send a window message themselves: they tell this interface, which app/
// implements (ShellFrontend) and hands down in AppContext::frontend before the first request. Every
// call comes on the user-interface thread and returns when the user has seen, or answered, it.
#pragma once

// The questions and notices of the handshake; which box each one is, and over which window, is the
// implementation's business.
enum class Question {
    UnknownUser,     // the server knows no such e-mail address and password
    ClientOutdated,  // this version is no longer served: download the new one?
    NewVersion,      // a newer version is out: download it?
    ProbeWarning,    // the phone is about to try its cell sources, which may hang it
    NoCellLocation,  // no cell source works on this phone
};

class Frontend {
public:
    virtual ~Frontend() = default;

    // A message on the status line for the usual while: a failed transfer, a time-out, a refused
    // reply, the server's own error text, a refusal of the service.
    virtual void ShowStatusMessage(const wchar_t* text) = 0;

    // Puts `question` to the user and waits for the answer: true when they agreed (a notice, which
    // has only one button, gives true).
    virtual bool Ask(Question question) = 0;

    // The server no longer knows the session (an error reply with code 401): the log-in is renewed
    // before the call returns. The transport does not ask again while a renewal runs.
    virtual void RenewLogIn() = 0;

    // The radio layer refused to start. Called with no lock of the cell sources held.
    virtual void ReportRadioRefused() = 0;
};
