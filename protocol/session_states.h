// The states the phone and the server agree on for a session. They travel as numbers, and the numbers
// are read and written only where the replies are read and the requests built (configuration.cpp,
// handshake.cpp); everywhere else they go by name. A number the server sends outside the named
// values is kept as it came, and counts as none of them.
#pragma once

// Who sees the user's place ("config_visibilily").
enum class Visibility : int {
    Visible = 0,          // everybody
    VisibleToGroups = 1,  // the members of the user's groups
    Invisible = 2,        // nobody but the user
    SwitchedOff = 3,      // the place is not determined at all; never sent
};

// The kind of account ("mode" of the handshake). Every mode but the normal one has no groups: two tabs
// in the header, no group lists, no configuration fetched at log-in.
enum class AccountMode : int {
    Normal = 0,
    OwnName = 1,  // without groups, and the user names themselves in the configuration tab
};

// How often the place is reported ("config_rate").
enum class RateMode : int {
    Optimal = 0,     // "Оптимально": after the interval the last location reply gave
    CellChange = 1,  // "При смене соты": every 15 minutes
};
