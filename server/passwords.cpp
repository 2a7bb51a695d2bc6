#include "server/passwords.h"

#include "server/text.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace pelmora {

namespace {

std::atomic<unsigned long long> passes{kPasswordCost.passes};
std::atomic<std::size_t> memoryBytes{kPasswordCost.memoryBytes};

void StartSodium() {
    static const bool started = sodium_init() >= 0;
    if (!started) throw std::runtime_error("libsodium cannot start");
}

}  // namespace

void SetPasswordCostForTesting(PasswordCost cost) {
    passes = cost.passes;
    memoryBytes = cost.memoryBytes;
}

std::string HashPassword(std::string_view secret) {
    StartSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, secret.data(), secret.size(), passes, memoryBytes) != 0) {
        throw std::runtime_error("no memory to hash a password");
    }
    return hash;
}

bool VerifyPassword(const std::string& stored, std::string_view secret) {
    StartSodium();
    return crypto_pwhash_str_verify(stored.c_str(), secret.data(), secret.size()) == 0;
}

bool PasswordNeedsRehash(const std::string& stored) {
    StartSodium();
    return crypto_pwhash_str_needs_rehash(stored.c_str(), passes, memoryBytes) != 0;
}

void SpendPasswordCheckTime(std::string_view secret) {
    static const std::string decoy = HashPassword("decoy");
    VerifyPassword(decoy, secret);
}

std::string Sha256Hex(std::string_view bytes) {
    StartSodium();
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return ToHex(digest, sizeof digest);
}

std::string KeyedHashHex(std::string_view key, std::string_view message) {
    StartSodium();
    unsigned char digest[16];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       reinterpret_cast<const unsigned char*>(key.data()),
                       std::min<std::size_t>(key.size(), crypto_generichash_KEYBYTES_MAX));
    return ToHex(digest, sizeof digest);
}

}  // namespace pelmora
