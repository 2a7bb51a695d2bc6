// The "hand" request that opens a session, the password hash it carries, and the handset data it sends.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <winsock2.h>

#include "location/cell_source.h"
#include "protocol/session_states.h"

class TiXmlElement;
struct AppContext;

// What the telephony layer tells about the handset, as UTF-8; empty what it could not deliver.
struct TerminalInfo {
    std::string manufacturer;
    std::string model;
    std::string revision;  // firmware
    std::string serialNumber;
    std::string subscriberNumber;
    std::string countryCode;  // the first three characters of the current operator's numeric name
    std::string networkCode;  // the rest of it
};

// 1 when the log-in may go on. Its refusals, offers and warnings go to the frontend.
bool Handshake(AppContext& context);
// MD5 of the password's bytes as 32 lower-case hexadecimal digits; false when hashing fails.
bool HashPassword(const std::string& password, std::string* digits);
// Asks the telephony layer for the handset's data; false when it failed at some step (then the
// fields it had not reached yet, the operator codes included, are left empty).
bool GatherTerminalInfo(TerminalInfo* info);
// Opens an update address (ANSI code page) in the browser.
void OpenUpdateUrl(const std::string& address);

// What a "handshake" reply says, read by the conventions of every reply.
struct HandshakeReply {
    std::optional<int> status;  // none without "status" or without its text
    std::optional<std::string> updateUrl;
    std::optional<std::string> token;
    AccountMode accountMode = AccountMode::Normal;  // also when "mode" is missing or has no text
    std::optional<std::string> host;
    std::wstring userName;
    std::vector<std::optional<CellMethod>> methods;  // as ReadMethodList reads them
};
HandshakeReply ReadHandshakeReply(const TiXmlElement* handshake);

// True when the "host" text names an address rather than a host name: its first number, taken modulo
// 256, is not 0 and three dots follow. The four numbers after the start and the dots, each modulo 256,
// are then the address.
bool ReadServerAddress(const char* host, in_addr* address);

// The methods of the reply's first "method" element and of every sibling element after it, whatever
// its name, in document order, each text read as a number (ReadDecimal); an element without text gives
// no value. Empty without "method".
std::vector<std::optional<CellMethod>> ReadMethodList(const TiXmlElement* handshake);
// The method list without the tries that cannot change the outcome: a method the walk has tried
// already (a source that failed fails again, and the radio layer's failure is a message box each
// time) is left out, except that a walk that runs out still ends on the method it tried last.
std::vector<std::optional<CellMethod>> MethodsWorthTrying(const std::vector<std::optional<CellMethod>>& methods);
// The end of the handshake once the cell sources have walked the method list: the method report
// after a probe that found a source, the notice that nothing works after one that found none. 1 when
// the log-in may go on.
bool FinishMethodChoice(AppContext& context, MethodChoice choice);
