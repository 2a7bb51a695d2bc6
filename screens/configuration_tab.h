// The configuration tab (pane 2): report rate, private hours, automatic log-in and start.
#pragma once

#include <windows.h>

HWND CreateConfigurationTab(HWND parent);
// Saves the tab's settings to settings.xml and the server.
void SaveConfigurationTab();
// Puts the stored values back into the tab's controls.
void RevertConfigurationTab();
