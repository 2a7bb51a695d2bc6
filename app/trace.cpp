#include "app/trace.h"

#include <winsock2.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/import_table.h"

namespace {

constexpr std::size_t kBufferBytes = 1 << 20;
constexpr std::size_t kLineBytes = 256;
constexpr int kOpenDrawings = 16;
constexpr int kMostPatches = 16;

// The calls a trace passes on: what the import table held before.
struct OriginalCalls {
    decltype(&Sleep) sleep = nullptr;
    decltype(&WaitForSingleObject) waitForSingleObject = nullptr;
    decltype(&gethostbyname) resolve = nullptr;
    decltype(&connect) connectSocket = nullptr;
    decltype(&send) sendBytes = nullptr;
    decltype(&recv) receiveBytes = nullptr;
    decltype(&select) selectSockets = nullptr;
    decltype(&closesocket) closeSocket = nullptr;
    decltype(&GetMessageW) getMessage = nullptr;
    decltype(&DispatchMessageW) dispatchMessage = nullptr;
    decltype(&BeginPaint) beginPaint = nullptr;
    decltype(&EndPaint) endPaint = nullptr;
    decltype(&GetDC) getDc = nullptr;
    decltype(&ReleaseDC) releaseDc = nullptr;
};

// A paint (BeginPaint to EndPaint) or a device context (GetDC to ReleaseDC) under way.
struct OpenDrawing {
    HWND window = nullptr;
    LONGLONG begin = 0;
};

struct PatchedSlot {
    ULONG_PTR* slot = nullptr;
    ULONG_PTR original = 0;
};

// The hooks have the system's signatures and no context of their own: the one trace of the process
// is reached through this pointer. It is made by the first start and kept to the end of the process,
// because a hook of another thread may still be inside its call (a worker's wait) when the trace stops.
struct TraceState {
    HANDLE file = INVALID_HANDLE_VALUE;
    CRITICAL_SECTION lock;
    char* buffer = nullptr;
    std::size_t held = 0;
    DWORD userInterfaceThread = 0;
    LONGLONG frequency = 1;
    OriginalCalls original;
    OpenDrawing paints[kOpenDrawings];
    OpenDrawing contexts[kOpenDrawings];
    PatchedSlot slots[kMostPatches];
    int slotCount = 0;
    bool running = false;
};

TraceState* g_trace = nullptr;

LONGLONG Now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const LONGLONG frequency = g_trace->frequency;
    return counter.QuadPart / frequency * 10000000 + counter.QuadPart % frequency * 10000000 / frequency;
}

// Expects the lock to be held.
void FlushLocked() {
    DWORD written = 0;
    if (g_trace->held > 0 && g_trace->file != INVALID_HANDLE_VALUE) {
        WriteFile(g_trace->file, g_trace->buffer, static_cast<DWORD>(g_trace->held), &written, nullptr);
    }
    g_trace->held = 0;
}

// Keeps one line for a call that began at `begin` and ends now. The caller's last error survives.
void Record(LONGLONG begin, const char* event, const char* format, ...) {
    const DWORD lastError = GetLastError();
    const LONGLONG end = Now();
    char line[kLineBytes];
    int length = std::snprintf(line, sizeof(line), "%lld %lld %lu %s ", begin, end, GetCurrentThreadId(), event);
    va_list arguments;
    va_start(arguments, format);
    length += std::vsnprintf(line + length, sizeof(line) - length - 1, format, arguments);
    va_end(arguments);
    if (length > static_cast<int>(sizeof(line)) - 2) length = sizeof(line) - 2;
    line[length++] = '\n';
    EnterCriticalSection(&g_trace->lock);
    if (g_trace->held + length > kBufferBytes) FlushLocked();
    std::memcpy(g_trace->buffer + g_trace->held, line, length);
    g_trace->held += length;
    LeaveCriticalSection(&g_trace->lock);
    SetLastError(lastError);
}

// What a send carries, short: the Host header of a request to the service, else its first bytes.
void DescribeBytes(const char* bytes, int length, char* out, std::size_t size) {
    const int shown = length < 0 ? 0 : length;
    const char* host = nullptr;
    if (shown > 5 && std::strncmp(bytes, "POST ", 5) == 0) {
        for (int at = 0; at + 8 <= shown; ++at) {
            if (std::strncmp(bytes + at, "\r\nHost: ", 8) == 0) {
                host = bytes + at + 8;
                break;
            }
        }
    }
    const char* from = host != nullptr ? host : bytes;
    const char* limit = bytes + shown;
    std::size_t used = std::snprintf(out, size, "%s", host != nullptr ? "host=" : "text=");
    for (; from < limit && used + 1 < size && used < 40; ++from) {
        const unsigned char byte = static_cast<unsigned char>(*from);
        if (host != nullptr && (byte == '\r' || byte == '\n')) break;
        out[used++] = byte > ' ' && byte < 0x7f ? static_cast<char>(byte) : '_';
    }
    out[used] = '\0';
}

