#pragma once

#include <optional>
#include <string>

#include "RatingStore.h"

namespace quillory {

// The account `name` logs in to with `password`: the one with exactly this name, else the one whose name has the
// same comparison key, when the password matches its hash. nullopt otherwise.
std::optional<long> LogIn(store::CRatingStore& store, const std::string& name, const std::string& password);

// Registers `name` (kept as typed; `key` is its comparison key, see AccountNameKey) with a fresh hash of `password`
// and returns the id the store handed out. nullopt when the name or its key is taken, also by another program
// between the look and the write.
std::optional<long> Register(store::CRatingStore& store, const std::string& name, const std::string& key,
                             const std::string& password);

} // namespace quillory
