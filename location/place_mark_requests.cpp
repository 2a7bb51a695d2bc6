#include "location/place_mark_requests.h"

#include "app/app_context.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "location/place_mark.h"
#include "platform/text_conversion.h"
#include "protocol/transport.h"
#include "protocol/wire_format.h"

namespace {

constexpr int kScopeOneGroup = 3;
constexpr int kCancelRefused = 1;

void AddTextIfAny(FormBody* body, const char* key, const std::wstring& text) {
    if (!text.empty()) body->Add(key, WideToUtf8(text));
}

}  // namespace

bool SendPlaceMark(AppContext& context, const PlaceMark& placeMark) {
    CellIdentity front;
    if (context.cellMonitor == nullptr || CopyFrontCells(context.cellMonitor, &front, 1) == 0) return false;

    FormBody body;
    body.Add("token", context.token)
        .Add("mnc", context.networkCode)
        .Add("lac", front.lac)
        .Add("cid", front.cid)
        // The server gives the mark its number; an edited mark is stored anew.
        .Add("sint_id", 0)
        .Add("sint_scope", placeMark.scope);
    if (placeMark.scope == kScopeOneGroup) body.Add("sint_scope_group", placeMark.group);
    body.Add("sint_title", WideToUtf8(placeMark.title));
    AddTextIfAny(&body, "sint_address_street", placeMark.street);
    AddTextIfAny(&body, "sint_address_number", placeMark.house);
    AddTextIfAny(&body, "sint_address_build", placeMark.building);
    AddTextIfAny(&body, "sint_tags", placeMark.tags);

    TiXmlDocument document;
    return ReadPlaceMarkReply(ExchangeRequest(context, "itake", body.Text(), &document));
}

bool DeletePlaceMark(AppContext& context, const PlaceMark& placeMark) {
    TiXmlDocument document;
    return ReadCancelReply(ExchangeRequest(
        context, "cancel", FormBody().Add("token", context.token).Add("sint_id", placeMark.id).Text(), &document));
}

bool ReadPlaceMarkReply(const TiXmlElement* itake) {
    int id = 0;
    return itake != nullptr && ReadChildNumber(itake, "id", &id) && id != 0;
}

bool ReadCancelReply(const TiXmlElement* cancel) {
    int status = 0;
    return cancel != nullptr && ReadChildNumber(cancel, "status", &status) && status != kCancelRefused;
}
