#include "platform/serial_port.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/device_profile.h"
#include "platform/durations.h"
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
    std::mutex lock;    // guards `record`; the link guards itself
    PortRecord record;  // state, timeouts, event mask, lines and the requests received

    // The last call on a closed handle lets the port go: its caller's error code must survive that.
    ~Port() {
        const DWORD error = GetLastError();
        link.Close();
        SetLastError(error);
    }
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
BOOL ReadSetting(HANDLE file, Setting PortRecord::*setting, Setting* value) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (value == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    *value = port->record.*setting;
    return TRUE;
}

template <typename Setting>
BOOL WriteSetting(HANDLE file, Setting PortRecord::*setting, const Setting* value) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (value == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    port->record.*setting = *value;
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
    return port.record.timeouts;
}

bool SameName(const std::wstring& left, const std::wstring& right) { return _wcsicmp(left.c_str(), right.c_str()) == 0; }

// The port's name as the profile spells it, and its modem.
bool FindModem(const std::wstring& name, std::wstring* profileName, std::string* endpoint) {
    for (const auto& port : GetDeviceProfile().ports) {
        if (SameName(port.first, name)) {
            *profileName = port.first;
            *endpoint = port.second;
            return true;
        }
    }
    return false;
}

// A port's settings before anyone set them: its lines stay low until someone raises them.
DCB InitialState() {
    DCB state = {};
    state.DCBlength = sizeof(DCB);
    state.BaudRate = CBR_9600;
    state.fBinary = TRUE;
    state.fDtrControl = DTR_CONTROL_DISABLE;
    state.fRtsControl = RTS_CONTROL_DISABLE;
    state.XonLim = 2048;
    state.XoffLim = 512;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    return state;
}

// What the driver keeps of its ports between opens, as a serial driver does: the device control block
// and the time-outs last set. Another device profile is another phone, whose ports start afresh.
struct KeptSettings {
    DCB state = InitialState();
    COMMTIMEOUTS timeouts = {};
};

class KeptPorts {
public:
    KeptSettings Find(const std::wstring& name) {
        std::lock_guard<std::mutex> lock(lock_);
        Refresh();
        const auto kept = ports_.find(name);
        return kept == ports_.end() ? KeptSettings() : kept->second;
    }

    void Keep(const std::wstring& name, const KeptSettings& settings) {
        std::lock_guard<std::mutex> lock(lock_);
        Refresh();
        ports_[name] = settings;
    }

private:
    void Refresh() {
        if (generation_ == GetDeviceProfile().generation) return;
        generation_ = GetDeviceProfile().generation;
        ports_.clear();
    }

    std::mutex lock_;
    unsigned generation_ = 0;
    std::map<std::wstring, KeptSettings> ports_;
};

KeptPorts& Kept() {
    static KeptPorts kept;
    return kept;
}

