#include "protocol/configuration.h"

#include "app/app_context.h"
#include "app/durations.h"
#include "app/main_window.h"
#include "app/private_hours.h"
#include "app/status_line.h"
#include "location/cell_monitor.h"
#include "protocol/transport.h"
#include "protocol/wire_format.h"
#include "resources/texts.h"

namespace {

constexpr const char* kKind = "config";

ChangeVerdict SendChange(AppContext& context, const std::string& body) {
    TiXmlDocument document;
    return ConcludeChange(ExchangeRequest(context, kKind, body, &document));
}

}  // namespace

ChangeVerdict ConcludeChange(const TiXmlElement* config) {
    if (config == nullptr) return ChangeVerdict::NoReply;
    const TiXmlElement* status = FindChild(config, "status");
    if (status != nullptr) {
        int number = 0;
        if (!ReadChildNumber(config, "status", &number)) return ChangeVerdict::Refused;
        if (number == 0) return ChangeVerdict::Accepted;
    } else if (FindChild(config, "bad") == nullptr) {
        return ChangeVerdict::Refused;
    }
    ShowStatusMessage(kTextTransferError, GetDurations().statusMessageMs);
    return ChangeVerdict::Refused;
}

void ReadConfigurationReply(const TiXmlElement* config, AppContext& context) {
    struct Setting {
        const char* name;
        int* member;
        int fallback;
    };
    const Setting settings[] = {
        {"config_rate", &context.rateMode, 0},       {"config_visibilily", &context.visibility, 0},
        {"config_privatetime", &context.privateTime, 1}, {"config_forcegps", &context.forceGps, 0},
        {"config_levelgps", &context.levelGps, 0},
    };
    for (const Setting& setting : settings) {
        *setting.member = setting.fallback;
        ReadChildNumber(config, setting.name, setting.member);
    }
}

bool ReadMethodReportReply(const TiXmlElement* config) {
    if (config == nullptr) return false;
    int status = 0;
    return !ReadChildNumber(config, "status", &status) || status == 0;
}

bool GetConfiguration(AppContext& context) {
    TiXmlDocument document;
    const TiXmlElement* config =
        ExchangeRequest(context, kKind, FormBody().Add("token", context.token).Add("config_get", 0).Text(), &document);
    if (config == nullptr) return false;
    ReadConfigurationReply(config, context);
    return true;
}

void SaveConfiguration(AppContext& context, int previousPrivateTime) {
    FormBody body;
    body.Add("token", context.token)
        .Add("config_rate", context.rateMode == 1 ? 1 : 0)
        .Add("config_privatetime", context.privateTime == 1 ? 1 : 0);
    if (!context.subName.empty()) body.Add("user_name", context.subName);

    const ChangeVerdict verdict = SendChange(context, body.Text());
    if (verdict == ChangeVerdict::NoReply) return;
    if (verdict == ChangeVerdict::Refused) {
        ShowPane(kPaneGroups, true);
        return;
    }
    ShowStatusMessage(kTextSettingsSaved, GetDurations().statusMessageMs);
    context.settingsDirty = false;
    if (context.privateTime != previousPrivateTime) {
        if (context.privateTime == 1 && IsPrivateTime(GetLocalClock())) SetPrivateHours(true);
        if (context.privateTime == 0) SetPrivateHours(false);
    }
    // Only the two modes the service defines name a pane to go to; any other stays where it is.
    if (context.accountMode == 0) ShowPane(kPaneGroups, true);
    if (context.accountMode == 1) ShowPane(kPaneMe, true);
}

void SendVisibility(AppContext& context, int state) {
    const std::string body = FormBody().Add("token", context.token).Add("config_visibilily", state).Text();
    if (SendChange(context, body) == ChangeVerdict::Refused) ShowIdleStatus();
}

bool ReportMethodInUse(AppContext& context) {
    const CellMonitor* monitor = context.cellMonitor;
    if (monitor == nullptr || monitor->enabled == 0 || monitor->probed == 0) return true;
    TiXmlDocument document;
    return ReadMethodReportReply(ExchangeRequest(
        context, kKind, FormBody().Add("token", context.token).Add("method_use", monitor->method).Text(), &document));
}
