#include "platform/screen_metrics.h"

#include <windows.h>

int ComputeScale(int screenWidth, int screenHeight) {
    if (screenHeight > screenWidth) return screenHeight / 320;
    return screenHeight / 240;
}

int GetScreenScale() { return ComputeScale(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)); }

int GetMenuBarHeight() { return 26 * GetScreenScale(); }
