// The status line at the bottom of the main window: progress, five-second messages and the idle text.
// Every operation repaints the main window at once, so the text is on screen even when the
// user-interface thread blocks in a server request right afterwards.
#pragma once

#include <windows.h>

// Black with the high byte set, as the status colour is stored; drawing masks the high byte off.
inline constexpr COLORREF kStatusBlack = 0xFF000000;

// Shows `text` until `milliseconds` have passed (timer 202) or another status replaces it.
void ShowStatusMessage(const wchar_t* text, unsigned milliseconds);
// "Передача данных..." until the caller restores the idle text.
void ShowTransferStatus();
// The idle text: "offline" in black when switched off, otherwise the product line in the system's
// colour for disabled text.
void ShowIdleStatus();
