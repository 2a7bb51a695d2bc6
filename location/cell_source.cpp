#include "location/cell_source.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

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
    CellMethod method;
};
constexpr ModemPortChoice kModemPorts[] = {{L"COM2:", CellMethod::Com2}, {L"COM9:", CellMethod::Com9}};

// The record must reach at least as far as the cell identity to be read.
constexpr DWORD kSmallestCellRecord = offsetof(RILCELLTOWERINFO, dwCellID) + sizeof(DWORD);

// The open radio connections by their numbers. The radio layer hands every answer the number its
// connection was opened with (RIL_Initialize's user parameter, a DWORD: no room for a pointer on a
// 64-bit build), and this table turns it back into the source that opened the connection. Numbers
// are never reused while their connection is open, so an answer of a connection closed since finds
// nothing. An answer is stored with the table locked: once a connection has left the table, no answer
// of it is at work any more.
struct RadioConnections {
    std::mutex lock;
    std::map<DWORD, CellSource*> sources;
    DWORD lastNumber = 0;
};

RadioConnections& OpenRadioConnections() {
    static RadioConnections connections;
    return connections;
}

// A fresh number for a connection that `source` is about to open, entered in the table.
DWORD EnterRadioConnection(CellSource* source) {
    RadioConnections& connections = OpenRadioConnections();
    std::lock_guard<std::mutex> lock(connections.lock);
    do {
        ++connections.lastNumber;
    } while (connections.lastNumber == 0 || connections.sources.count(connections.lastNumber) != 0);
    connections.sources[connections.lastNumber] = source;
    return connections.lastNumber;
}

void LeaveRadioConnection(CellSource* source, DWORD connection) {
    RadioConnections& connections = OpenRadioConnections();
    std::lock_guard<std::mutex> lock(connections.lock);
    const auto entry = connections.sources.find(connection);
    if (entry != connections.sources.end() && entry->second == source) connections.sources.erase(entry);
}

void StoreCellLocked(CellSource* source, std::uint32_t lac, std::uint32_t cid) {
    source->current.cid = static_cast<std::uint16_t>(cid & 0xFFFF);
    source->current.lac = static_cast<std::uint16_t>(lac & 0xFFFF);
}

std::vector<RadioRequest>::iterator FindRequest(CellSource* source, DWORD connection, HRESULT command) {
    return std::find_if(source->radioRequests.begin(), source->radioRequests.end(),
                        [&](const RadioRequest& request) {
                            return request.connection == connection && request.command == command;
                        });
}

// Where a request stands for its waiter: answered (true) or abandoned (false), and then forgotten;
// or still open (no value). `giveUp` abandons a request still open.
std::optional<bool> SettleRequest(CellSource* source, const RadioTicket& ticket, bool giveUp) {
    std::lock_guard<std::mutex> lock(source->cellLock);
    const auto request = FindRequest(source, ticket.connection, ticket.command);
    if (request == source->radioRequests.end()) return false;  // the radio was closed before it answered
    if (!request->answered && !giveUp) return std::nullopt;
    const bool answered = request->answered;
    // A request given up gives its count back: one lost answer must not hold up the requests after it.
    if (!answered) InterlockedDecrement(&source->pendingAnswers);
    source->radioRequests.erase(request);
    return answered;
}

// The functions below expect the caller to hold `sourceLock`.

void CloseRadio(CellSource* source) {
    if (source->radio != nullptr) {
        // Once this returns, no answer of the connection comes any more.
        RIL_Deinitialize(source->radio);
        source->radio = nullptr;
    }
    LeaveRadioConnection(source, source->radioConnection);
    // The requests the connection still owed are abandoned; their waiters learn it at their next look.
    std::lock_guard<std::mutex> lock(source->cellLock);
    std::vector<RadioRequest>& requests = source->radioRequests;
    for (auto request = requests.begin(); request != requests.end();) {
        if (request->answered) {
            ++request;
            continue;
        }
        InterlockedDecrement(&source->pendingAnswers);
        request = requests.erase(request);
    }
}

void ClosePort(CellSource* source) {
    const HANDLE port = source->port.exchange(nullptr);
    if (port != nullptr) serial::CloseHandle(port);
}

