#include "protocol/handshake.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/app_context.h"
#include "location/cell_monitor.h"
#include "platform/tapi.h"
#include "platform/text_conversion.h"
#include "platform/web_link.h"
#include "protocol/configuration.h"
#include "protocol/frontend.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"
#include "protocol/wire_format.h"
#include "resources/texts.h"

namespace {

constexpr int kClientType = 2;
constexpr int kClientVersion = 1;
constexpr int kOperatingSystem = 2;

// Handshake statuses.
constexpr int kAccepted = 0;
constexpr int kUnknownUser = 1;
constexpr int kClientOutdated = 2;
constexpr int kServiceSuspended = 3;

// A handset string is at most 256 wide characters, terminating zero included.
constexpr DWORD kMaxHandsetStringBytes = 512;

// The wide string at `offset` with `size` bytes in a LINEGENERALINFO record, as UTF-8.
std::string GeneralInfoString(const LINEGENERALINFO* info, DWORD size, DWORD offset) {
    if (size == 0 || offset < sizeof(LINEGENERALINFO) || offset > info->dwUsedSize ||
        size > info->dwUsedSize - offset) {
        return {};
    }
    if (size > kMaxHandsetStringBytes) size = kMaxHandsetStringBytes;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(info) + offset);
    std::wstring value;
    for (DWORD index = 0; index < size / sizeof(wchar_t) && text[index] != L'\0'; ++index) value += text[index];
    return WideToUtf8(value);
}

// Reads the handset strings from an open line; false when the layer refuses.
bool ReadGeneralInfo(HLINE line, TerminalInfo* info) {
    LINEGENERALINFO probe = {};
    probe.dwTotalSize = sizeof(probe);
    if (lineGetGeneralInfo(line, &probe) != 0) return false;
    const DWORD size = probe.dwNeededSize > sizeof(probe) ? probe.dwNeededSize : sizeof(probe);
    // DWORD elements keep the record's fields aligned.
    std::unique_ptr<DWORD[]> storage(new DWORD[(size + sizeof(DWORD) - 1) / sizeof(DWORD)]());
    LINEGENERALINFO* record = reinterpret_cast<LINEGENERALINFO*>(storage.get());
    record->dwTotalSize = size;
    if (lineGetGeneralInfo(line, record) != 0) return false;
    info->manufacturer = GeneralInfoString(record, record->dwManufacturerSize, record->dwManufacturerOffset);
    info->model = GeneralInfoString(record, record->dwModelSize, record->dwModelOffset);
    info->revision = GeneralInfoString(record, record->dwRevisionSize, record->dwRevisionOffset);
    info->serialNumber = GeneralInfoString(record, record->dwSerialNumberSize, record->dwSerialNumberOffset);
    info->subscriberNumber =
        GeneralInfoString(record, record->dwSubscriberNumberSize, record->dwSubscriberNumberOffset);
    return true;
}

void ReadCurrentOperator(HLINE line, TerminalInfo* info) {
    LINEOPERATOR current = {};
    current.dwIndex = static_cast<DWORD>(-1);
    current.dwValidFields = LINEOPFORMAT_NUMERIC;
    current.dwStatus = LINEOPSTATUS_CURRENT;
    lineGetCurrentOperator(line, &current);
    std::wstring numeric;
    for (int index = 0; index < MAX_LENGTH_OPERATOR_NUMERIC && current.lpszNumName[index] != L'\0'; ++index) {
        numeric += current.lpszNumName[index];
    }
    info->countryCode = WideToUtf8(numeric.substr(0, 3));
    info->networkCode = numeric.size() > 3 ? WideToUtf8(numeric.substr(3)) : std::string();
}

