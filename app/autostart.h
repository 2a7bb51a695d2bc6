// The autostart entry: a shell link "Pelmora.lnk" in the Startup folder that starts Pelmora with the
// phone (on the desktop: when the user's session starts), hidden until its automatic log-in succeeds.
#pragma once

// Writes the link to this executable with `arguments`, replacing whatever file of that name is there.
void CreateAutostartShortcut(const char* arguments);
// Deletes the link; nothing when there is none.
void DeleteAutostartShortcut();
