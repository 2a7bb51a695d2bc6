// Administration without SQL: accounts, groups, cells and settings from the command line.
#pragma once

#include "server/cell_import.h"
#include "server/rules.h"

#include <ctime>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora {

// True when `word` starts an administration command rather than an option of the server.
bool IsAdminCommand(const std::string& word);

// Where a long command (cell import, cell geocode) tells how far it has got: on a terminal one line
// written over again, otherwise a line now and then.
struct ProgressLine {
    std::ostream* stream = nullptr;
    bool terminal = false;
};

// Runs one command ("user add EMAIL PASSWORD NAME", "group rename GROUP TITLE", "setting set KEY
// VALUE", … as pelmora-server --help lists them) through the service rules, with the administrator's
// rights. Writes what it did to `out`; throws StoreError on a refused command.
void RunAdminCommand(Rules& rules, const std::vector<std::string>& words, std::ostream& out,
                     ProgressLine progress = ProgressLine());

}  // namespace pelmora
