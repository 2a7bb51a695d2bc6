#include "platform/tapi.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <string>

#include "platform/device_profile.h"

namespace {

// The one line device of the desktop.
constexpr DWORD kDeviceCount = 1;

struct Telephony {
    std::mutex mutex;
    std::uintptr_t nextHandle = 1;
    std::map<std::uintptr_t, HANDLE> apps;           // application handle to its notification event
    std::map<std::uintptr_t, std::uintptr_t> lines;  // line handle to the application that opened it
};

Telephony& State() {
    static Telephony telephony;
    return telephony;
}

bool IsOpenLine(HLINE line) {
    Telephony& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.lines.count(reinterpret_cast<std::uintptr_t>(line)) != 0;
}

bool IsOpenApp(HLINEAPP lineApp) {
    Telephony& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.apps.count(reinterpret_cast<std::uintptr_t>(lineApp)) != 0;
}

DWORD StringBytes(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

}  // namespace

LONG WINAPI lineInitializeEx(HLINEAPP* lineApp, HINSTANCE, LINECALLBACK, const wchar_t*, DWORD* deviceCount,
                             DWORD* apiVersion, LINEINITIALIZEEXPARAMS* params) {
    if (lineApp == nullptr || deviceCount == nullptr || apiVersion == nullptr || params == nullptr) {
        return static_cast<LONG>(LINEERR_INVALPOINTER);
    }
    if (params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    HANDLE event = nullptr;
    if (params->dwOptions == LINEINITIALIZEEXOPTION_USEEVENT) {
        event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) return static_cast<LONG>(LINEERR_NOMEM);
        params->Handles.hEvent = event;
    }
    params->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
    params->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);

    Telephony& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const std::uintptr_t handle = state.nextHandle++;
    state.apps[handle] = event;
    *lineApp = reinterpret_cast<HLINEAPP>(handle);
    *deviceCount = kDeviceCount;
    if (*apiVersion > TAPI_VERSION_2_0) *apiVersion = TAPI_VERSION_2_0;
    return 0;
}

LONG WINAPI lineNegotiateAPIVersion(HLINEAPP lineApp, DWORD device, DWORD lowVersion, DWORD highVersion,
                                    DWORD* apiVersion, LINEEXTENSIONID* extensionId) {
    if (!IsOpenApp(lineApp)) return static_cast<LONG>(LINEERR_INVALAPPHANDLE);
    if (device >= kDeviceCount) return static_cast<LONG>(LINEERR_BADDEVICEID);
    if (apiVersion == nullptr || extensionId == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
    if (lowVersion > TAPI_VERSION_2_0 || highVersion < TAPI_VERSION_1_4 || lowVersion > highVersion) {
        return static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION);
    }
    *apiVersion = highVersion < TAPI_VERSION_2_0 ? highVersion : TAPI_VERSION_2_0;
    std::memset(extensionId, 0, sizeof(*extensionId));
    return 0;
}

LONG WINAPI lineOpen(HLINEAPP lineApp, DWORD device, HLINE* line, DWORD apiVersion, DWORD, DWORD_PTR,
                     DWORD privileges, DWORD, const LINECALLPARAMS*) {
    if (!IsOpenApp(lineApp)) return static_cast<LONG>(LINEERR_INVALAPPHANDLE);
    if (device >= kDeviceCount) return static_cast<LONG>(LINEERR_BADDEVICEID);
    if (line == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
    if (apiVersion < TAPI_VERSION_1_4 || apiVersion > TAPI_VERSION_2_0) {
        return static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION);
    }
    if (privileges != LINECALLPRIVILEGE_MONITOR) return static_cast<LONG>(LINEERR_INVALPRIVSELECT);

    Telephony& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const std::uintptr_t handle = state.nextHandle++;
    state.lines[handle] = reinterpret_cast<std::uintptr_t>(lineApp);
    *line = reinterpret_cast<HLINE>(handle);
    return 0;
}

