// The "itake" and "cancel" requests that name and delete place marks on the server.
#pragma once

class TiXmlElement;
struct AppContext;
struct PlaceMark;

bool SendPlaceMark(AppContext& context, const PlaceMark& placeMark);
bool DeletePlaceMark(AppContext& context, const PlaceMark& placeMark);

// The readers of the replies' root elements (null when the exchange failed).
// "itake": true when the server returned a non-zero mark id.
bool ReadPlaceMarkReply(const TiXmlElement* itake);
// "cancel": true unless "status" is missing, without text, or 1 (refused).
bool ReadCancelReply(const TiXmlElement* cancel);
