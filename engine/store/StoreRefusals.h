#pragma once

#include <cstdint>
#include <string>

#include "RatingStore.h"

// What both kinds of store refuse, in the same words: rows no store of ours can hold, a newer schema, accounts that
// have used up their ids, and writes to a store that cannot be written. `store` is the store as messages name it
// (CRatingStore::Describe).
namespace quillory::store {

// A rating row as read from `store` (named in the message), checked: a user or movie id outside 32 bits or stars
// outside 1..5 refuses the store by name, as one that is not ours; no store of ours can hold such a row.
CRatingStore::Rating CheckedRating(std::int64_t user, std::int64_t movie, std::int64_t stars, std::int64_t timestamp,
                                   const std::string& store);
// A not-interested row as read from `store`, checked the same way: ids of 32 bits, and a mark that is set (1) or
// cleared (0).
CRatingStore::NotInterested CheckedNotInterested(std::int64_t user, std::int64_t movie, std::int64_t hidden,
                                                 std::int64_t sequence, const std::string& store);
// An account id as read from `store`, checked the same way.
long CheckedUserId(std::int64_t id, const std::string& store);

// The refusals both stores give in the same words: a store of a newer schema than this program reads, and a store
// whose accounts have used up the ids.
[[noreturn]] void ThrowNewerSchema(const std::string& store, std::int64_t version, std::int64_t supported);
[[noreturn]] void ThrowNoAccountIdLeft(const std::string& store);

// Refuses a write to a store that cannot be written (`whyReadOnly` not empty): "<what> failed: the store <store> is
// read-only (<whyReadOnly>). ...". Does nothing when the store can be written.
void RefuseWriteWhenReadOnly(const std::string& store, const std::string& whyReadOnly, const std::string& what);

} // namespace quillory::store
