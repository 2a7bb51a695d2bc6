#include "platform/serial_port.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "app/durations.h"
#include "platform/device_profile.h"
#include "platform/modem_link.h"

namespace serial {

namespace {

// Every event a serial driver knows; a mask with other bits is refused as the driver refuses it.
constexpr DWORD kKnownEvents = EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR |
                               EV_RING | EV_PERR | EV_RX80FULL | EV_EVENT1 | EV_EVENT2;

struct Port {
    std::wstring name;
    ModemLink link;
    std::mutex lock;  // guards the settings below; the link is used by one caller at a time
    DCB state = {};
    COMMTIMEOUTS timeouts = {};
    DWORD eventMask = 0;
};

struct PortTable {
    std::mutex lock;
    std::map<HANDLE, std::shared_ptr<Port>> ports;
    std::uintptr_t lastHandle = 0x5000;
};

PortTable& Ports() {
    static PortTable table;
    return table;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The port behind a handle, kept alive while the caller uses it even if another thread closes it.
std::shared_ptr<Port> FindPort(HANDLE handle) {
    PortTable& table = Ports();
    std::lock_guard<std::mutex> lock(table.lock);
    const auto found = table.ports.find(handle);
    if (found == table.ports.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second;
}

bool SameName(const std::wstring& left, const std::wstring& right) { return _wcsicmp(left.c_str(), right.c_str()) == 0; }

bool FindModem(const std::wstring& name, std::string* endpoint) {
    for (const auto& port : GetDeviceProfile().ports) {
        if (SameName(port.first, name)) {
            *endpoint = port.second;
            return true;
        }
    }
    return false;
}

DCB InitialState() {
    DCB state = {};
    state.DCBlength = sizeof(DCB);
    state.BaudRate = CBR_9600;
    state.fBinary = TRUE;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.XonLim = 2048;
    state.XoffLim = 512;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    return state;
}

DWORD TotalTimeout(DWORD multiplier, DWORD constant, DWORD bytes) {
    const unsigned long long total = static_cast<unsigned long long>(multiplier) * bytes + constant;
    return total >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(total);
}

DWORD Remaining(ULONGLONG start, DWORD limit) {
    const ULONGLONG spent = GetTickCount64() - start;
    return spent >= limit ? 0 : static_cast<DWORD>(limit - spent);
}

// How long ReadFile may still wait for its next byte, as COMMTIMEOUTS rule it; 0 ends the read.
DWORD NextReadWait(const COMMTIMEOUTS& timeouts, DWORD wanted, DWORD got, ULONGLONG start) {
    const DWORD interval = timeouts.ReadIntervalTimeout;
    if (interval == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 && timeouts.ReadTotalTimeoutConstant == 0) {
        return 0;  // only what has arrived already
    }
    if (interval == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
        timeouts.ReadTotalTimeoutConstant > 0 && timeouts.ReadTotalTimeoutConstant < MAXDWORD) {
        return got > 0 ? 0 : Remaining(start, timeouts.ReadTotalTimeoutConstant);  // the first byte ends it
    }
    DWORD wait = INFINITE;
    if (timeouts.ReadTotalTimeoutMultiplier != 0 || timeouts.ReadTotalTimeoutConstant != 0) {
        wait = Remaining(start, TotalTimeout(timeouts.ReadTotalTimeoutMultiplier, timeouts.ReadTotalTimeoutConstant, wanted));
    }
    if (got > 0 && interval != 0 && interval != MAXDWORD && interval < wait) wait = interval;
    return wait;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    if (fileName == nullptr || creationDisposition != OPEN_EXISTING || templateFile != nullptr ||
        (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string endpoint;
    if (!FindModem(fileName, &endpoint)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    PortTable& table = Ports();
    auto port = std::make_shared<Port>();
    port->name = fileName;
    port->state = InitialState();
    HANDLE handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(table.lock);
        for (const auto& open : table.ports) {
            if (SameName(open.second->name, port->name)) {
                SetLastError(ERROR_ACCESS_DENIED);  // a serial port opens once at a time
                return INVALID_HANDLE_VALUE;
            }
        }
        // Reserve the name while connecting, so that a second open fails like the first would.
        table.lastHandle += 4;
        handle = reinterpret_cast<HANDLE>(table.lastHandle);
        table.ports[handle] = port;
    }
    if (!port->link.Connect(endpoint, GetDurations().modemWaitMs)) {
        std::lock_guard<std::mutex> lock(table.lock);
        table.ports.erase(handle);
        SetLastError(ERROR_NOT_READY);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (dcb == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    *dcb = port->state;
    return TRUE;
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (dcb == nullptr || dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > SPACEPARITY ||
        dcb->StopBits > TWOSTOPBITS) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(port->lock);
    port->state = *dcb;
    port->state.DCBlength = sizeof(DCB);
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    if (!FindPort(file)) return FALSE;
    switch (function) {
    case SETXOFF:
    case SETXON:
    case SETRTS:
    case CLRRTS:
    case SETDTR:
    case CLRDTR:
    case RESETDEV:
    case SETBREAK:
    case CLRBREAK:
        return TRUE;
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    *timeouts = port->timeouts;
    return TRUE;
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    port->timeouts = *timeouts;
    return TRUE;
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if ((eventMask & ~kKnownEvents) != 0) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    port->eventMask = eventMask;
    return TRUE;
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (eventMask == nullptr || overlapped != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    DWORD watched = 0;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        watched = port->eventMask;
    }
    // Only a received character is ever signalled; waiting for anything else would never end.
    if ((watched & EV_RXCHAR) == 0) return Fail(ERROR_INVALID_PARAMETER);
    switch (port->link.WaitForData(GetDurations().modemWaitMs)) {
    case ModemLink::Readiness::Data:
        *eventMask = EV_RXCHAR;
        return TRUE;
    case ModemLink::Readiness::HungUp:
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    case ModemLink::Readiness::TimedOut:
        return Fail(ERROR_TIMEOUT);
    case ModemLink::Readiness::Failed:
        break;
    }
    return Fail(ERROR_GEN_FAILURE);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (bytesRead == nullptr || overlapped != nullptr || (buffer == nullptr && bytesToRead > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *bytesRead = 0;
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        timeouts = port->timeouts;
    }
    char* bytes = static_cast<char*>(buffer);
    const ULONGLONG start = GetTickCount64();
    DWORD got = 0;
    while (got < bytesToRead) {
        const ModemLink::Readiness readiness = port->link.WaitForData(NextReadWait(timeouts, bytesToRead, got, start));
        if (readiness == ModemLink::Readiness::TimedOut) break;
        const int received = readiness == ModemLink::Readiness::Data
                                 ? port->link.Receive(bytes + got, static_cast<int>(bytesToRead - got))
                                 : -1;
        if (received <= 0) {
            // The bytes that did arrive are handed over; the broken line shows on the next read.
            if (got > 0) break;
            return Fail(readiness == ModemLink::Readiness::Failed ? ERROR_GEN_FAILURE : ERROR_DEVICE_NOT_CONNECTED);
        }
        got += static_cast<DWORD>(received);
    }
    *bytesRead = got;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (bytesWritten == nullptr || overlapped != nullptr || (buffer == nullptr && bytesToWrite > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *bytesWritten = 0;
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        timeouts = port->timeouts;
    }
    const DWORD limit = timeouts.WriteTotalTimeoutMultiplier == 0 && timeouts.WriteTotalTimeoutConstant == 0
                            ? INFINITE
                            : TotalTimeout(timeouts.WriteTotalTimeoutMultiplier, timeouts.WriteTotalTimeoutConstant,
                                           bytesToWrite);
    const int written = port->link.Send(static_cast<const char*>(buffer), static_cast<int>(bytesToWrite), limit);
    if (written < 0) return Fail(ERROR_GEN_FAILURE);
    *bytesWritten = static_cast<DWORD>(written);
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID, DWORD,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    if (!FindPort(device)) return FALSE;
    if (ioControlCode != kModemControlCode) return Fail(ERROR_NOT_SUPPORTED);
    if (inBuffer == nullptr || inBufferSize != 2 || overlapped != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (bytesReturned != nullptr) *bytesReturned = 0;
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    std::shared_ptr<Port> closing;  // released after the table's lock, so the connection ends outside it
    {
        PortTable& table = Ports();
        std::lock_guard<std::mutex> lock(table.lock);
        const auto found = table.ports.find(object);
        if (found == table.ports.end()) return Fail(ERROR_INVALID_HANDLE);
        closing = found->second;
        table.ports.erase(found);
    }
    // A call still inside the port on another thread keeps the connection until it returns.
    return TRUE;
}

}  // namespace serial
