// The phone's connection manager (cellcore), as the program calls it. On the desktop the network is
// always up, so a request for a connection succeeds at once.
#pragma once

#include <windows.h>

#define CONNMGR_PARAM_GUIDDESTNET 0x1
#define CONNMGR_FLAG_PROXY_HTTP 0x1
#define CONNMGR_PRIORITY_HIPRIBKGND 0x0200
#define CONNMGR_STATUS_CONNECTED 0x10

struct CONNMGR_CONNECTIONINFO {
    DWORD cbSize;
    DWORD dwParams;
    DWORD dwFlags;
    DWORD dwPriority;
    BOOL bExclusive;
    BOOL bDisabled;
    GUID guidDestNet;
    HWND hWnd;
    UINT uMsg;
    LPARAM lParam;
    ULONG ulMaxCost;
    ULONG ulMinRcvBw;
    ULONG ulMaxConnLatency;
};

// The destination network "the Internet": {436EF144-B4FB-4863-A041-8F905A62C572}.
inline constexpr GUID IID_DestNetInternet = {0x436EF144, 0xB4FB, 0x4863, {0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72}};

// Brings up the connection that `connectionInfo` describes and waits at most `timeout` ms for it.
// The desktop's connection has no handle of its own: `connection` receives null.
HRESULT WINAPI ConnMgrEstablishConnectionSync(CONNMGR_CONNECTIONINFO* connectionInfo, HANDLE* connection,
                                              DWORD timeout, DWORD* status);