LONG WINAPI lineGetGeneralInfo(HLINE line, LINEGENERALINFO* info) {
    if (!IsOpenLine(line)) return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    if (info == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
    if (info->dwTotalSize < sizeof(LINEGENERALINFO)) return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);

    const HandsetProfile& handset = GetDeviceProfile().handset;
    struct Field {
        const std::wstring* text;
        DWORD LINEGENERALINFO::*size;
        DWORD LINEGENERALINFO::*offset;
    };
    const Field fields[] = {
        {&handset.manufacturer, &LINEGENERALINFO::dwManufacturerSize, &LINEGENERALINFO::dwManufacturerOffset},
        {&handset.model, &LINEGENERALINFO::dwModelSize, &LINEGENERALINFO::dwModelOffset},
        {&handset.revision, &LINEGENERALINFO::dwRevisionSize, &LINEGENERALINFO::dwRevisionOffset},
        {&handset.serialNumber, &LINEGENERALINFO::dwSerialNumberSize, &LINEGENERALINFO::dwSerialNumberOffset},
        {&handset.subscriberNumber, &LINEGENERALINFO::dwSubscriberNumberSize,
         &LINEGENERALINFO::dwSubscriberNumberOffset},
    };

    DWORD needed = sizeof(LINEGENERALINFO);
    for (const Field& field : fields) needed += StringBytes(*field.text);

    const DWORD total = info->dwTotalSize;
    std::memset(info, 0, sizeof(LINEGENERALINFO));
    info->dwTotalSize = total;
    info->dwNeededSize = needed;
    info->dwUsedSize = sizeof(LINEGENERALINFO);
    if (total < needed) return 0;  // the caller learns the size and asks again

    char* record = reinterpret_cast<char*>(info);
    for (const Field& field : fields) {
        const DWORD bytes = StringBytes(*field.text);
        std::memcpy(record + info->dwUsedSize, field.text->c_str(), bytes);
        info->*field.size = bytes;
        info->*field.offset = info->dwUsedSize;
        info->dwUsedSize += bytes;
    }
    return 0;
}

LONG WINAPI lineGetCurrentOperator(HLINE line, LINEOPERATOR* lineOperator) {
    if (!IsOpenLine(line)) return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    if (lineOperator == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
    const std::wstring& code = GetDeviceProfile().handset.operatorCode;
    std::memset(lineOperator->lpszLongName, 0, sizeof(lineOperator->lpszLongName));
    std::memset(lineOperator->lpszShortName, 0, sizeof(lineOperator->lpszShortName));
    std::memset(lineOperator->lpszNumName, 0, sizeof(lineOperator->lpszNumName));
    code.copy(lineOperator->lpszNumName, MAX_LENGTH_OPERATOR_NUMERIC - 1);
    lineOperator->dwValidFields = LINEOPFORMAT_NUMERIC;
    lineOperator->dwStatus = LINEOPSTATUS_CURRENT;
    return 0;
}

LONG WINAPI lineClose(HLINE line) {
    Telephony& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.lines.erase(reinterpret_cast<std::uintptr_t>(line)) != 0 ? 0
                                                                         : static_cast<LONG>(LINEERR_INVALLINEHANDLE);
}

LONG WINAPI lineShutdown(HLINEAPP lineApp) {
    Telephony& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const std::uintptr_t app = reinterpret_cast<std::uintptr_t>(lineApp);
    const auto found = state.apps.find(app);
    if (found == state.apps.end()) return static_cast<LONG>(LINEERR_INVALAPPHANDLE);
    if (found->second != nullptr) CloseHandle(found->second);
    state.apps.erase(found);
    // Lines still open when their application shuts down are closed with it.
    for (auto line = state.lines.begin(); line != state.lines.end();) {
        line = line->second == app ? state.lines.erase(line) : std::next(line);
    }
    return 0;
}