bool OpenRadioLocked(CellSource* source) {
    CloseRadio(source);
    HRIL radio = nullptr;
    // The connection's number comes back with each of its answers: it finds this source, and an answer
    // of a connection closed since cannot pass for one of the new.
    source->radioConnection = EnterRadioConnection(source);
    if (RIL_Initialize(kRadioPortIndex, OnRadioResult, nullptr, 0, source->radioConnection, &radio) != S_OK) {
        LeaveRadioConnection(source, source->radioConnection);
        return false;
    }
    source->radio = radio;
    return true;
}

// A radio that does not open refuses: the user is to learn of that.
SourceResult RadioOpened(bool opened) {
    SourceResult result;
    result.opened = opened;
    result.radioRefused = !opened;
    return result;
}

RadioTicket RequestRadioCellLocked(CellSource* source) {
    RadioTicket ticket;
    if (source->radio == nullptr) return ticket;
    // The radio thread may answer before the request returns: the lock keeps that answer waiting until
    // the request is on the list.
    std::lock_guard<std::mutex> lock(source->cellLock);
    const HRESULT command = RIL_GetCellTowerInfo(source->radio);
    if (command <= 0) return ticket;
    ticket.connection = source->radioConnection;
    ticket.command = command;
    source->radioRequests.push_back({ticket.connection, ticket.command, false});
    InterlockedIncrement(&source->pendingAnswers);
    return ticket;
}

bool OpenModemPortLocked(CellSource* source, const wchar_t* portName) {
    ClosePort(source);
    const HANDLE port = serial::CreateFileW(portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == nullptr || port == INVALID_HANDLE_VALUE) return false;
    source->port = port;

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
    ModemReading(CellSource* source, HANDLE port, HANDLE stop) : source_(source), port_(port), stop_(stop) {}

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
            if (Abandoned() || !serial::ReadFile(port_, source_->modemReply + held_,
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

    CellSource* source_;
    HANDLE port_;
    HANDLE stop_;
    std::size_t held_ = 0;
};

bool ReadCellFromModemLocked(CellSource* source, HANDLE stop) {
    const HANDLE port = source->port;
    if (port == nullptr) return false;
    ModemReading reading(source, port, stop);
    if (!reading.Send(kRegistrationReportOn, sizeof(kRegistrationReportOn) - 1) || !reading.Collect() ||
        !reading.Send(kRegistrationQuery, sizeof(kRegistrationQuery) - 1) || !reading.Collect() ||
        !serial::EscapeCommFunction(port, CLRDTR)) {
        return false;
    }
    std::uint32_t lac = 0;
    std::uint32_t cid = 0;
    if (!ParseCregReply(source->modemReply, reading.held(), &lac, &cid)) return false;
    std::lock_guard<std::mutex> lock(source->cellLock);
    StoreCellLocked(source, lac, cid);
    return true;
}

SourceResult OpenCellSourceLocked(CellSource* source, CellMethod method) {
    source->method = method;
    SourceResult result;
    switch (method) {
    case CellMethod::Radio:
        result = RadioOpened(OpenRadioLocked(source));
        break;
    case CellMethod::Com2:
        result.opened = OpenModemPortLocked(source, kModemPorts[0].name);
        break;
    case CellMethod::Com9:
        result.opened = OpenModemPortLocked(source, kModemPorts[1].name);
        break;
    default:
        break;
    }
    return result;
}

}  // namespace

CellIdentity ReadCurrentCell(CellSource* source) {
    std::lock_guard<std::mutex> lock(source->cellLock);
    return source->current;
}

SourceResult OpenRadio(CellSource* source) {
    std::lock_guard<std::mutex> lock(source->sourceLock);
    return RadioOpened(OpenRadioLocked(source));
}

RadioTicket RequestRadioCell(CellSource* source) {
    std::lock_guard<std::mutex> lock(source->sourceLock);
    return RequestRadioCellLocked(source);
}

void CALLBACK OnRadioResult(DWORD code, HRESULT commandId, const void* data, DWORD size, DWORD parameter) {
    RadioConnections& connections = OpenRadioConnections();
    std::lock_guard<std::mutex> connectionsLock(connections.lock);
    const auto connection = connections.sources.find(parameter);
    if (connection == connections.sources.end()) return;
    CellSource* source = connection->second;
    std::lock_guard<std::mutex> lock(source->cellLock);
    const auto request = FindRequest(source, parameter, commandId);
    // A late answer to a request given up, or to one of a connection closed since, is nobody's.
    if (request == source->radioRequests.end() || request->answered) return;
    // An error result carries an HRESULT, not a record: it answers the request and changes nothing.
    if (code == RIL_RESULT_OK && data != nullptr && size >= kSmallestCellRecord) {
        const auto* record = static_cast<const RILCELLTOWERINFO*>(data);
        StoreCellLocked(source, record->dwLocationAreaCode, record->dwCellID);
    }
    request->answered = true;
    InterlockedDecrement(&source->pendingAnswers);
}

bool AwaitRadioAnswer(CellSource* source, const RadioTicket& ticket, const std::function<bool()>& pause) {
    for (int waits = 0;; ++waits) {
        if (const std::optional<bool> settled = SettleRequest(source, ticket, waits == kRadioWaits)) return *settled;
        if (!pause()) return *SettleRequest(source, ticket, true);
    }
}

bool OpenModemPort(CellSource* source, const wchar_t* portName) {
    std::lock_guard<std::mutex> lock(source->sourceLock);
    return OpenModemPortLocked(source, portName);
}

bool ReadCellFromModem(CellSource* source, HANDLE stop) {
    std::lock_guard<std::mutex> lock(source->sourceLock);
    return ReadCellFromModemLocked(source, stop);
}

void InterruptModemReading(CellSource* source) {
    const HANDLE port = source->port;
    if (port == nullptr) return;
    // The mask the reading set, set again: a changed mask is what ends a pending wait, and the port
    // stays as the next reading needs it.
    serial::SetCommMask(port, EV_RXCHAR);
    serial::PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT);
}

