#include "PasswordHash.h"

#include <sodium.h>

#include "EngineErrors.h"

namespace quillory::store {

namespace {

void InitSodium() {
    // sodium_init is safe to call more than once, but only the first call does work; a static runs it once.
    static const int result = sodium_init();
    if (result < 0) {
        ThrowStoreError("The password library could not be initialised.");
    }
}

} // namespace

std::string HashPassword(std::string_view password) {
    InitSodium();
    // The interactive limits (64 MiB, a fraction of a second) suit a login the user waits for.
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        ThrowStoreError("The password could not be hashed: not enough memory.");
    }
    return std::string(hash);
}

bool VerifyPassword(const std::string& hash, std::string_view password) {
    InitSodium();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

} // namespace quillory::store
