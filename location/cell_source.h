// Reading the serving cell: the radio layer, or AT commands to the modem on "COM2:" or "COM9:",
// and choosing which of them this phone uses.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CellMonitor;

bool ProbeCellSource(CellMonitor* monitor);
bool OpenCellSource(CellMonitor* monitor, int method);
bool ReadCellFromModem(CellMonitor* monitor);
void RequestRadioCell(CellMonitor* monitor);

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
