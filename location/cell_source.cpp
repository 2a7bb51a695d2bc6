#include "location/cell_source.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "location/cell_monitor.h"
#include "platform/creg_reply.h"
#include "platform/durations.h"
#include "platform/ril.h"
#include "platform/serial_port.h"

namespace {

constexpr DWORD kRadioPortIndex = 1;
// Result mode 2: the registration status then carries the location area code and the cell identity.
constexpr char kRegistrationReportOn[] = "AT+creg=2\r";
constexpr char kRegistrationQuery[] = "AT+creg?\r";
constexpr int kRadioWaits = 10;
constexpr DWORD kWriteTotalTimeoutConstant = 20000;
constexpr BYTE kModemControlInput[] = {0x84, 0x00};

struct ModemPortChoice {
    const wchar_t* name;
    int method;
};
constexpr ModemPortChoice kModemPorts[] = {{L"COM2:", 2}, {L"COM9:", 3}};

// The record must reach at least as far as the cell identity to be read.
constexpr DWORD kSmallestCellRecord = offsetof(RILCELLTOWERINFO, dwCellID) + sizeof(DWORD);

void StoreCellLocked(CellMonitor* monitor, std::uint32_t lac, std::uint32_t cid) {
    monitor->current.cid = static_cast<std::uint16_t>(cid & 0xFFFF);
    monitor->current.lac = static_cast<std::uint16_t>(lac & 0xFFFF);
}

std::vector<RadioRequest>::iterator FindRequest(CellMonitor* monitor, DWORD connection, HRESULT command) {
    return std::find_if(monitor->radioRequests.begin(), monitor->radioRequests.end(),
                        [&](const RadioRequest& request) {
                            return request.connection == connection && request.command == command;
                        });
}

// Where a request stands for its waiter: answered (true) or abandoned (false), and then forgotten;
// or still open (no value). `giveUp` abandons a request still open.
std::optional<bool> SettleRequest(CellMonitor* monitor, const RadioTicket& ticket, bool giveUp) {
    std::lock_guard<std::mutex> lock(monitor->cellLock);
    const auto request = FindRequest(monitor, ticket.connection, ticket.command);
    if (request == monitor->radioRequests.end()) return false;  // the radio was closed before it answered
    if (!request->answered && !giveUp) return std::nullopt;
    const bool answered = request->answered;
    // A request given up gives its count back: one lost answer must not hold up the requests after it.
    if (!answered) InterlockedDecrement(&monitor->pendingAnswers);
    monitor->radioRequests.erase(request);
    return answered;
}

// The functions below expect the caller to hold `sourceLock`.

void CloseRadio(CellMonitor* monitor) {
    if (monitor->radio != nullptr) {
        // Once this returns, no answer of the connection comes any more.
        RIL_Deinitialize(monitor->radio);
        monitor->radio = nullptr;
    }
    // The requests the connection still owed are abandoned; their waiters learn it at their next look.
    std::lock_guard<std::mutex> lock(monitor->cellLock);
    std::vector<RadioRequest>& requests = monitor->radioRequests;
    for (auto request = requests.begin(); request != requests.end();) {
        if (request->answered) {
            ++request;
            continue;
        }
        InterlockedDecrement(&monitor->pendingAnswers);
        request = requests.erase(request);
    }
}

void ClosePort(CellMonitor* monitor) {
    const HANDLE port = monitor->port.exchange(nullptr);
    if (port != nullptr) serial::CloseHandle(port);
}

bool OpenRadioLocked(CellMonitor* monitor) {
    CloseRadio(monitor);
    HRIL radio = nullptr;
    // The connection's number comes back with each of its answers, so that an answer of a connection
    // closed since cannot pass for one of the new.
    const DWORD connection = ++monitor->radioConnection;
    if (RIL_Initialize(kRadioPortIndex, OnRadioResult, nullptr, 0, connection, &radio) != S_OK) return false;
    monitor->radio = radio;
    return true;
}

// A radio that does not open refuses: the user is to learn of that.
SourceResult RadioOpened(bool opened) {
    SourceResult result;
    result.opened = opened;
    result.radioRefused = !opened;
    return result;
}

RadioTicket RequestRadioCellLocked(CellMonitor* monitor) {
    RadioTicket ticket;
    if (monitor->radio == nullptr) return ticket;
    // The radio thread may answer before the request returns: the lock keeps that answer waiting until
    // the request is on the list.
    std::lock_guard<std::mutex> lock(monitor->cellLock);
    const HRESULT command = RIL_GetCellTowerInfo(monitor->radio);
    if (command <= 0) return ticket;
    ticket.connection = monitor->radioConnection;
    ticket.command = command;
    monitor->radioRequests.push_back({ticket.connection, ticket.command, false});
    InterlockedIncrement(&monitor->pendingAnswers);
    return ticket;
}

bool OpenModemPortLocked(CellMonitor* monitor, const wchar_t* portName) {
    ClosePort(monitor);
    const HANDLE port = serial::CreateFileW(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == nullptr || port == INVALID_HANDLE_VALUE) return false;
    monitor->port = port;

    DCB state = {};
    state.DCBlength = sizeof(state);
    if (!serial::GetCommState(port, &state)) return false;
    state.BaudRate = CBR_115200;
    state.fParity = FALSE;
    state.ByteSize = 8;
    state.StopBits = ONESTOPBIT;
    if (!serial::SetCommState(port, &state)) return false;

    serial::EscapeCommFunction(port, SETDTR);
    serial::EscapeCommFunction(port, SETRTS);

    COMMTIMEOUTS timeouts = {};
    serial::GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = GetDurations().modemQuietMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutConstant;
    serial::SetCommTimeouts(port, &timeouts);

    if (!serial::SetCommMask(port, EV_RXCHAR)) return false;
    BYTE input[sizeof(kModemControlInput)];
    memcpy(input, kModemControlInput, sizeof(input));
    return serial::DeviceIoControl(port, serial::kModemControlCode, input, sizeof(input), nullptr, 0, nullptr, nullptr) !=
           FALSE;
}

// One reading by AT commands: the two commands and the bytes they bring back into the reply buffer.
class ModemReading {
public:
    ModemReading(CellMonitor* monitor, HANDLE port, HANDLE stop) : monitor_(monitor), port_(port), stop_(stop) {}

