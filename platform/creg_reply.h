// The modem's answer to the registration query AT+CREG? in result mode 2, as 3GPP TS 27.007 gives it:
// +CREG: <mode>,<stat>,"<lac>","<ci>", the location area code and the cell identity in hexadecimal.
// The radio layer and the program's own modem reading both read it.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads the location area code and the cell identity from `length` bytes a modem sent. From the first
// "CREG" (upper case: an echoed lower-case command never matches) four double quotes are found in turn;
// the text between the first two is the area code, between the last two the cell identity. Each is read
// as a hexadecimal number (leading blanks and a 0x prefix allowed, reading stops at the first other
// character). False, with *lac and *cid untouched, when there is no "CREG", fewer than four quotes follow
// it, or a field holds no hexadecimal digit.
bool ParseCregReply(const char* bytes, std::size_t length, std::uint32_t* lac, std::uint32_t* cid);
