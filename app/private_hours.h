// The private hours (evenings, nights and weekends) and the clock they are read from.
#pragma once

#include <windows.h>

// True from 18:00 to 7:59 and on Saturdays and Sundays.
bool IsPrivateTime(const SYSTEMTIME& localTime);

// The local time the program goes by; tests set it with SetLocalClockForTesting.
SYSTEMTIME GetLocalClock();
// A fixed time for every later GetLocalClock, or the system clock again when `time` is null.
void SetLocalClockForTesting(const SYSTEMTIME* time);
