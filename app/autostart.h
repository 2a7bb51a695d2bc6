// The shortcut in the phone's Startup folder that starts Pelmora with the phone.
#pragma once

// Writes "\Pelmora.lnk" into the Startup folder, starting this executable with `arguments`.
void CreateAutostartShortcut(const char* arguments);
// Deletes the shortcut; nothing when there is none.
void DeleteAutostartShortcut();
