// The location state of the process: which source reads the serving cell, the latest reading,
// and the history of dominant cells that the sampling worker keeps.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <vector>

struct CellIdentity {
    std::uint16_t cid = 0;
    std::uint16_t lac = 0;
    std::int64_t changedAt = 0;  // seconds since 1970-01-01 00:00 UTC when it became the dominant cell
};

// The size of the modem reply buffer: the bytes both AT commands of one reading bring back.
inline constexpr std::size_t kModemReplySize = 256;

// A radio request whose waiter has not finished with it.
struct RadioRequest {
    DWORD connection = 0;  // the radio connection it went to, which its answer names
    HRESULT command = 0;   // the command identifier RIL_GetCellTowerInfo gave it, which its answer names
    bool answered = false;
};

// The worker reads what a log-in renewal on the user-interface thread writes, and the radio's callback
// thread writes what both read: each member says how it is kept safe.
struct CellMonitor {
    std::atomic<std::uint8_t> enabled{1};  // the location can be determined
    std::uint8_t probed = 0;  // found by probing, to be reported to the server; the user-interface thread's only
    std::list<CellIdentity> history;       // under `cellLock`
    std::atomic<std::int32_t> method{0};
    CellIdentity current;                  // under `cellLock`
    volatile LONG pendingAnswers = 0;      // radio requests still without an answer; interlocked changes only
    HANDLE worker = nullptr;               // started, stopped and looked at by the user-interface thread only
    HANDLE radio = nullptr;                // under `sourceLock`
    // Changed under `sourceLock`; read without it to release a reading blocked in the port.
    std::atomic<HANDLE> port{nullptr};

    // The worker, the radio's callback thread and the user-interface thread all touch `current` and
    // `history`: every change of either and every copy taken of them holds this lock. It also guards
    // `radioRequests`.
    std::mutex cellLock;
    // Opening, reading and closing the sources hold this one, so that a log-in renewal that reopens a
    // source never pulls the port or the radio from under the worker's reading. Nothing that waits for
    // the user (a message box) runs under it.
    std::mutex sourceLock;
    HANDLE stopWorker = nullptr;  // manual-reset event that asks the sampling worker to end; made with the monitor
    std::vector<RadioRequest> radioRequests;  // under `cellLock`
    DWORD radioConnection = 0;  // numbers the radio connections; under `sourceLock`
    char modemReply[kModemReplySize] = {};  // under `sourceLock`
};

// Creates the one monitor; false when one exists already or memory is exhausted.
bool CreateCellMonitor();
CellMonitor* GetCellMonitor();
// Stops the sampling worker if it runs, closes the sources, empties the history and frees the monitor;
// nothing when there is none.
void DestroyCellMonitor();

// A consistent copy of `current`, safe against the worker and the radio callback writing it.
CellIdentity ReadCurrentCell(CellMonitor* monitor);