SourceResult ProbeCellSource(CellSource* source) {
    std::lock_guard<std::mutex> lock(source->sourceLock);
    source->probed = 1;
    SourceResult result;
    result.radioRefused = !OpenRadioLocked(source);
    if (!result.radioRefused) {
        const RadioTicket ticket = RequestRadioCellLocked(source);
        if (ticket && AwaitRadioAnswer(source, ticket, [] {
                Sleep(GetDurations().radioPollMs);
                return true;
            })) {
            source->method = CellMethod::Radio;
            result.opened = true;
            return result;
        }
    }
    CloseRadio(source);
    for (const ModemPortChoice& choice : kModemPorts) {
        if (OpenModemPortLocked(source, choice.name) && ReadCellFromModemLocked(source, nullptr)) {
            source->method = choice.method;
            result.opened = true;
            return result;
        }
        ClosePort(source);
    }
    source->method = CellMethod::Off;
    source->enabled = 0;
    return result;
}

SourceResult OpenCellSource(CellSource* source, CellMethod method) {
    if (method == CellMethod::Off || method == CellMethod::Probe) return {};
    std::lock_guard<std::mutex> lock(source->sourceLock);
    return OpenCellSourceLocked(source, method);
}

void CloseCellSources(CellSource* source) {
    std::lock_guard<std::mutex> lock(source->sourceLock);
    CloseRadio(source);
    ClosePort(source);
}

MethodChoice ChooseCellMethod(CellSource* source, const std::vector<std::optional<CellMethod>>& methods,
                              const std::function<void()>& beforeProbe, const std::function<void()>& radioRefused) {
    // Each try has returned, and let go of the source's locks, before the user is told of it.
    const auto tell = [&radioRefused](const SourceResult& result) {
        if (result.radioRefused && radioRefused) radioRefused();
        return result.opened;
    };
    for (const std::optional<CellMethod>& method : methods) {
        if (!method) continue;
        if (*method == CellMethod::Off) {
            source->enabled = 0;
            return MethodChoice::SwitchedOff;
        }
        if (*method == CellMethod::Probe || *method > CellMethod::Com9) {
            if (beforeProbe) beforeProbe();
            return tell(ProbeCellSource(source)) ? MethodChoice::ProbeFound : MethodChoice::ProbeFailed;
        }
        if (tell(OpenCellSource(source, *method))) return MethodChoice::Opened;
    }
    return MethodChoice::Exhausted;
}
