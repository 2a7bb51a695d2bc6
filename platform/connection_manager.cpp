#include "platform/connection_manager.h"

HRESULT WINAPI ConnMgrEstablishConnectionSync(CONNMGR_CONNECTIONINFO* connectionInfo, HANDLE* connection, DWORD,
                                              DWORD* status) {
    if (connectionInfo == nullptr || connection == nullptr || connectionInfo->cbSize != sizeof(*connectionInfo)) {
        return E_INVALIDARG;
    }
    *connection = nullptr;
    if (status != nullptr) *status = CONNMGR_STATUS_CONNECTED;
    return S_OK;
}
