#include "location/location_report.h"

#include <ctime>

#include "app/app_context.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "location/place_mark.h"
#include "platform/text_conversion.h"
#include "protocol/transport.h"
#include "protocol/wire_format.h"

namespace {

constexpr int kReportAccepted = 1;
constexpr std::size_t kReportedCells = 3;

void ReadText(const TiXmlElement* sint, const char* name, std::wstring* field) {
    if (const char* text = ChildText(sint, name)) *field = Utf8ToWide(text);
}

}  // namespace

bool SendLocationReport(AppContext& context, PlaceMark& placeMark) {
    CellMonitor* monitor = context.cellMonitor;
    if (monitor == nullptr || monitor->enabled == 0) return true;

    // The history is taken under its lock; a history shorter than three entries (not yet filled by
    // the first reading) repeats its last entry, and an empty one has nothing to report.
    CellIdentity cells[kReportedCells];
    const std::size_t copied = CopyFrontCells(monitor, cells, kReportedCells);
    if (copied == 0) return false;
    for (std::size_t index = copied; index < kReportedCells; ++index) cells[index] = cells[copied - 1];

    // Seconds since the front cell became the dominant one.
    const long long delta = static_cast<long long>(std::time(nullptr)) - cells[0].changedAt;
    FormBody body;
    body.Add("token", context.token)
        .Add("mnc", context.networkCode)
        .Add("lac", cells[0].lac)
        .Add("cid", cells[0].cid)
        .Add("lac1", cells[1].lac)
        .Add("cid1", cells[1].cid)
        .Add("lac2", cells[2].lac)
        .Add("cid2", cells[2].cid)
        .Add("delta", std::to_string(delta))
        .Add("db", 0);

    TiXmlDocument document;
    return ReadLocationReply(ExchangeRequest(context, "isee", body.Text(), &document), context, placeMark);
}

bool ReadLocationReply(const TiXmlElement* isee, AppContext& context, PlaceMark& placeMark) {
    int status = 0;
    if (isee == nullptr || !ReadChildNumber(isee, "status", &status)) return false;
    context.reportStatus = status;
    if (status != kReportAccepted) return false;

    if (FindChild(isee, "timer") == nullptr) {
        context.rateMode = RateMode::CellChange;
    } else {
        ReadChildNumber(isee, "timer", &context.reportInterval);
    }

    placeMark = PlaceMark();
    placeMark.scope = 0;
    placeMark.group = 0;
    if (const TiXmlElement* sint = FindChild(isee, "sint")) {
        ReadText(sint, "address", &placeMark.address);
        ReadChildNumber(sint, "sint_id", &placeMark.id);
        ReadChildNumber(sint, "sint_scope", &placeMark.scope);
        ReadChildNumber(sint, "sint_group", &placeMark.group);
        ReadText(sint, "sint_title", &placeMark.title);
        ReadText(sint, "address_street", &placeMark.street);
        ReadText(sint, "address_number", &placeMark.house);
        ReadText(sint, "address_build", &placeMark.building);
    }
    return true;
}
