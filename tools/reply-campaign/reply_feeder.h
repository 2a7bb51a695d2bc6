// Feeds one campaign input to the very code the program runs for it, and checks what it left behind.
//
// Every reply goes through ReadReply (status line, XML document, nesting bounds, error reply) and the
// reader of its kind, and on to what the program does next: the groups model laid out as the group
// tab lays it out (in a memory DC with the program's bold font), the place line of the Me tab, the
// report timer's interval, the status text. Modem bytes go through the cell reply parser, from a
// buffer that ends where readable memory ends, so a read past them crashes.
//
// An error reply with code 401 sends the renewal message to AppContext::mainWindow: here a hidden
// window that counts it, so that a checker can tell that exactly the 401 replies asked for it
// without a log-in renewal running against no server.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "tools/reply-campaign/campaign_input.h"

// What the inputs fed so far came to, beyond the checks.
struct FeedTally {
    long long byReader[kReaderCount] = {};
    long long read = 0;     // replies whose root element was found (modem replies that parsed)
    long long refused = 0;  // documents refused before parsing, as nested too deep or with too many attributes
    long long mostGroups = 0;  // the largest groups model built
    long long mostPeople = 0;
    long long renewals = 0;  // log-in renewals asked for
};

// What is wrong with a text the program keeps or shows: a zero character, half a surrogate pair, more
// than `longest` characters; empty when nothing is.
std::string TextFault(const std::wstring& text, std::size_t longest);

class ReplyFeeder {
public:
    // The application object, the counting main window, the fonts and the memory DC, the cell
    // monitor, and the guarded buffer. False when any of them cannot be had.
    bool Start();
    void Stop();

    // Runs `input`; the descriptions of the checks it broke, none when all held. An exception that
    // escapes the program's code counts as a broken check.
    std::vector<std::string> Feed(const CampaignInput& input, FeedTally* tally);

private:
    std::vector<std::string> FeedReply(const CampaignInput& input, FeedTally* tally);
    std::vector<std::string> FeedModemReply(const std::string& bytes, FeedTally* tally);

    HWND window_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ oldFont_ = nullptr;
    char* guarded_ = nullptr;  // the start of a readable page that a no-access page follows
};
