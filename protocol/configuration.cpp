#include "protocol/configuration.h"

#include "app/app_context.h"
#include "location/cell_monitor.h"
#include "protocol/frontend.h"
#include "protocol/transport.h"
#include "protocol/wire_format.h"
#include "resources/texts.h"

namespace {

constexpr const char* kKind = "config";

ChangeVerdict SendChange(AppContext& context, const std::string& body) {
    TiXmlDocument document;
    return ConcludeChange(context, ExchangeRequest(context, kKind, body, &document));
}

}  // namespace

ChangeVerdict ConcludeChange(AppContext& context, const TiXmlElement* config) {
    if (config == nullptr) return ChangeVerdict::NoReply;
    const TiXmlElement* status = FindChild(config, "status");
    if (status != nullptr) {
        int number = 0;
        if (!ReadChildNumber(config, "status", &number)) return ChangeVerdict::Refused;
        if (number == 0) return ChangeVerdict::Accepted;
    } else if (FindChild(config, "bad") == nullptr) {
        return ChangeVerdict::Refused;
    }
    context.frontend->ShowStatusMessage(kTextTransferError);
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

ChangeVerdict SaveConfiguration(AppContext& context) {
    FormBody body;
    body.Add("token", context.token)
        .Add("config_rate", context.rateMode == 1 ? 1 : 0)
        .Add("config_privatetime", context.privateTime == 1 ? 1 : 0);
    if (!context.subName.empty()) body.Add("user_name", context.subName);
    return SendChange(context, body.Text());
}

ChangeVerdict SendVisibility(AppContext& context, int state) {
    return SendChange(context, FormBody().Add("token", context.token).Add("config_visibilily", state).Text());
}

bool ReportMethodInUse(AppContext& context) {
    const CellMonitor* monitor = context.cellMonitor;
    if (monitor == nullptr || monitor->enabled == 0 || monitor->probed == 0) return true;
    TiXmlDocument document;
    return ReadMethodReportReply(ExchangeRequest(
        context, kKind, FormBody().Add("token", context.token).Add("method_use", monitor->method).Text(), &document));
}
