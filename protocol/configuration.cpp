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
    const auto read = [config](const char* name, int fallback) {
        int value = fallback;
        ReadChildNumber(config, name, &value);
        return value;
    };
    context.rateMode = static_cast<RateMode>(read("config_rate", 0));
    context.visibility = static_cast<Visibility>(read("config_visibilily", 0));
    context.privateTime = read("config_privatetime", 1);
    context.forceGps = read("config_forcegps", 0);
    context.levelGps = read("config_levelgps", 0);
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
        .Add("config_rate", context.rateMode == RateMode::CellChange ? 1 : 0)
        .Add("config_privatetime", context.privateTime == 1 ? 1 : 0);
    if (!context.subName.empty()) body.Add("user_name", context.subName);
    return SendChange(context, body.Text());
}

ChangeVerdict SendVisibility(AppContext& context, Visibility state) {
    return SendChange(context,
                      FormBody().Add("token", context.token).Add("config_visibilily", static_cast<int>(state)).Text());
}

bool ReportMethodInUse(AppContext& context) {
    const CellMonitor* monitor = context.cellMonitor;
    if (monitor == nullptr || monitor->enabled == 0 || monitor->probed == 0) return true;
    const int method = static_cast<int>(monitor->method.load());
    TiXmlDocument document;
    return ReadMethodReportReply(ExchangeRequest(
        context, kKind, FormBody().Add("token", context.token).Add("method_use", method).Text(), &document));
}