    // Writes one command whole and waits for the modem's first byte back.
    bool Send(const char* command, DWORD length) {
        DWORD written = 0;
        if (Abandoned() || !serial::WriteFile(port_, command, length, &written, nullptr) || written < length) {
            return false;
        }
        // A wait ended by a new event mask reports no event: nothing came from the modem.
        DWORD event = 0;
        return !Abandoned() && serial::WaitCommEvent(port_, &event, nullptr) && (event & EV_RXCHAR) != 0;
    }

    // Reads after the bytes held so far until the modem is quiet or the buffer is full.
    bool Collect() {
        while (held_ < kModemReplySize) {
            DWORD got = 0;
            if (Abandoned() || !serial::ReadFile(port_, monitor_->modemReply + held_,
                                                 static_cast<DWORD>(kModemReplySize - held_), &got, nullptr)) {
                return false;
            }
            if (got == 0) break;
            held_ += got;
        }
        return true;
    }

    std::size_t held() const { return held_; }

private:
    bool Abandoned() const { return stop_ != nullptr && WaitForSingleObject(stop_, 0) != WAIT_TIMEOUT; }

    CellMonitor* monitor_;
    HANDLE port_;
    HANDLE stop_;
    std::size_t held_ = 0;
};

bool ReadCellFromModemLocked(CellMonitor* monitor, HANDLE stop) {
    const HANDLE port = monitor->port;
    if (port == nullptr) return false;
    ModemReading reading(monitor, port, stop);
    if (!reading.Send(kRegistrationReportOn, sizeof(kRegistrationReportOn) - 1) || !reading.Collect() ||
        !reading.Send(kRegistrationQuery, sizeof(kRegistrationQuery) - 1) || !reading.Collect() ||
        !serial::EscapeCommFunction(port, CLRDTR)) {
        return false;
    }
    std::uint32_t lac = 0;
    std::uint32_t cid = 0;
    if (!ParseCregReply(monitor->modemReply, reading.held(), &lac, &cid)) return false;
    std::lock_guard<std::mutex> lock(monitor->cellLock);
    StoreCellLocked(monitor, lac, cid);
    return true;
}

SourceResult OpenCellSourceLocked(CellMonitor* monitor, int method) {
    monitor->method = method;
    SourceResult result;
    switch (method) {
    case 1:
        result = RadioOpened(OpenRadioLocked(monitor));
        break;
    case 2:
        result.opened = OpenModemPortLocked(monitor, kModemPorts[0].name);
        break;
    case 3:
        result.opened = OpenModemPortLocked(monitor, kModemPorts[1].name);
        break;
    default:
        break;
    }
    return result;
}

}  // namespace