void ClassOf(HWND window, char* name, int size) {
    if (window == nullptr || GetClassNameA(window, name, size) == 0) std::snprintf(name, size, "-");
}

VOID WINAPI TracedSleep(DWORD milliseconds) {
    const LONGLONG begin = Now();
    g_trace->original.sleep(milliseconds);
    Record(begin, "sleep", "ms=%lu", milliseconds);
}

DWORD WINAPI TracedWaitForSingleObject(HANDLE object, DWORD milliseconds) {
    const LONGLONG begin = Now();
    const DWORD result = g_trace->original.waitForSingleObject(object, milliseconds);
    const long limit = milliseconds == INFINITE ? -1L : static_cast<long>(milliseconds);
    Record(begin, "wait", "ms=%ld result=%lu", limit, result);
    return result;
}

hostent* WSAAPI TracedResolve(const char* name) {
    const LONGLONG begin = Now();
    hostent* result = g_trace->original.resolve(name);
    Record(begin, "resolve", "name=%.40s found=%d", name != nullptr ? name : "-", result != nullptr);
    return result;
}

int WSAAPI TracedConnect(SOCKET socket, const sockaddr* address, int length) {
    const LONGLONG begin = Now();
    const int result = g_trace->original.connectSocket(socket, address, length);
    Record(begin, "connect", "socket=%llu result=%d", static_cast<unsigned long long>(socket), result);
    return result;
}

int WSAAPI TracedSend(SOCKET socket, const char* bytes, int length, int flags) {
    const LONGLONG begin = Now();
    const int result = g_trace->original.sendBytes(socket, bytes, length, flags);
    char what[64];
    DescribeBytes(bytes, result, what, sizeof(what));
    Record(begin, "send", "socket=%llu n=%d %s", static_cast<unsigned long long>(socket), result, what);
    return result;
}

int WSAAPI TracedReceive(SOCKET socket, char* bytes, int length, int flags) {
    const LONGLONG begin = Now();
    const int result = g_trace->original.receiveBytes(socket, bytes, length, flags);
    Record(begin, "recv", "socket=%llu n=%d", static_cast<unsigned long long>(socket), result);
    return result;
}

int WSAAPI TracedSelect(int count, fd_set* readable, fd_set* writable, fd_set* failed, PTIMEVAL timeout) {
    const LONGLONG begin = Now();
    const int result = g_trace->original.selectSockets(count, readable, writable, failed, timeout);
    const long milliseconds = timeout == nullptr ? -1L : timeout->tv_sec * 1000L + timeout->tv_usec / 1000L;
    Record(begin, "select", "ms=%ld result=%d", milliseconds, result);
    return result;
}

int WSAAPI TracedCloseSocket(SOCKET socket) {
    const LONGLONG begin = Now();
    const int result = g_trace->original.closeSocket(socket);
    Record(begin, "close", "socket=%llu", static_cast<unsigned long long>(socket));
    return result;
}

// The user-interface thread writes out the kept lines whenever it waits for its next message; a wait
// with nothing left to paint is marked "idle" first, so that a reader sees the screen complete even
// when no message comes.
BOOL WINAPI TracedGetMessage(LPMSG message, HWND window, UINT first, UINT last) {
    if (GetCurrentThreadId() == g_trace->userInterfaceThread) {
        if ((HIWORD(GetQueueStatus(QS_PAINT)) & QS_PAINT) == 0) Record(Now(), "idle", "paint-pending=0");
        EnterCriticalSection(&g_trace->lock);
        FlushLocked();
        LeaveCriticalSection(&g_trace->lock);
    }
    const LONGLONG begin = Now();
    const BOOL result = g_trace->original.getMessage(message, window, first, last);
    Record(begin, "message", "id=0x%x", result > 0 ? message->message : 0u);
    return result;
}

LRESULT WINAPI TracedDispatchMessage(const MSG* message) {
    const LONGLONG begin = Now();
    const LRESULT result = g_trace->original.dispatchMessage(message);
    char name[64];
    char parent[64];
    ClassOf(message->hwnd, name, sizeof(name));
    ClassOf(message->hwnd != nullptr ? GetParent(message->hwnd) : nullptr, parent, sizeof(parent));
    const int id = message->hwnd != nullptr ? GetDlgCtrlID(message->hwnd) : 0;
    Record(begin, "dispatch", "id=0x%x class=%s control=%d parent=%s", message->message, name, id, parent);
    return result;
}

void OpenDrawingOf(OpenDrawing (&drawings)[kOpenDrawings], HWND window, LONGLONG begin) {
    EnterCriticalSection(&g_trace->lock);
    for (OpenDrawing& open : drawings) {
        if (open.window == nullptr || open.window == window) {
            open.window = window;
            open.begin = begin;
            break;
        }
    }
    LeaveCriticalSection(&g_trace->lock);
}

// When the drawing on `window` began (now when it is not known), and forgets it.
LONGLONG CloseDrawingOf(OpenDrawing (&drawings)[kOpenDrawings], HWND window) {
    LONGLONG begin = 0;
    EnterCriticalSection(&g_trace->lock);
    for (OpenDrawing& open : drawings) {
        if (open.window == window) {
            begin = open.begin;
            open.window = nullptr;
            break;
        }
    }
    LeaveCriticalSection(&g_trace->lock);
    return begin != 0 ? begin : Now();
}