// Whether the driver owns a line under the port's flow control, so that no one else may set it.
bool DriverOwnsDtr(const DCB& state) { return state.fDtrControl == DTR_CONTROL_HANDSHAKE; }
bool DriverOwnsRts(const DCB& state) {
    return state.fRtsControl == RTS_CONTROL_HANDSHAKE || state.fRtsControl == RTS_CONTROL_TOGGLE;
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
    std::wstring name;
    std::string endpoint;
    if (!FindModem(fileName, &name, &endpoint)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto port = std::make_shared<Port>();
    port->name = name;
    const KeptSettings kept = Kept().Find(name);
    port->record.state = kept.state;
    port->record.timeouts = kept.timeouts;
    port->record.dtrRaised = kept.state.fDtrControl == DTR_CONTROL_ENABLE;
    port->record.rtsRaised = kept.state.fRtsControl == RTS_CONTROL_ENABLE;
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

BOOL GetCommState(HANDLE file, LPDCB dcb) { return ReadSetting(file, &PortRecord::state, dcb); }

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (dcb == nullptr || dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > SPACEPARITY ||
        dcb->StopBits > TWOSTOPBITS) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(port->lock);
    PortRecord& record = port->record;
    record.state = *dcb;
    record.state.DCBlength = sizeof(DCB);
    // Enabled and disabled lines follow the block at once; handshaking leaves them to the driver.
    if (dcb->fDtrControl == DTR_CONTROL_ENABLE || dcb->fDtrControl == DTR_CONTROL_DISABLE) {
        record.dtrRaised = dcb->fDtrControl == DTR_CONTROL_ENABLE;
    }
    if (dcb->fRtsControl == RTS_CONTROL_ENABLE || dcb->fRtsControl == RTS_CONTROL_DISABLE) {
        record.rtsRaised = dcb->fRtsControl == RTS_CONTROL_ENABLE;
    }
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    std::lock_guard<std::mutex> lock(port->lock);
    PortRecord& record = port->record;
    record.lineRequests.push_back(function);
    switch (function) {
    case SETDTR:
    case CLRDTR:
        if (DriverOwnsDtr(record.state)) return Fail(ERROR_INVALID_PARAMETER);
        record.dtrRaised = function == SETDTR;
        return TRUE;
    case SETRTS:
    case CLRRTS:
        if (DriverOwnsRts(record.state)) return Fail(ERROR_INVALID_PARAMETER);
        record.rtsRaised = function == SETRTS;
        return TRUE;
    case SETXOFF:
    case SETXON:
    case RESETDEV:
    case SETBREAK:
    case CLRBREAK:
        return TRUE;
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) { return ReadSetting(file, &PortRecord::timeouts, timeouts); }

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    return WriteSetting(file, &PortRecord::timeouts, timeouts);
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if ((eventMask & ~kKnownEvents) != 0) return Fail(ERROR_INVALID_PARAMETER);
    if (!WriteSetting(file, &PortRecord::eventMask, &eventMask)) return FALSE;
    // A new mask ends the wait for an event under the old one.
    port->link.Cancel(ModemLink::kEventWaits);
    return TRUE;
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (eventMask == nullptr || overlapped != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    DWORD watched = 0;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        watched = port->record.eventMask;
    }
    // Only a received character is ever signalled; waiting for anything else would never end.
    if ((watched & EV_RXCHAR) == 0) return Fail(ERROR_INVALID_PARAMETER);
    *eventMask = 0;
    switch (port->link.WaitForData(GetDurations().modemWaitMs, ModemLink::kEventWaits)) {
    case ModemLink::Readiness::Data:
        *eventMask = EV_RXCHAR;
        return TRUE;
    case ModemLink::Readiness::Cancelled:
        return TRUE;  // the mask changed: the wait ends with no event
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
    const ModemLink::CancelMark since = port->link.MarkCancels(ModemLink::kReadWaits);
    DWORD got = 0;
    while (got < bytesToRead) {
        const ModemLink::Readiness readiness =
            port->link.WaitForData(NextReadWait(timeouts, bytesToRead, got, start), ModemLink::kReadWaits, since);
        if (readiness == ModemLink::Readiness::TimedOut) break;
        if (readiness == ModemLink::Readiness::Cancelled) {
            *bytesRead = got;
            return Fail(ERROR_OPERATION_ABORTED);
        }
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
    bool aborted = false;
    const int written = port->link.Send(static_cast<const char*>(buffer), static_cast<int>(bytesToWrite), limit, &aborted);
    if (written < 0) return Fail(ERROR_GEN_FAILURE);
    *bytesWritten = static_cast<DWORD>(written);
    return aborted ? Fail(ERROR_OPERATION_ABORTED) : TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID, DWORD,
                     LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    const auto port = FindPort(device);
    if (!port) return FALSE;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        ControlRequest request;
        request.code = ioControlCode;
        if (inBuffer != nullptr) {
            const BYTE* input = static_cast<const BYTE*>(inBuffer);
            request.input.assign(input, input + inBufferSize);
        }
        port->record.controlRequests.push_back(std::move(request));
    }
    if (ioControlCode != kModemControlCode) return Fail(ERROR_NOT_SUPPORTED);
    if (inBuffer == nullptr || inBufferSize != 2 || overlapped != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (bytesReturned != nullptr) *bytesReturned = 0;
    return TRUE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    unsigned aborted = 0;
    if ((flags & PURGE_RXABORT) != 0) aborted |= ModemLink::kReadWaits;
    if ((flags & PURGE_TXABORT) != 0) aborted |= ModemLink::kWriteWaits;
    port->link.Cancel(aborted);
    // A write hands its bytes straight to the line, so there is no output buffer to clear.
    if ((flags & PURGE_RXCLEAR) != 0) port->link.DiscardReceived();
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    const std::shared_ptr<Port> port = Ports().Remove(object);
    if (!port) return Fail(ERROR_INVALID_HANDLE);
    // Calls still pending on the handle end now; the connection goes once the last of them returns.
    port->link.Cancel(ModemLink::kAllWaits);
    KeptSettings kept;
    {
        std::lock_guard<std::mutex> lock(port->lock);
        kept.state = port->record.state;
        kept.timeouts = port->record.timeouts;
    }
    Kept().Keep(port->name, kept);
    return TRUE;
}

BOOL InspectPort(HANDLE file, PortRecord* record) {
    const auto port = FindPort(file);
    if (!port) return FALSE;
    if (record == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> lock(port->lock);
    *record = port->record;
    return TRUE;
}

}  // namespace serial
