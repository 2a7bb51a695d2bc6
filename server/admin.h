// Administration without SQL: accounts, groups, cells and settings from the command line.
#pragma once

#include "server/rules.h"

#include <ctime>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora {

// Cells from CSV text, one per line: mnc, lac, cid, latitude, longitude, address. Blank lines, lines
// starting with "#" and a header line are skipped; the address may be quoted ("" stands for a quote)
// or simply be the rest of the line, commas and all. Throws StoreError naming the line at fault.
std::vector<Cell> ParseCellsCsv(std::string_view text);

// True when `word` starts an administration command rather than an option of the server.
bool IsAdminCommand(const std::string& word);

// Runs one command ("user add EMAIL PASSWORD NAME", "group rename GROUP TITLE", "setting set KEY
// VALUE", … as pelmora-server --help lists them) through the service rules, with the administrator's
// rights. Writes what it did to `out`; throws StoreError on a refused command.
void RunAdminCommand(Rules& rules, const std::vector<std::string>& words, std::ostream& out);

}  // namespace pelmora
