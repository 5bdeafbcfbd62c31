#pragma once

#include <string>
#include <string_view>

// Password hashes: Argon2id through libsodium, in its self-describing string form (algorithm, parameters and salt
// travel with the hash, so stronger settings later still verify old hashes).
namespace quillory::store {

// The hash of `password` with a fresh random salt. Throws CMException when it cannot be computed (out of memory).
std::string HashPassword(std::string_view password);

// True when `password` is the one `hash` was made from.
bool VerifyPassword(const std::string& hash, std::string_view password);

} // namespace quillory::store
