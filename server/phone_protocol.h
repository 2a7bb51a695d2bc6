// The phone protocol: one request kind and its form body in, one XML document out.
#pragma once

#include "server/rules.h"
#include "server/text.h"

#include <string>
#include <string_view>

namespace pelmora {

// A handled request: the reply document and what the access log says about it.
struct Outcome {
    std::string document;
    std::string user = "-";  // the e-mail of the user the request was made for
    std::string result;      // "ok", "status 1", "error 401", ...
    bool databaseFailed = false;  // the database failed the request (counted in /metrics)
};

// Descriptions of the error documents, shown by the phone after the code.
extern const char* const kBadRequestText;    // 400, followed by what was wrong
extern const char* const kUnauthorizedText;  // 401
extern const char* const kBusyText;          // 503

// Longest text a place mark or a name may hold, in bytes of UTF-8.
constexpr std::size_t kMaxTextBytes = 1024;

// The kinds of request a phone makes; each is also the first label of its Host header.
bool IsPhoneRequestKind(std::string_view kind);

class PhoneProtocol {
public:
    explicit PhoneProtocol(Rules& rules);

    // Answers a request of `kind` ("hand", "config", "isee", "itake", "cancel", "ineed") from the
    // client at network address `client`. Never throws: a failure of the store becomes an error document.
    Outcome Handle(std::string_view kind, std::string_view body, const std::string& client = "-");

    // The common error document: <error><code>…</code><description>…</description></error>.
    static Outcome Error(int code, const std::string& description);

private:
    Outcome Dispatch(std::string_view kind, std::string_view body, const std::string& client);
    // The user of the request's token; throws when the token is missing, unknown or expired.
    User Authenticate(const FormFields& form);
    Outcome Hand(const FormFields& form, const std::string& client);
    Outcome Config(const FormFields& form);
    Outcome Isee(const FormFields& form);
    Outcome Itake(const FormFields& form);
    Outcome Cancel(const FormFields& form);
    Outcome Ineed(const FormFields& form);

    Rules& rules_;
    Store& store_;
};

}  // namespace pelmora
