#include "location/cell_source.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app/durations.h"
#include "app/message_box.h"
#include "location/cell_monitor.h"
#include "platform/creg_reply.h"
#include "platform/ril.h"
#include "platform/serial_port.h"
#include "resources/texts.h"

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

LONG PendingAnswers(CellMonitor* monitor) { return InterlockedCompareExchange(&monitor->pendingAnswers, 0, 0); }

void StoreCell(CellMonitor* monitor, std::uint32_t lac, std::uint32_t cid) {
    std::lock_guard<std::mutex> lock(monitor->cellLock);
    monitor->current.cid = static_cast<std::uint16_t>(cid & 0xFFFF);
    monitor->current.lac = static_cast<std::uint16_t>(lac & 0xFFFF);
}

// The functions below expect the caller to hold `sourceLock`.

void CloseRadio(CellMonitor* monitor) {
    if (monitor->radio != nullptr) {
        RIL_Deinitialize(monitor->radio);
        monitor->radio = nullptr;
    }
    // A closed radio layer answers nothing more: requests it still owed are not waited for.
    InterlockedExchange(&monitor->pendingAnswers, 0);
}

void ClosePort(CellMonitor* monitor) {
    if (monitor->port != nullptr) {
        serial::CloseHandle(monitor->port);
        monitor->port = nullptr;
    }
}

bool OpenRadioLocked(CellMonitor* monitor) {
    CloseRadio(monitor);
    HRIL radio = nullptr;
    if (RIL_Initialize(kRadioPortIndex, OnRadioResult, nullptr, 0, 0, &radio) != S_OK) {
        ShowMessageBox(nullptr, kTextCantInitializeRadio, nullptr, MB_OK);
        return false;
    }
    monitor->radio = radio;
    return true;
}

bool RequestRadioCellLocked(CellMonitor* monitor) {
    InterlockedIncrement(&monitor->pendingAnswers);
    if (SUCCEEDED(RIL_GetCellTowerInfo(monitor->radio))) return true;
    InterlockedDecrement(&monitor->pendingAnswers);
    return false;
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

// Writes one command whole and waits for the modem's first byte back.
bool SendModemCommand(HANDLE port, const char* command, DWORD length) {
    DWORD written = 0;
    if (!serial::WriteFile(port, command, length, &written, nullptr) || written < length) return false;
    DWORD event = 0;
    return serial::WaitCommEvent(port, &event, nullptr) != FALSE;
}

// Reads after the `*held` bytes of the reply buffer until the modem is quiet or the buffer is full.
bool CollectModemReply(CellMonitor* monitor, std::size_t* held) {
    while (*held < kModemReplySize) {
        DWORD got = 0;
        if (!serial::ReadFile(monitor->port, monitor->modemReply + *held, static_cast<DWORD>(kModemReplySize - *held),
                              &got, nullptr)) {
            return false;
        }
        if (got == 0) break;
        *held += got;
    }
    return true;
}

bool ReadCellFromModemLocked(CellMonitor* monitor) {
    if (monitor->port == nullptr) return false;
    std::size_t held = 0;
    if (!SendModemCommand(monitor->port, kRegistrationReportOn, sizeof(kRegistrationReportOn) - 1) ||
        !CollectModemReply(monitor, &held) ||
        !SendModemCommand(monitor->port, kRegistrationQuery, sizeof(kRegistrationQuery) - 1) ||
        !CollectModemReply(monitor, &held) || !serial::EscapeCommFunction(monitor->port, CLRDTR)) {
        return false;
    }
    std::uint32_t lac = 0;
    std::uint32_t cid = 0;
    if (!ParseCregReply(monitor->modemReply, held, &lac, &cid)) return false;
    StoreCell(monitor, lac, cid);
    return true;
}

bool OpenCellSourceLocked(CellMonitor* monitor, int method) {
    monitor->method = method;
    switch (method) {
    case 1:
        return OpenRadioLocked(monitor);
    case 2:
        return OpenModemPortLocked(monitor, kModemPorts[0].name);
    case 3:
        return OpenModemPortLocked(monitor, kModemPorts[1].name);
    default:
        return false;
    }
}

}  // namespace

bool OpenRadio(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return OpenRadioLocked(monitor);
}

bool RequestRadioCell(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return RequestRadioCellLocked(monitor);
}

void CALLBACK OnRadioResult(DWORD code, HRESULT, const void* data, DWORD size, DWORD) {
    CellMonitor* monitor = GetCellMonitor();
    if (monitor == nullptr) return;
    // An error result carries an HRESULT, not a record: it answers the request and changes nothing.
    if (code == RIL_RESULT_OK && data != nullptr && size >= kSmallestCellRecord) {
        const auto* record = static_cast<const RILCELLTOWERINFO*>(data);
        StoreCell(monitor, record->dwLocationAreaCode, record->dwCellID);
    }
    InterlockedDecrement(&monitor->pendingAnswers);
}

bool AwaitRadioAnswer(CellMonitor* monitor, const std::function<bool()>& pause) {
    for (int waits = 0;; ++waits) {
        if (PendingAnswers(monitor) == 0) return true;
        if (waits == kRadioWaits || !pause()) return false;
    }
}

bool OpenModemPort(CellMonitor* monitor, const wchar_t* portName) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return OpenModemPortLocked(monitor, portName);
}

bool ReadCellFromModem(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return ReadCellFromModemLocked(monitor);
}

bool ProbeCellSource(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    monitor->probed = 1;
    if (OpenRadioLocked(monitor) && RequestRadioCellLocked(monitor) && AwaitRadioAnswer(monitor, [] {
            Sleep(GetDurations().radioPollMs);
            return true;
        })) {
        monitor->method = 1;
        return true;
    }
    CloseRadio(monitor);
    for (const ModemPortChoice& choice : kModemPorts) {
        if (OpenModemPortLocked(monitor, choice.name) && ReadCellFromModemLocked(monitor)) {
            monitor->method = choice.method;
            return true;
        }
        ClosePort(monitor);
    }
    monitor->method = -1;
    monitor->enabled = 0;
    return false;
}

bool OpenCellSource(CellMonitor* monitor, int method) {
    if (method == -1 || method == 0) return false;
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    return OpenCellSourceLocked(monitor, method);
}

void CloseCellSources(CellMonitor* monitor) {
    std::lock_guard<std::mutex> lock(monitor->sourceLock);
    CloseRadio(monitor);
    ClosePort(monitor);
}

MethodChoice ChooseCellMethod(CellMonitor* monitor, const std::vector<std::optional<std::string>>& methods,
                              const std::function<void()>& beforeProbe) {
    for (const std::optional<std::string>& text : methods) {
        if (!text) continue;
        const long method = std::strtol(text->c_str(), nullptr, 10);
        if (method == -1) {
            monitor->enabled = 0;
            return MethodChoice::SwitchedOff;
        }
        if (method == 0 || method > 3) {
            if (beforeProbe) beforeProbe();
            return ProbeCellSource(monitor) ? MethodChoice::ProbeFound : MethodChoice::ProbeFailed;
        }
        if (OpenCellSource(monitor, static_cast<int>(method))) return MethodChoice::Opened;
    }
    return MethodChoice::Exhausted;
}
