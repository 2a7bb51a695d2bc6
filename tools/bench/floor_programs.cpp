// The floors of the group figures, each a minimal program doing only the unavoidable part of the work:
//
//   pelmora-bench-floor.exe parse FILE COUNT   parses the XML document in FILE with TinyXML, as the
//                                              client parses a reply, COUNT times; prints one
//                                              "parse-ms MS" line per parse
//   pelmora-bench-floor.exe paint FILE COUNT   draws the people of FILE (UTF-8 lines "NAME<TAB>ADDRESS")
//                                              that fit a window of the group tab's size, in its fonts
//                                              and rows, COUNT times; prints one "paint-ms MS" line per
//                                              paint, from BeginPaint to EndPaint as the trace counts
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <tinyxml.h>

namespace {

constexpr wchar_t kClassName[] = L"PelBenchPaintWnd";

double Milliseconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Counter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

bool ReadWholeFile(const wchar_t* path, std::string* bytes) {
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) return false;
    char chunk[65536];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;) bytes->append(chunk, got);
    std::fclose(file);
    return true;
}

int Parse(const std::string& bytes, int count) {
    for (int round = 0; round < count; ++round) {
        TiXmlDocument document;
        const LONGLONG begin = Counter();
        document.Parse(bytes.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
        const LONGLONG end = Counter();
        if (document.RootElement() == nullptr) {
            std::fprintf(stderr, "floor: the document does not parse: %s\n", document.ErrorDesc());
            return 1;
        }
        std::printf("parse-ms %.3f\n", Milliseconds(end - begin));
    }
    return 0;
}

struct Row {
    std::wstring name;
    std::wstring address;
    int nameWidth = 0;
};

struct PaintScene {
    std::vector<Row> rows;
    int scale = 1;
    HFONT bold = nullptr;
    HFONT normal = nullptr;
    LONGLONG lastPaint = 0;
};

PaintScene g_scene;

std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

// The group tab's row, its least: the name in bold blue and the address after it, the name's width
// measured beforehand.
void PaintRows(HWND window) {
    const PaintScene& scene = g_scene;
    const int s = scene.scale;
    const LONGLONG begin = Counter();
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    SetBkMode(dc, TRANSPARENT);
    RECT line = {client.left + 5 * s, 8 * s, client.right - 5 * s, 22 * s};
    for (const Row& row : scene.rows) {
        if (line.top > client.bottom) break;
        SelectObject(dc, scene.bold);
        SetTextColor(dc, RGB(48, 48, 255));
        DrawTextW(dc, row.name.c_str(), -1, &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, scene.normal);
        SetTextColor(dc, RGB(0, 0, 0));
        RECT first = line;
        first.left += row.nameWidth;
        DrawTextW(dc, row.address.c_str(), -1, &first, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
        line.top += 38 * s;
        line.bottom += 38 * s;
    }
    EndPaint(window, &paint);
    g_scene.lastPaint = Counter() - begin;
}

LRESULT CALLBACK PaintProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PaintRows(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool ReadRows(const std::string& bytes, std::vector<Row>* rows) {
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) return false;
        rows->push_back({Wide(line.substr(0, tab)) + L": ", Wide(line.substr(tab + 1))});
        start = end + 1;
    }
    return !rows->empty();
}

// The group tab's window: the screen less the header, the status line and the soft-key strip.
int PaintTimes(HINSTANCE instance, const std::string& bytes, int count) {
    if (!ReadRows(bytes, &g_scene.rows)) {
        std::fprintf(stderr, "floor: no NAME<TAB>ADDRESS lines\n");
        return 1;
    }
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const int s = width >= 480 ? 2 : 1;
    g_scene.scale = s;
    g_scene.bold = CreateFontW(14 * s, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
    g_scene.normal = CreateFontW(14 * s, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PaintProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
    const int paneTop = 25 * s;
    const int paneHeight = height - 26 * s - 40 * s;
    HWND window = CreateWindowExW(0, kClassName, L"", WS_POPUP | WS_VISIBLE | WS_VSCROLL, 0, paneTop, width, paneHeight,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    HDC dc = GetDC(window);
    SelectObject(dc, g_scene.bold);
    for (Row& row : g_scene.rows) {
        RECT measured = {};
        DrawTextW(dc, row.name.c_str(), -1, &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        row.nameWidth = measured.right;
    }
    ReleaseDC(window, dc);
    UpdateWindow(window);
    for (int round = 0; round < count; ++round) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        std::printf("paint-ms %.3f\n", Milliseconds(g_scene.lastPaint));
    }
    DestroyWindow(window);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || (wcscmp(argv[1], L"parse") != 0 && wcscmp(argv[1], L"paint") != 0)) {
        std::fprintf(stderr, "usage: pelmora-bench-floor.exe parse|paint FILE COUNT\n");
        return 2;
    }
    const int count = _wtoi(argv[3]);
    std::string bytes;
    if (count < 1 || !ReadWholeFile(argv[2], &bytes)) {
        std::fprintf(stderr, "floor: cannot read the file, or no count\n");
        return 2;
    }
    const int result = wcscmp(argv[1], L"parse") == 0 ? Parse(bytes, count)
                                                      : PaintTimes(GetModuleHandleW(nullptr), bytes, count);
    std::fflush(stdout);
    return result;
}
