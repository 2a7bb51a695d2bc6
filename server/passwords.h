// What the service keeps instead of secrets: an Argon2id hash of the phone's password hash, and the
// SHA-256 of every token and invitation code. Nothing stored works as a password or a token.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelmora {

// Argon2id's cost: passes over the memory, and the memory in bytes (libsodium always uses one lane).
struct PasswordCost {
    unsigned long long passes;
    std::size_t memoryBytes;
};

// OWASP's minimum for Argon2id: 19 MiB, 2 passes, 1 lane.
constexpr PasswordCost kPasswordCost{2, 19u * 1024 * 1024};

// The cheapest cost libsodium accepts. Test programs switch to it with SetPasswordCostForTesting
// so that hundreds of accounts take no minutes; the server never does.
constexpr PasswordCost kCheapestPasswordCost{1, 8192};
void SetPasswordCostForTesting(PasswordCost cost);

// crypto_pwhash_str of `secret` (the phone's MD5 hex): "$argon2id$v=19$m=19456,t=2,p=1$...".
std::string HashPassword(std::string_view secret);
// True when `stored` is a hash made by HashPassword of `secret`. Takes as long as hashing.
bool VerifyPassword(const std::string& stored, std::string_view secret);
// True when `stored` was made at another cost than the current one and should be made again.
bool PasswordNeedsRehash(const std::string& stored);
// Spends the time of one VerifyPassword, for a log-in whose address is unknown: the answer must not
// come sooner than for a known address with a wrong password.
void SpendPasswordCheckTime(std::string_view secret);

// SHA-256 as 64 lower-case hex digits: how tokens and invitation codes are looked up.
std::string Sha256Hex(std::string_view bytes);

// BLAKE2b of `message` keyed with `key` (at most 64 bytes are used), 32 lower-case hex digits: tells
// things apart without saying what they are to anybody without the key.
std::string KeyedHashHex(std::string_view key, std::string_view message);

}  // namespace pelmora
