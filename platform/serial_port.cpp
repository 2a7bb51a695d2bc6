#include "platform/serial_port.h"

#include <memory>
#include <mutex>
#include <string>

#include "app/durations.h"
#include "platform/device_profile.h"
#include "platform/handle_table.h"
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

HandleTable<Port>& Ports() {
    static HandleTable<Port> table(0x50000000);
    return table;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The port behind a handle, kept alive while the caller uses it even if another thread closes it.
std::shared_ptr<Port> FindPort(HANDLE handle) {
    std::shared_ptr<Port> port = Ports().Find(handle);
    if (!port) SetLastError(ERROR_INVALID_HANDLE);
    return port;
}

// One of the port's settings, copied out or in under the port's lock.
template <typename Setting>
BOOL ReadSetting(HANDLE file, Setting Port::*setting, Setting* value) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (value == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    *value = (*port).*setting;
    return TRUE;
}

template <typename Setting>
BOOL WriteSetting(HANDLE file, Setting Port::*setting, const Setting* value) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (value == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    (*port).*setting = *value;
    return TRUE;
}

// The port of a ReadFile or WriteFile call with arguments a port without overlapped input and output
// takes; the byte count starts at zero.
std::shared_ptr<Port> FindTransferPort(HANDLE file, const void* buffer, DWORD size, LPDWORD count,
                                       LPOVERLAPPED overlapped) {
    std::shared_ptr<Port> port = FindPort(file);
    if (!port) return nullptr;
    if (count == nullptr || overlapped != nullptr || (buffer == nullptr && size > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    *count = 0;
    return port;
}

COMMTIMEOUTS TimeoutsOf(Port& port) {
    std::lock_guard<std::mutex> lock(port.lock);
    return port.timeouts;
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
    auto port = std::make_shared<Port>();
    port->name = fileName;
    port->state = InitialState();
    // The name is taken while connecting, so that a second open fails as it would once the port is open.
    const HANDLE handle = Ports().Add(port, [&](const Port& open) { return SameName(open.name, port->name); });
    if (handle == nullptr) {
        SetLastError(ERROR_ACCESS_DENIED);  // a serial port opens once at a time
        return INVALID_HANDLE_VALUE;
    }
    if (!port->link.Connect(endpoint, GetDurations().modemWaitMs)) {
        Ports().Remove(handle);
        SetLastError(ERROR_NOT_READY);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) { return ReadSetting(file, &Port::state, dcb); }

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    if (!FindPort(file)) return FALSE;
    if (dcb == nullptr || dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > SPACEPARITY ||
        dcb->StopBits > TWOSTOPBITS) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DCB state = *dcb;
    state.DCBlength = sizeof(DCB);
    return WriteSetting(file, &Port::state, &state);
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

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) { return ReadSetting(file, &Port::timeouts, timeouts); }

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) { return WriteSetting(file, &Port::timeouts, timeouts); }

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
    if (!FindPort(file)) return FALSE;
    if ((eventMask & ~kKnownEvents) != 0) return Fail(ERROR_INVALID_PARAMETER);
    return WriteSetting(file, &Port::eventMask, &eventMask);
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
    const auto port = FindTransferPort(file, buffer, bytesToRead, bytesRead, overlapped);
    if (!port) return FALSE;
    const COMMTIMEOUTS timeouts = TimeoutsOf(*port);
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
    const auto port = FindTransferPort(file, buffer, bytesToWrite, bytesWritten, overlapped);
    if (!port) return FALSE;
    const COMMTIMEOUTS timeouts = TimeoutsOf(*port);
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
    // A call still inside the port on another thread keeps the connection until it returns.
    return Ports().Remove(object) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

}  // namespace serial
