// Programs the tests start beside themselves (PostgreSQL, nginx, pelmora-server): their output to a
// log file, SIGKILL when the test program dies, and as nobody when the tests run as root and the
// program refuses root or should not have it.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pelmora::testing {

// Starts `arguments` (the program first) in `folder` with its output appended to `log`; 0 when it
// cannot be started (the test fails).
pid_t Spawn(std::vector<std::string> arguments, const std::string& folder, const std::string& log, bool asNobody);

// Hands the file to nobody when running as root, so that a program run as nobody may use it.
void GiveAway(const std::string& path);

// Waits for the child; its exit status, or -1 when it did not exit by itself.
int WaitFor(pid_t child);

std::string ReadFile(const std::string& path);

// Whether something accepts connections on the loopback port.
bool Listening(std::uint16_t port);

// A loopback port nobody listens on right now.
std::uint16_t FreePort();

}  // namespace pelmora::testing
