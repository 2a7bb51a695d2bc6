// The phone's serial ports on the desktop. Each port named in the device profile ("COM2:", "COM9:") is
// a TCP connection to its modem in the phone simulator; a port not named there does not exist. The
// functions take the arguments and give the results of their Win32 namesakes, whose names they share,
// hence the namespace.
//
// What differs from a serial driver, because a simulated modem has no line to time out on: a write to a
// modem that hung up writes nothing and succeeds (as a write time-out does); a read from it fails; and
// WaitCommEvent gives up after GetDurations().modemWaitMs instead of waiting forever.
#pragma once

#include <windows.h>

namespace serial {

// Only OPEN_EXISTING without FILE_FLAG_OVERLAPPED; a port opens once at a time (no sharing).
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL GetCommState(HANDLE file, LPDCB dcb);
BOOL SetCommState(HANDLE file, LPDCB dcb);
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
BOOL CloseHandle(HANDLE object);

inline constexpr DWORD kModemControlCode = 0xAAAA5679;

}  // namespace serial