std::string BuildHandshakeBody(const AppContext& context, const TerminalInfo& terminal) {
    FormBody body;
    body.Add("client_id", kClientType)
        .Add("client_ver", kClientVersion)
        .Add("user_id", context.userId)
        .Add("auth", context.passHash)
        .Add("terminal_osn", kOperatingSystem)
        .Add("terminal_firmver", terminal.revision)
        .Add("terminal_model", terminal.model)
        .Add("user_subid", terminal.subscriberNumber);
    if (!context.subName.empty()) body.Add("user_name", context.subName);
    return body.Text();
}

// A reply status other than "accepted": tells the user what it means; the log-in cannot go on.
void ReportRefusal(const AppContext& context, int status, const char* updateUrl) {
    switch (status) {
    case kUnknownUser:
        context.frontend->Ask(Question::UnknownUser);
        break;
    case kClientOutdated:
        if (context.frontend->Ask(Question::ClientOutdated) && updateUrl != nullptr) OpenUpdateUrl(updateUrl);
        break;
    case kServiceSuspended:
        context.frontend->ShowStatusMessage(kTextServiceSuspended);
        break;
    default:
        break;
    }
}

// The server the reply names: an address replaces only the address, a name replaces the host and is
// resolved. False when a name cannot be resolved.
bool UseNamedServer(AppContext& context, const std::string& host) {
    in_addr address;
    if (ReadServerAddress(host.c_str(), &address)) {
        context.transport->serverAddress.sin_addr = address;
        return true;
    }
    context.serverHost = host;
    return ResolveServerHost(context, context.serverHost);
}

}  // namespace

bool HashPassword(const std::string& password, std::string* digits) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
    HCRYPTHASH hash = 0;
    BYTE digest[16] = {};
    DWORD digestSize = sizeof(digest);
    const bool hashed = CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
                        CryptHashData(hash, reinterpret_cast<const BYTE*>(password.data()),
                                      static_cast<DWORD>(password.size()), 0) &&
                        CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) && digestSize == sizeof(digest);
    if (hash != 0) CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    if (!hashed) return false;

    static const char kHexDigits[] = "0123456789abcdef";
    digits->clear();
    for (const BYTE byte : digest) {
        digits->push_back(kHexDigits[byte >> 4]);
        digits->push_back(kHexDigits[byte & 0x0F]);
    }
    return true;
}

bool GatherTerminalInfo(TerminalInfo* info) {
    *info = TerminalInfo();
    HLINEAPP lineApp = nullptr;
    DWORD deviceCount = 0;
    DWORD apiVersion = TAPI_VERSION_2_0;
    LINEINITIALIZEEXPARAMS params = {};
    params.dwTotalSize = sizeof(params);
    params.dwNeededSize = sizeof(params);
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    if (lineInitializeEx(&lineApp, nullptr, nullptr, nullptr, &deviceCount, &apiVersion, &params) != 0) return false;

    bool gathered = false;
    DWORD negotiated = 0;
    LINEEXTENSIONID extension = {};
    HLINE line = nullptr;
    if (lineNegotiateAPIVersion(lineApp, 0, TAPI_VERSION_1_4, TAPI_VERSION_2_0, &negotiated, &extension) == 0 &&
        lineOpen(lineApp, 0, &line, negotiated, 0, 0, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_INTERACTIVEVOICE,
                 nullptr) == 0) {
        if (ReadGeneralInfo(line, info)) {
            ReadCurrentOperator(line, info);
            gathered = true;
        }
        lineClose(line);
    }
    lineShutdown(lineApp);
    return gathered;
}

void OpenUpdateUrl(const std::string& address) { OpenInBrowser(AnsiToWide(address).c_str()); }

bool ReadServerAddress(const char* host, in_addr* address) {
    if (ReadDecimal(host) % 256 == 0) return false;
    unsigned char bytes[4];
    const char* part = host;
    for (int index = 0; index < 4; ++index) {
        if (index > 0) {
            part = std::strchr(part, '.');
            if (part == nullptr) return false;
            ++part;
        }
        bytes[index] = static_cast<unsigned char>(ReadDecimal(part));
    }
    std::memcpy(address, bytes, sizeof(bytes));
    return true;
}

