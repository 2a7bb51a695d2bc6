// Timestamps for the benchmarks (tools/bench). With the environment variable PELMORA_TRACE naming a
// file, the program's sleeps, waits, socket calls, message waits and paints are written there, one
// line each:
//
//     BEGIN END THREAD EVENT DETAILS
//
// BEGIN and END are 100-nanosecond ticks of the performance counter (under Wine the Linux clock
// CLOCK_MONOTONIC_RAW), THREAD the calling thread's identifier, EVENT one of sleep, wait, resolve,
// connect, send, recv, select, close, idle (a wait for a message with nothing left to paint),
// message, dispatch, paint, dc (GetDC to ReleaseDC). The calls are redirected through the
// program's own import table and passed on unchanged, last error included. Lines are kept in memory
// and written when the user-interface thread waits for its next message, so that tracing does not
// slow the work it measures. Without the variable nothing is installed.
#pragma once

#include <windows.h>

// Starts the trace when PELMORA_TRACE is set; the entry calls it before anything else.
void StartTraceWhenAsked();

// Traces the calls that `module` makes into the file `path`, created anew; false when the file cannot
// be made or a trace runs already. The calling thread counts as the user-interface thread.
bool StartTrace(HMODULE module, const wchar_t* path);

// Writes out what is kept, puts the import table back and closes the file; nothing without a trace.
void StopTrace();
