#include "app/private_hours.h"

namespace {

struct ClockOverride {
    bool active = false;
    SYSTEMTIME time = {};
};

ClockOverride& Override() {
    static ClockOverride clock;
    return clock;
}

}  // namespace

bool IsPrivateTime(const SYSTEMTIME& localTime) {
    const bool evening = localTime.wHour >= 18 && localTime.wHour <= 23;
    const bool night = localTime.wHour <= 7;
    const bool weekend = localTime.wDayOfWeek == 6 || localTime.wDayOfWeek == 0;
    return evening || night || weekend;
}

SYSTEMTIME GetLocalClock() {
    if (Override().active) return Override().time;
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

void SetLocalClockForTesting(const SYSTEMTIME* time) {
    Override().active = time != nullptr;
    if (time != nullptr) Override().time = *time;
}
