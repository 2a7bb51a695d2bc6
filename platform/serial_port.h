// The phone's serial ports on the desktop. Each port named in the device profile ("COM2:", "COM9:") is
// a TCP connection to its modem in the phone simulator; a port not named there does not exist. The
// functions take the arguments and give the results of their Win32 namesakes, whose names they share,
// hence the namespace.
//
// What differs from a serial driver, because a simulated modem has no line to time out on: a write to a
// modem that hung up writes nothing and succeeds (as a write time-out does); a read from it fails; and
// WaitCommEvent gives up after GetDurations().modemWaitMs instead of waiting forever.
//
// As a serial driver does, the layer keeps a port's device control block and time-outs from one open
// to the next (until another device profile, another phone, is loaded), and owns the DTR or RTS line
// while the block sets handshaking on it.
//
// A call blocked in a port is released from another thread as the phone's serial driver allows:
// SetCommMask ends a pending WaitCommEvent (it returns TRUE with an event mask of 0); PurgeComm with
// PURGE_RXABORT ends pending reads and with PURGE_TXABORT pending writes (they fail with
// ERROR_OPERATION_ABORTED and report the bytes moved so far); closing the handle ends them all.
#pragma once

#include <windows.h>

#include <vector>

namespace serial {

// Only OPEN_EXISTING without FILE_FLAG_OVERLAPPED; a port opens once at a time (no sharing).
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL GetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommState(HANDLE file, LPDCB dcb);
// SETDTR and CLRDTR fail with ERROR_INVALID_PARAMETER while the port's DCB has DTR handshaking
// (DTR_CONTROL_HANDSHAKE), SETRTS and CLRRTS while it has RTS handshaking or toggling: the driver then
// owns the line.
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts);
BOOL SetCommMask(HANDLE file, DWORD eventMask);
// Only EV_RXCHAR is ever signalled: it returns once a received byte waits to be read.
BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped);
// The one request the phone's serial driver takes here is 0xAAAA5679 with its input bytes; others fail.
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL CloseHandle(HANDLE object);

inline constexpr DWORD kModemControlCode = 0xAAAA5679;

// One DeviceIoControl request as the driver received it.
struct ControlRequest {
    DWORD code = 0;
    std::vector<BYTE> input;
};

// What the driver holds for an open port, read back without changing it: the settings it was given,
// the state of its output lines, and every line and control request it received, in order, whether
// it carried them out or not. The phone's driver keeps the same; only tests ask for it.
struct PortRecord {
    DCB state = {};
    COMMTIMEOUTS timeouts = {};
    DWORD eventMask = 0;
    bool dtrRaised = false;
    bool rtsRaised = false;
    std::vector<DWORD> lineRequests;  // EscapeCommFunction's functions
    std::vector<ControlRequest> controlRequests;
};
BOOL InspectPort(HANDLE file, PortRecord* record);

}  // namespace serial
