// The configuration tab (pane 2): report rate, private hours, automatic log-in and start.
#pragma once

#include <windows.h>

#include <string>

#include "protocol/configuration.h"

HWND CreateConfigurationTab(HWND parent);
// Saves the tab's settings to settings.xml, the autostart shortcut and the server.
void SaveConfigurationTab();
// What the tab does with the server's verdict on the settings it sent: once they are accepted,
// "Настройки сохранены", the tab clean, the private hours entered or left when the option changed
// (`previousPrivateTime` is its value before the tab changed it), and the pane of the account mode;
// a refusal goes to the group tab; without a reply nothing more happens.
void ActOnSaveVerdict(ChangeVerdict verdict, int previousPrivateTime);
// Puts the stored values back into the tab's controls.
void RevertConfigurationTab();

struct SentenceLines {
    std::wstring first;  // the words that fit on the first line
    std::wstring rest;   // the words after them, before the link on the second line
};

// Cuts `sentence` at its last space while it measures (in the font selected into `dc`) wider
// than `width`; the space at the cut goes. A sentence that fits keeps its words on the first
// line and leaves the second line to the link.
SentenceLines CutAtLastFittingSpace(HDC dc, const std::wstring& sentence, int width);
