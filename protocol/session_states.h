// The states the phone and the server agree on for a session. They travel as numbers; the numbers
// are read and written only where the replies are read and the requests built.
#pragma once

// Values of AppContext::visibility ("config_visibilily").
inline constexpr int kVisibilityVisible = 0;
inline constexpr int kVisibilityVisibleToGroups = 1;
inline constexpr int kVisibilityInvisible = 2;
inline constexpr int kVisibilitySwitchedOff = 3;
