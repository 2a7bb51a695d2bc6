#include "server/rules.h"

namespace pelmora {

std::time_t SystemClock() {
    return std::time(nullptr);
}

}  // namespace pelmora
