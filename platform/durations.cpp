#include "platform/durations.h"

Durations& GetDurations() {
    static Durations durations;
    return durations;
}
