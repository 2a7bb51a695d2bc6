// What the service rules answer when they refuse: the kind of refusal, which each protocol turns
// into its own answer (an HTTP status, a phone status), and the reason in Russian for a person.
#pragma once

#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>

namespace pelmora {

// The server's idea of now; tests put it where they need it (private hours, token expiry, the
// log-in window).
using Clock = std::function<std::time_t()>;
std::time_t SystemClock();

enum class RefusalKind {
    kInvalid,        // the input is wrong: 400
    kNotSignedIn,    // no valid session, or a wrong address or password: 401
    kForbidden,      // not this person's to do: 403
    kNotFound,       // 404
    kConflict,       // taken already: 409
    kGone,           // used or expired: 410
    kThrottled,      // too many failed log-ins: 429, `retryAfter` seconds
};

class Refusal : public std::runtime_error {
public:
    Refusal(RefusalKind kind, const std::string& reason, long retryAfter = 0)
        : std::runtime_error(reason), kind_(kind), retryAfter_(retryAfter) {}
    RefusalKind kind() const { return kind_; }
    long retryAfter() const { return retryAfter_; }

private:
    RefusalKind kind_;
    long retryAfter_;
};

}  // namespace pelmora
