// The location state of the process: which source reads the serving cell, the latest reading,
// and the history of dominant cells that the sampling worker keeps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <list>

struct CellIdentity {
    std::uint16_t cid = 0;
    std::uint16_t lac = 0;
    std::int64_t changedAt = 0;  // seconds since 1970-01-01 00:00 UTC when it became the dominant cell
};

struct CellMonitor {
    std::uint8_t enabled = 1;  // the location can be determined
    std::uint8_t probed = 0;   // the source was found by probing and must be reported to the server
    std::list<CellIdentity> history;
    std::int32_t method = 0;
    CellIdentity current;
    volatile LONG pendingAnswers = 0;
    HANDLE worker = nullptr;
    HANDLE radio = nullptr;
    HANDLE port = nullptr;
};

// Creates the one monitor; false when one exists already or memory is exhausted.
bool CreateCellMonitor();
CellMonitor* GetCellMonitor();
// Empties the history and frees the monitor; nothing when there is none.
void DestroyCellMonitor();
