// Stand-in until the handshake is built: no session can be opened.
#include "protocol/handshake.h"

#include "app/app_context.h"

bool Handshake(AppContext&) { return false; }
bool HashPassword(const std::string&, std::string*) { return false; }
