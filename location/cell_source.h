// Reading the serving cell: the radio layer, or AT commands to the modem on "COM2:" or "COM9:",
// and choosing which of them this phone uses.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CellMonitor;

// What opening a source came to. The sources never tell the user anything themselves: they work under
// `sourceLock`, and a message box's loop under that lock would let the user stop the worker while the
// worker waits for the lock. Whoever called them tells the user once the call has returned.
struct SourceResult {
    bool opened = false;
    bool radioRefused = false;  // the radio layer refused the connection: the user is to see "Cant initialize RIL"
    explicit operator bool() const { return opened; }
};

// Finds a working source by trial: the radio layer, then the modem on "COM2:", then on "COM9:".
// Sets `probed`; when nothing works, `method` -1 and `enabled` 0.
SourceResult ProbeCellSource(CellMonitor* monitor);
// Opens the source that `method` names (1 radio, 2 "COM2:", 3 "COM9:") without reading; -1 and 0 fail
// and change nothing, any other value is stored in `method` first.
SourceResult OpenCellSource(CellMonitor* monitor, int method);
// Connects to the radio layer.
SourceResult OpenRadio(CellMonitor* monitor);
// Opens and sets up one serial port into `port`; a port open before is closed first.
bool OpenModemPort(CellMonitor* monitor, const wchar_t* portName);
// One reading by AT commands on the open port into `current`; false leaves `current` as it was. Once
// `stop` (an event, when given) is set, the reading ends at its next step.
bool ReadCellFromModem(CellMonitor* monitor, HANDLE stop = nullptr);
// Releases a modem reading blocked in the port on another thread, as the serial driver allows: a new
// event mask ends its wait for the modem, a purge its read or its write.
void InterruptModemReading(CellMonitor* monitor);

// One radio request, to wait for its own answer; false when the layer refused it, so that no answer
// will come.
struct RadioTicket {
    DWORD connection = 0;
    HRESULT command = 0;
    explicit operator bool() const { return command > 0; }
};
// Asks the radio layer for the serving cell; the answer arrives through OnRadioResult.
RadioTicket RequestRadioCell(CellMonitor* monitor);
// The radio layer's result callback; it finds the monitor through GetCellMonitor() and the request by
// the connection (its parameter) and the command identifier. An answer nobody waits for any more
// changes nothing.
void CALLBACK OnRadioResult(DWORD code, HRESULT commandId, const void* data, DWORD size, DWORD parameter);

// Waits for the answer to `ticket`, calling `pause` (one wait) up to ten times while it is missing.
// True once answered; false when the ten waits pass, `pause` returns false (the waiter is asked to
// stop) or the radio was closed. A request given up is forgotten: should its answer still come, it
// changes nothing.
bool AwaitRadioAnswer(CellMonitor* monitor, const RadioTicket& ticket, const std::function<bool()>& pause);

// Ends the radio connection and closes the port, at shut-down.
void CloseCellSources(CellMonitor* monitor);

// How the walk through the server's method list ended.
enum class MethodChoice {
    Opened,       // a named source opened
    SwitchedOff,  // the server said -1: no location for this run
    Exhausted,    // no named source opened and nothing was left to try
    ProbeFound,   // the server asked for a probe and it found a source
    ProbeFailed,  // the server asked for a probe and nothing works
};

// Walks the texts of the handshake's "method" elements in order (no value: an element without text).
// `beforeProbe` runs just before a probe, so the caller can warn the user; `radioRefused` runs after
// each try whose radio layer refused, with no lock held, so the caller can tell the user.
MethodChoice ChooseCellMethod(CellMonitor* monitor, const std::vector<std::optional<std::string>>& methods,
                              const std::function<void()>& beforeProbe, const std::function<void()>& radioRefused);

