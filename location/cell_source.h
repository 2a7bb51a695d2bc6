// Reading the serving cell: the radio layer, or AT commands to the modem on "COM2:" or "COM9:",
// and choosing which of them this phone uses.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

struct CellIdentity {
    std::uint16_t cid = 0;
    std::uint16_t lac = 0;
    std::int64_t changedAt = 0;  // seconds since 1970-01-01 00:00 UTC when it became the dominant cell
};

// Which source reads the serving cell. The handshake's "method" elements and the "method_use" report
// carry these as numbers; a number beyond the named ones is kept as it came.
enum class CellMethod : std::int32_t {
    Off = -1,   // no source works on this phone, or the server switched location off
    Probe = 0,  // from the server: find a source by trial; in the monitor: none chosen yet
    Radio = 1,  // the radio layer
    Com2 = 2,   // AT commands on "COM2:"
    Com9 = 3,   // AT commands on "COM9:"
};

// The size of the modem reply buffer: the bytes both AT commands of one reading bring back.
inline constexpr std::size_t kModemReplySize = 256;

// A radio request whose waiter has not finished with it.
struct RadioRequest {
    DWORD connection = 0;  // the radio connection it went to, which its answer names
    HRESULT command = 0;   // the command identifier RIL_GetCellTowerInfo gave it, which its answer names
    bool answered = false;
};

// The sources' share of the location state: which source reads the serving cell and the latest
// reading. A log-in renewal on the user-interface thread reopens the sources that the sampling worker
// reads, and the radio's callback thread writes what both read: each member says how it is kept safe.
struct CellSource {
    std::atomic<std::uint8_t> enabled{1};  // the location can be determined
    std::uint8_t probed = 0;  // found by probing, to be reported to the server; the user-interface thread's only
    std::atomic<CellMethod> method{CellMethod::Probe};
    CellIdentity current;               // under `cellLock`
    volatile LONG pendingAnswers = 0;   // radio requests still without an answer; interlocked changes only
    HANDLE radio = nullptr;             // under `sourceLock`
    // Changed under `sourceLock`; read without it to release a reading blocked in the port.
    std::atomic<HANDLE> port{nullptr};

    // The worker, the radio's callback thread and the user-interface thread all touch `current` (and the
    // sampler's history): every change of either and every copy taken of them holds this lock. It also
    // guards `radioRequests`.
    std::mutex cellLock;
    // Opening, reading and closing the sources hold this one, so that a log-in renewal that reopens a
    // source never pulls the port or the radio from under the worker's reading. Nothing that waits for
    // the user (a message box) runs under it.
    std::mutex sourceLock;
    std::vector<RadioRequest> radioRequests;  // under `cellLock`
    DWORD radioConnection = 0;  // the number of the open radio connection (see OnRadioResult); under `sourceLock`
    char modemReply[kModemReplySize] = {};  // under `sourceLock`
};

// A consistent copy of `current`, safe against the worker and the radio callback writing it.
CellIdentity ReadCurrentCell(CellSource* source);

// What opening a source came to. The sources never tell the user anything themselves: they work under
// `sourceLock`, and a message box's loop under that lock would let the user stop the worker while the
// worker waits for the lock. Whoever called them tells the user once the call has returned.
struct SourceResult {
    bool opened = false;
    bool radioRefused = false;  // the radio layer refused the connection: the user is to see "Cant initialize RIL"
    explicit operator bool() const { return opened; }
};

// Finds a working source by trial: the radio layer, then the modem on "COM2:", then on "COM9:".
// Sets `probed`; when nothing works, `method` Off and `enabled` 0.
SourceResult ProbeCellSource(CellSource* source);
// Opens the source that `method` names without reading; Off and Probe fail and change nothing, any
// other value is stored in `method` first (one beyond the named sources then fails).
SourceResult OpenCellSource(CellSource* source, CellMethod method);
// Connects to the radio layer.
SourceResult OpenRadio(CellSource* source);
// Opens and sets up one serial port into `port`; a port open before is closed first.
bool OpenModemPort(CellSource* source, const wchar_t* portName);
// One reading by AT commands on the open port into `current`; false leaves `current` as it was. Once
// `stop` (an event, when given) is set, the reading ends at its next step.
bool ReadCellFromModem(CellSource* source, HANDLE stop = nullptr);
// Releases a modem reading blocked in the port on another thread, as the serial driver allows: a new
// event mask ends its wait for the modem, a purge its read or its write.
void InterruptModemReading(CellSource* source);

// One radio request, to wait for its own answer; false when the layer refused it, so that no answer
// will come.
struct RadioTicket {
    DWORD connection = 0;
    HRESULT command = 0;
    explicit operator bool() const { return command > 0; }
};
// Asks the radio layer for the serving cell; the answer arrives through OnRadioResult.
RadioTicket RequestRadioCell(CellSource* source);
// The radio layer's result callback. Its parameter is the number the connection was opened with
// (RIL_Initialize's user parameter): a DWORD, too small for a pointer on a 64-bit build, so every
// connection gets a number of its own and a table of the open connections finds its source by that
// number. The request is found by the connection and the command identifier. An answer of a
// connection closed since, or one nobody waits for any more, changes nothing.
void CALLBACK OnRadioResult(DWORD code, HRESULT commandId, const void* data, DWORD size, DWORD parameter);

// Waits for the answer to `ticket`, calling `pause` (one wait) up to ten times while it is missing.
// True once answered; false when the ten waits pass, `pause` returns false (the waiter is asked to
// stop) or the radio was closed. A request given up is forgotten: should its answer still come, it
// changes nothing.
bool AwaitRadioAnswer(CellSource* source, const RadioTicket& ticket, const std::function<bool()>& pause);

// Ends the radio connection and closes the port, at shut-down.
void CloseCellSources(CellSource* source);

// How the walk through the server's method list ended.
enum class MethodChoice {
    Opened,       // a named source opened
    SwitchedOff,  // the server said -1: no location for this run
    Exhausted,    // no named source opened and nothing was left to try
    ProbeFound,   // the server asked for a probe and it found a source
    ProbeFailed,  // the server asked for a probe and nothing works
};

// Walks the server's methods in order (no value: an element without text): Off switches location off,
// Probe or a number beyond the sources probes, any other opens its source and ends the walk when that
// works. `beforeProbe` runs just before a probe, so the caller can warn the user; `radioRefused` runs
// after each try whose radio layer refused, with no lock held, so the caller can tell the user.
MethodChoice ChooseCellMethod(CellSource* source, const std::vector<std::optional<CellMethod>>& methods,
                              const std::function<void()>& beforeProbe, const std::function<void()>& radioRefused);

