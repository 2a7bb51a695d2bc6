// The groups the user belongs to and the people in them, as the server last sent them.
#pragma once

#include <string>
#include <vector>

struct Person {
    int id = -1;
    std::wstring name;     // the server's name followed by ": ", or empty
    std::wstring address;  // address line with ", DISTANCE км" when the server gave a distance
    // Layout of the group tab, measured once per size change.
    std::wstring addressFirstPart;
    std::wstring addressSecondPart;
    int nameWidth = 0;
};

struct Group {
    int id = 2147483647;
    std::wstring title;  // with " (COUNT)" when the server gave a count
    std::vector<Person> people;
};

using GroupList = std::vector<Group>;
