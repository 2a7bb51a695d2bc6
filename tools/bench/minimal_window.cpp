// The floor of the start-up, idle, memory and size figures: a minimal Win32 program that registers a
// class, creates a window the size of the screen, paints it once and waits for messages until it is
// closed. With PELMORA_TRACE naming a file it writes the lines that pelmora.exe's trace writes for
// the same moments (start, paint, the first wait for a message with nothing left to paint), so that
// the benchmark reads both programs alike.
//
//   pelmora-bench-window.exe
#include <windows.h>

#include <cstdio>

namespace {

constexpr wchar_t kClassName[] = L"PelBenchWnd";

HANDLE g_trace = INVALID_HANDLE_VALUE;
LONGLONG g_paintBegin = 0;

LONGLONG Now() {
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return counter.QuadPart / frequency.QuadPart * 10000000 +
           counter.QuadPart % frequency.QuadPart * 10000000 / frequency.QuadPart;
}

void Trace(LONGLONG begin, const char* event, const char* details) {
    if (g_trace == INVALID_HANDLE_VALUE) return;
    char line[160];
    const int length = std::snprintf(line, sizeof(line), "%lld %lld %lu %s %s\n", begin, Now(), GetCurrentThreadId(),
                                     event, details);
    DWORD written = 0;
    WriteFile(g_trace, line, static_cast<DWORD>(length), &written, nullptr);
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    g_paintBegin = Now();
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    DrawTextW(dc, L"Pelmora", -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EndPaint(window, &paint);
    Trace(g_paintBegin, "paint", "class=PelBenchWnd");
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    const LONGLONG start = Now();
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"PELMORA_TRACE", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        g_trace = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    }
    Trace(start, "start", "calls=0");

    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    if (RegisterClassW(&windowClass) == 0) return 1;
    HWND window = CreateWindowExW(0, kClassName, L"Pelmora", WS_POPUP | WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                  GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    UpdateWindow(window);

    MSG message;
    bool idleSeen = false;
    for (;;) {
        if (!idleSeen && (HIWORD(GetQueueStatus(QS_PAINT)) & QS_PAINT) == 0) {
            Trace(Now(), "idle", "paint-pending=0");
            idleSeen = true;
        }
        if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (g_trace != INVALID_HANDLE_VALUE) CloseHandle(g_trace);
    return 0;
}