std::vector<std::optional<CellMethod>> ReadMethodList(const TiXmlElement* handshake) {
    std::vector<std::optional<CellMethod>> methods;
    for (const TiXmlElement* method = FindChild(handshake, "method"); method != nullptr;
         method = method->NextSiblingElement()) {
        const char* text = method->GetText();
        methods.push_back(text != nullptr ? std::optional<CellMethod>(static_cast<CellMethod>(ReadDecimal(text)))
                                          : std::nullopt);
    }
    return methods;
}

std::vector<std::optional<CellMethod>> MethodsWorthTrying(const std::vector<std::optional<CellMethod>>& methods) {
    std::vector<std::optional<CellMethod>> worth;
    std::vector<CellMethod> tried;
    std::optional<CellMethod> lastTried;
    for (const std::optional<CellMethod>& method : methods) {
        if (!method) continue;
        if (*method == CellMethod::Off || *method == CellMethod::Probe || *method > CellMethod::Com9) {
            // The walk ends here.
            worth.push_back(method);
            return worth;
        }
        lastTried = method;
        if (std::find(tried.begin(), tried.end(), *method) != tried.end()) continue;
        tried.push_back(*method);
        worth.push_back(method);
    }
    // A walk that runs out leaves the last method it tried as the one in use.
    if (lastTried && *worth.back() != *lastTried) worth.push_back(lastTried);
    return worth;
}

HandshakeReply ReadHandshakeReply(const TiXmlElement* handshake) {
    HandshakeReply reply;
    int status = 0;
    if (ReadChildNumber(handshake, "status", &status)) reply.status = status;
    if (const char* updateUrl = ChildText(handshake, "updateurl")) reply.updateUrl = updateUrl;
    if (const char* token = ChildText(handshake, "token")) reply.token = token;
    int mode = 0;
    ReadChildNumber(handshake, "mode", &mode);
    reply.accountMode = static_cast<AccountMode>(mode);
    if (const char* host = ChildText(handshake, "host")) reply.host = host;
    reply.userName = ChildWideText(handshake, "userName");
    reply.methods = ReadMethodList(handshake);
    return reply;
}

bool FinishMethodChoice(AppContext& context, MethodChoice choice) {
    if (choice == MethodChoice::ProbeFound) return ReportMethodInUse(context);
    if (choice == MethodChoice::ProbeFailed) context.frontend->Ask(Question::NoCellLocation);
    return true;
}

bool Handshake(AppContext& context) {
    TerminalInfo terminal;
    if (GatherTerminalInfo(&terminal)) {
        context.countryCode = terminal.countryCode;
        context.networkCode = terminal.networkCode;
    }

    TiXmlDocument document;
    const TiXmlElement* root = ExchangeRequest(context, "hand", BuildHandshakeBody(context, terminal), &document);
    if (root == nullptr) return false;
    const HandshakeReply reply = ReadHandshakeReply(root);
    if (!reply.status) return false;
    if (*reply.status != kAccepted) {
        ReportRefusal(context, *reply.status, reply.updateUrl ? reply.updateUrl->c_str() : nullptr);
        return false;
    }

    if (reply.updateUrl && context.frontend->Ask(Question::NewVersion)) OpenUpdateUrl(*reply.updateUrl);
    if (!reply.token) return false;
    context.token = *reply.token;
    context.accountMode = reply.accountMode;
    if (reply.host && !UseNamedServer(context, *reply.host)) return false;
    context.userName = reply.userName;

    const std::vector<std::optional<CellMethod>> methods = MethodsWorthTrying(reply.methods);
    if (methods.empty() || context.cellMonitor == nullptr) return true;
    Frontend& frontend = *context.frontend;
    const MethodChoice choice = ChooseCellMethod(
        context.cellMonitor, methods, [&frontend] { frontend.Ask(Question::ProbeWarning); },
        [&frontend] { frontend.ReportRadioRefused(); });
    return FinishMethodChoice(context, choice);
}
