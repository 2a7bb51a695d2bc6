// The "isee" request: the three last dominant cells out, the place, the interval and the status back.
#pragma once

class TiXmlElement;
struct AppContext;
struct PlaceMark;

bool SendLocationReport(AppContext& context, PlaceMark& placeMark);
// The reply's "isee" root element (null when the exchange failed): 1 for an accepted report, which
// sets the interval (or the 15-minute rate when "timer" is missing) and refills `placeMark` from "sint";
// any status read is kept as AppContext::reportStatus.
bool ReadLocationReply(const TiXmlElement* isee, AppContext& context, PlaceMark& placeMark);
