// The phone's telephony interface (TAPI with its cellular extension), the part the program calls to
// learn about the handset. On the desktop there is one line device, and its general information and
// current operator come from the Handset element of the device profile (empty without one).
// Not the desktop's own TAPI (tapi.h, tapi32.dll), which knows nothing about a phone.
#pragma once

#include <windows.h>

DECLARE_HANDLE(HLINEAPP);
DECLARE_HANDLE(HLINE);

typedef void(CALLBACK* LINECALLBACK)(DWORD device, DWORD message, DWORD_PTR instance, DWORD_PTR param1,
                                     DWORD_PTR param2, DWORD_PTR param3);

#define TAPI_VERSION_1_4 0x00010004
#define TAPI_VERSION_2_0 0x00020000

#define LINEINITIALIZEEXOPTION_USEEVENT 0x00000002
#define LINECALLPRIVILEGE_MONITOR 0x00000002
#define LINEMEDIAMODE_INTERACTIVEVOICE 0x00000004

#define LINEERR_BADDEVICEID 0x80000002
#define LINEERR_INCOMPATIBLEAPIVERSION 0x8000000C
#define LINEERR_INVALAPPHANDLE 0x80000015
#define LINEERR_INVALLINEHANDLE 0x8000002B
#define LINEERR_INVALPOINTER 0x80000035
#define LINEERR_INVALPRIVSELECT 0x80000037
#define LINEERR_NOMEM 0x80000044
#define LINEERR_STRUCTURETOOSMALL 0x8000004D

#define LINEOPFORMAT_NUMERIC 0x00000004
#define LINEOPSTATUS_CURRENT 0x00000002
#define MAX_LENGTH_OPERATOR_LONG 32
#define MAX_LENGTH_OPERATOR_SHORT 16
#define MAX_LENGTH_OPERATOR_NUMERIC 16

struct LINEINITIALIZEEXPARAMS {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwOptions;
    union {
        HANDLE hEvent;
        HANDLE hCompletionPort;
    } Handles;
    DWORD dwCompletionKey;
};

struct LINEEXTENSIONID {
    DWORD dwExtensionID0;
    DWORD dwExtensionID1;
    DWORD dwExtensionID2;
    DWORD dwExtensionID3;
};

struct LINECALLPARAMS;

// Variable-size record: the strings (wide, zero-terminated) follow the fixed part; each is found at
// its offset from the record's start and has the given size in bytes, terminating zero included.
struct LINEGENERALINFO {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwManufacturerSize;
    DWORD dwManufacturerOffset;
    DWORD dwModelSize;
    DWORD dwModelOffset;
    DWORD dwRevisionSize;
    DWORD dwRevisionOffset;
    DWORD dwSerialNumberSize;
    DWORD dwSerialNumberOffset;
    DWORD dwSubscriberNumberSize;
    DWORD dwSubscriberNumberOffset;
};

struct LINEOPERATOR {
    DWORD dwIndex;
    DWORD dwValidFields;
    DWORD dwStatus;
    WCHAR lpszLongName[MAX_LENGTH_OPERATOR_LONG];
    WCHAR lpszShortName[MAX_LENGTH_OPERATOR_SHORT];
    WCHAR lpszNumName[MAX_LENGTH_OPERATOR_NUMERIC];
};

// Results are 0 on success and a LINEERR_* value (negative) on failure.
LONG WINAPI lineInitializeEx(HLINEAPP* lineApp, HINSTANCE instance, LINECALLBACK callback,
                             const wchar_t* friendlyAppName, DWORD* deviceCount, DWORD* apiVersion,
                             LINEINITIALIZEEXPARAMS* params);
LONG WINAPI lineNegotiateAPIVersion(HLINEAPP lineApp, DWORD device, DWORD lowVersion, DWORD highVersion,
                                    DWORD* apiVersion, LINEEXTENSIONID* extensionId);
LONG WINAPI lineOpen(HLINEAPP lineApp, DWORD device, HLINE* line, DWORD apiVersion, DWORD extensionVersion,
                     DWORD_PTR callbackInstance, DWORD privileges, DWORD mediaModes, const LINECALLPARAMS* callParams);
// Fills `info` up to its dwTotalSize; dwNeededSize tells the size that holds every string.
LONG WINAPI lineGetGeneralInfo(HLINE line, LINEGENERALINFO* info);
LONG WINAPI lineGetCurrentOperator(HLINE line, LINEOPERATOR* lineOperator);
LONG WINAPI lineClose(HLINE line);
LONG WINAPI lineShutdown(HLINEAPP lineApp);
