// One named place: what the server says the user is at, or what the user is naming.
#pragma once

#include <string>

struct PlaceMark {
    int id = 0;        // the server's number for the mark; 0 = the place has no mark
    int scope = -1;    // who sees it: 0 only me, 1 everybody, 2 my groups, 3 the group in `group`
    int group = -1;
    std::wstring title;
    std::wstring street;
    std::wstring house;
    std::wstring building;
    std::wstring tags;
    std::wstring address;  // the server's own address line for the place
};
