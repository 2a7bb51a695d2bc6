// The "hand" request that opens a session, and the password hash it carries.
#pragma once

#include <string>

struct AppContext;

// 1 when the log-in may go on; shows its own message boxes and status texts.
bool Handshake(AppContext& context);
// MD5 of the password's bytes as 32 lower-case hexadecimal digits; false when hashing fails.
bool HashPassword(const std::string& password, std::string* digits);
