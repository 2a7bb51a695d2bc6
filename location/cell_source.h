// Reading the serving cell: the radio layer, or AT commands to the modem on "COM2:" or "COM9:",
// and choosing which of them this phone uses.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CellMonitor;

// Finds a working source by trial: the radio layer, then the modem on "COM2:", then on "COM9:".
// Sets `probed`; when nothing works, `method` -1 and `enabled` 0.
bool ProbeCellSource(CellMonitor* monitor);
// Opens the source that `method` names (1 radio, 2 "COM2:", 3 "COM9:") without reading; -1 and 0 fail
// and change nothing, any other value is stored in `method` first.
bool OpenCellSource(CellMonitor* monitor, int method);
// Connects to the radio layer; "Cant initialize RIL" when it refuses.
bool OpenRadio(CellMonitor* monitor);
// Opens and sets up one serial port into `port`; a port open before is closed first.
bool OpenModemPort(CellMonitor* monitor, const wchar_t* portName);
// One reading by AT commands on the open port into `current`; false leaves `current` as it was.
bool ReadCellFromModem(CellMonitor* monitor);
// Asks the radio layer for the serving cell; the answer arrives through OnRadioResult. False when the
// layer refused the request, so that no answer will come.
bool RequestRadioCell(CellMonitor* monitor);
// The radio layer's result callback; it finds the monitor through GetCellMonitor().
void CALLBACK OnRadioResult(DWORD code, HRESULT commandId, const void* data, DWORD size, DWORD parameter);

// Waits for the answer to a radio request: looks at `pendingAnswers`, and while an answer is missing
// calls `pause` (one wait) up to ten times. True once answered; false when the ten waits pass or
// `pause` returns false (the waiter is asked to stop).
bool AwaitRadioAnswer(CellMonitor* monitor, const std::function<bool()>& pause);

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
// `beforeProbe` runs just before a probe, so the caller can warn the user.
MethodChoice ChooseCellMethod(CellMonitor* monitor, const std::vector<std::optional<std::string>>& methods,
                              const std::function<void()>& beforeProbe);

