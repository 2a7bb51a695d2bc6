// The location state of the process: which source reads the serving cell, the latest reading,
// and the history of dominant cells that the sampling worker keeps.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>

struct CellIdentity {
    std::uint16_t cid = 0;
    std::uint16_t lac = 0;
    std::int64_t changedAt = 0;  // seconds since 1970-01-01 00:00 UTC when it became the dominant cell
};

// The size of the modem reply buffer: the bytes both AT commands of one reading bring back.
inline constexpr std::size_t kModemReplySize = 256;

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

    // The worker, the radio's callback thread and the user-interface thread all touch `current` and
    // `history`: every change of either and every copy taken of them holds this lock.
    std::mutex cellLock;
    // Opening, reading and closing the sources hold this one, so that a log-in renewal that reopens a
    // source never pulls the port or the radio from under the worker's reading.
    std::mutex sourceLock;
    HANDLE stopWorker = nullptr;  // manual-reset event that asks the sampling worker to end; made with the monitor
    char modemReply[kModemReplySize] = {};
};

// Creates the one monitor; false when one exists already or memory is exhausted.
bool CreateCellMonitor();
CellMonitor* GetCellMonitor();
// Stops the sampling worker if it runs, closes the sources, empties the history and frees the monitor;
// nothing when there is none.
void DestroyCellMonitor();

// A consistent copy of `current`, safe against the worker and the radio callback writing it.
CellIdentity ReadCurrentCell(CellMonitor* monitor);
