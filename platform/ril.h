// The phone's Radio Interface Layer (ril.dll) as the desktop has it: the same functions, record and
// result callback. Answers come on a radio thread of the layer. What stands behind it is named by the
// device profile: the modem of the phone simulator, asked with AT+CREG? as a radio driver asks it
// ("modem"); no radio layer at all, so RIL_Initialize fails ("none"); or a layer that never answers
// ("silent"). A modem that hangs up in the middle of a command has reset, as a phone's radio module
// does: that command is lost with it and gets no result at all; the next command connects again.
#pragma once

#include <windows.h>

typedef HANDLE HRIL;

// Result codes of a result callback.
inline constexpr DWORD RIL_RESULT_OK = 0x00000001;
inline constexpr DWORD RIL_RESULT_ERROR = 0x00000003;

// Which members of a RILCELLTOWERINFO hold a value.
inline constexpr DWORD RIL_PARAM_CTI_LOCATIONAREACODE = 0x00000004;
inline constexpr DWORD RIL_PARAM_CTI_CELLID = 0x00000008;

inline constexpr int MAXLENGTH_BCCH = 48;
inline constexpr int MAXLENGTH_NMR = 16;

struct RILCELLTOWERINFO {
    DWORD cbSize;
    DWORD dwParams;
    DWORD dwMobileCountryCode;
    DWORD dwMobileNetworkCode;
    DWORD dwLocationAreaCode;
    DWORD dwCellID;
    DWORD dwBaseStationID;
    DWORD dwBroadcastControlChannel;
    DWORD dwRxLevel;
    DWORD dwRxLevelFull;
    DWORD dwRxLevelSub;
    DWORD dwRxQuality;
    DWORD dwRxQualityFull;
    DWORD dwRxQualitySub;
    DWORD dwIdleTimeSlot;
    DWORD dwTimingAdvance;
    DWORD dwGPRSCellID;
    DWORD dwGPRSBaseStationID;
    DWORD dwNumBCCH;
    BYTE rgbBCCH[MAXLENGTH_BCCH];
    BYTE rgbNMR[MAXLENGTH_NMR];
};

// The answer to a command: `hrCmdID` is what the command returned; for RIL_RESULT_OK `lpData` is the
// command's record, for RIL_RESULT_ERROR an HRESULT.
typedef void(CALLBACK* RILRESULTCALLBACK)(DWORD dwCode, HRESULT hrCmdID, const void* lpData, DWORD cbData,
                                          DWORD dwParam);
typedef void(CALLBACK* RILNOTIFYCALLBACK)(DWORD dwCode, const void* lpData, DWORD cbData, DWORD dwParam);

// Connects to the radio: S_OK and the handle in *lphRil, or a failure code. `dwIndex` is the radio's
// port index (the phone has one radio, index 1); `dwParam` is handed back with every callback.
HRESULT RIL_Initialize(DWORD dwIndex, RILRESULTCALLBACK pfnResult, RILNOTIFYCALLBACK pfnNotify,
                       DWORD dwNotificationClasses, DWORD dwParam, HRIL* lphRil);
// Asks for the serving cell: a positive command identifier, or a failure code; the record comes later
// through the result callback with the same identifier.
HRESULT RIL_GetCellTowerInfo(HRIL hRil);
// Ends the connection; once it returns, no callback of the connection runs any more.
HRESULT RIL_Deinitialize(HRIL hRil);
