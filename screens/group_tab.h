// The group tab (pane 1): the people of the shown groups with their addresses and distances.
#pragma once

#include <windows.h>

#include <string>

#include "protocol/groups_model.h"

HWND CreateGroupTab(HWND parent);

// Lays out one entry of a tab `width` pixels wide, measuring with the font selected into `dc`: the
// name's width, and the address split around the name (SplitAddressLine).
void LayOutEntry(HDC dc, Person& person, int width);

struct AddressParts {
    std::wstring first;   // goes on the name's line
    std::wstring second;  // goes on the line below
};

// Splits an address line of an entry, measuring with the font selected into `dc`. The first part
// takes whole words, each with the space after it, while the text before that space is no wider
// than `available`. An address that fits whole, or has no space, stays whole on the name's line;
// when not even its first word fits, that word still goes first and the rest below.
AddressParts SplitAddressLine(HDC dc, const std::wstring& address, int available);