SourceResult OpenRadio(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return RadioOpened(OpenRadioLocked(monitor));
}

RadioTicket RequestRadioCell(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return RequestRadioCellLocked(monitor);
}

void CALLBACK OnRadioResult(DWORD code, HRESULT commandId, const void* data, DWORD size, DWORD parameter) {
    CellMonitor* monitor = GetCellMonitor();
    if (monitor == nullptr) return;
    std::lock_guard<std::mutex> lock(monitor->cellLock);
    const auto request = FindRequest(monitor, parameter, commandId);
    // A late answer to a request given up, or to one of a connection closed since, is nobody's.
    if (request == monitor->radioRequests.end() || request->answered) return;
    // An error result carries an HRESULT, not a record: it answers the request and changes nothing.
    if (code == RIL_RESULT_OK && data != nullptr && size >= kSmallestCellRecord) {
        const auto* record = static_cast<const RILCELLTOWERINFO*>(data);
        StoreCellLocked(monitor, record->dwLocationAreaCode, record->dwCellID);
    }
    request->answered = true;
    InterlockedDecrement(&monitor->pendingAnswers);
}

bool AwaitRadioAnswer(CellMonitor* monitor, const RadioTicket& ticket, const std::function<bool()>& pause) {
    for (int waits = 0;; ++waits) {
        if (const std::optional<bool> settled = SettleRequest(monitor, ticket, waits == kRadioWaits)) return *settled;
        if (!pause()) return *SettleRequest(monitor, ticket, true);
    }
}

bool OpenModemPort(CellMonitor* monitor, const wchar_t* portName) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return OpenModemPortLocked(monitor, portName);
}

bool ReadCellFromModem(CellMonitor* monitor, HANDLE stop) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return ReadCellFromModemLocked(monitor, stop);
}

void InterruptModemReading(CellMonitor* monitor) {
    const HANDLE port = monitor->port;
    if (port == nullptr) return;
    // The mask the reading set, set again: a changed mask is what ends a pending wait, and the port
    // stays as the next reading needs it.
    serial::SetCommMask(port, EV_RXCHAR);
    serial::PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT);
}

SourceResult ProbeCellSource(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    monitor->probed = 1;
    SourceResult result;
    result.radioRefused = !OpenRadioLocked(monitor);
    if (!result.radioRefused) {
        const RadioTicket ticket = RequestRadioCellLocked(monitor);
        if (ticket && AwaitRadioAnswer(monitor, ticket, [] {
                Sleep(GetDurations().radioPollMs);
                return true;
            })) {
            monitor->method = 1;
            result.opened = true;
            return result;
        }
    }
    CloseRadio(monitor);
    for (const ModemPortChoice& choice : kModemPorts) {
        if (OpenModemPortLocked(monitor, choice.name) && ReadCellFromModemLocked(monitor, nullptr)) {
            monitor->method = choice.method;
            result.opened = true;
            return result;
        }
        ClosePort(monitor);
    }
    monitor->method = -1;
    monitor->enabled = 0;
    return result;
}

SourceResult OpenCellSource(CellMonitor* monitor, int method) {
    if (method == -1 || method == 0) return {};
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return OpenCellSourceLocked(monitor, method);
}

void CloseCellSources(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    CloseRadio(monitor);
    ClosePort(monitor);
}

MethodChoice ChooseCellMethod(CellMonitor* monitor, const std::vector<std::optional<std::string>>& methods,
                              const std::function<void()>& beforeProbe, const std::function<void()>& radioRefused) {
    // Each try has returned, and let go of the monitor's locks, before the user is told of it.
    const auto tell = [&radioRefused](const SourceResult& result) {
        if (result.radioRefused && radioRefused) radioRefused();
        return result.opened;
    };
    for (const std::optional<std::string>& text : methods) {
        if (!text) continue;
        const long method = std::strtol(text->c_str(), nullptr, 10);
        if (method == -1) {
            monitor->enabled = 0;
            return MethodChoice::SwitchedOff;
        }
        if (method == 0 || method > 3) {
            if (beforeProbe) beforeProbe();
            return tell(ProbeCellSource(monitor)) ? MethodChoice::ProbeFound : MethodChoice::ProbeFailed;
        }
        if (tell(OpenCellSource(monitor, static_cast<int>(method)))) return MethodChoice::Opened;
    }
    return MethodChoice::Exhausted;
}