HDC WINAPI TracedBeginPaint(HWND window, LPPAINTSTRUCT paint) {
    OpenDrawingOf(g_trace->paints, window, Now());
    return g_trace->original.beginPaint(window, paint);
}

// Keeps the line of a drawing on `window` that ends now, named by the window's class.
void RecordDrawing(OpenDrawing (&drawings)[kOpenDrawings], HWND window, const char* event) {
    const LONGLONG begin = CloseDrawingOf(drawings, window);
    char name[64];
    ClassOf(window, name, sizeof(name));
    Record(begin, event, "class=%s", name);
}

BOOL WINAPI TracedEndPaint(HWND window, const PAINTSTRUCT* paint) {
    const BOOL result = g_trace->original.endPaint(window, paint);
    RecordDrawing(g_trace->paints, window, "paint");
    return result;
}

// A device context taken outside painting is how the panes measure their texts.
HDC WINAPI TracedGetDc(HWND window) {
    OpenDrawingOf(g_trace->contexts, window, Now());
    return g_trace->original.getDc(window);
}

int WINAPI TracedReleaseDc(HWND window, HDC dc) {
    const int result = g_trace->original.releaseDc(window, dc);
    RecordDrawing(g_trace->contexts, window, "dc");
    return result;
}

// Points the module's import of `function` at `replacement` and keeps the old target in `original`.
template <typename Function>
void Patch(HMODULE module, const char* library, const char* function, Function replacement, Function* original) {
    ULONG_PTR* slot = FindImportSlot(module, library, function);
    if (slot == nullptr || g_trace->slotCount == kMostPatches) return;
    *original = reinterpret_cast<Function>(*slot);
    g_trace->slots[g_trace->slotCount++] = {slot, *slot};
    WriteImportSlot(slot, reinterpret_cast<ULONG_PTR>(replacement));
}

}  // namespace

void StartTraceWhenAsked() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"PELMORA_TRACE", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    StartTrace(GetModuleHandleW(nullptr), path);
}

bool StartTrace(HMODULE module, const wchar_t* path) {
    if (g_trace != nullptr && g_trace->running) return false;
    const HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (g_trace == nullptr) {
        TraceState* made = new TraceState;
        made->buffer = new char[kBufferBytes];
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        made->frequency = frequency.QuadPart;
        InitializeCriticalSection(&made->lock);
        g_trace = made;
    }
    TraceState* trace = g_trace;
    EnterCriticalSection(&trace->lock);
    trace->file = file;
    trace->held = 0;
    trace->slotCount = 0;
    trace->userInterfaceThread = GetCurrentThreadId();
    trace->running = true;
    LeaveCriticalSection(&trace->lock);
    const LONGLONG begin = Now();

    OriginalCalls& original = trace->original;
    Patch(module, "kernel32.dll", "Sleep", &TracedSleep, &original.sleep);
    Patch(module, "kernel32.dll", "WaitForSingleObject", &TracedWaitForSingleObject, &original.waitForSingleObject);
    Patch(module, "ws2_32.dll", "gethostbyname", &TracedResolve, &original.resolve);
    Patch(module, "ws2_32.dll", "connect", &TracedConnect, &original.connectSocket);
    Patch(module, "ws2_32.dll", "send", &TracedSend, &original.sendBytes);
    Patch(module, "ws2_32.dll", "recv", &TracedReceive, &original.receiveBytes);
    Patch(module, "ws2_32.dll", "select", &TracedSelect, &original.selectSockets);
    Patch(module, "ws2_32.dll", "closesocket", &TracedCloseSocket, &original.closeSocket);
    Patch(module, "user32.dll", "GetMessageW", &TracedGetMessage, &original.getMessage);
    Patch(module, "user32.dll", "DispatchMessageW", &TracedDispatchMessage, &original.dispatchMessage);
    Patch(module, "user32.dll", "BeginPaint", &TracedBeginPaint, &original.beginPaint);
    Patch(module, "user32.dll", "EndPaint", &TracedEndPaint, &original.endPaint);
    Patch(module, "user32.dll", "GetDC", &TracedGetDc, &original.getDc);
    Patch(module, "user32.dll", "ReleaseDC", &TracedReleaseDc, &original.releaseDc);
    Record(begin, "start", "calls=%d", trace->slotCount);
    return true;
}

void StopTrace() {
    TraceState* trace = g_trace;
    if (trace == nullptr || !trace->running) return;
    for (int index = trace->slotCount - 1; index >= 0; --index) {
        WriteImportSlot(trace->slots[index].slot, trace->slots[index].original);
    }
    EnterCriticalSection(&trace->lock);
    FlushLocked();
    CloseHandle(trace->file);
    trace->file = INVALID_HANDLE_VALUE;
    trace->running = false;
    LeaveCriticalSection(&trace->lock);
}
