#include "StoreRefusals.h"

#include <limits>

#include <fmt/format.h>

#include "EngineErrors.h"

namespace quillory::store {

namespace {

bool Fits32Bits(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max();
}

[[noreturn]] void RefuseRow(const std::string& store, const std::string& what) {
    ThrowStoreError("The store " + store + " is not a Quillory store as it stands: " + what +
                    " Name another store in the manifest, or move this one away.");
}

} // namespace

CRatingStore::Rating CheckedRating(std::int64_t user, std::int64_t movie, std::int64_t stars, std::int64_t timestamp,
                                   const std::string& store) {
    if (!Fits32Bits(user) || !Fits32Bits(movie)) {
        RefuseRow(store, fmt::format("a rating row holds user {} and movie {}; ids are 32-bit numbers.", user, movie));
    }
    if (stars < 1 || stars > 5) {
        RefuseRow(store, fmt::format("a rating row (user {}, movie {}) holds {} stars; ratings are 1 to 5 stars.", user,
                                     movie, stars));
    }
    return CRatingStore::Rating{static_cast<long>(user), static_cast<int>(movie), static_cast<int>(stars),
                                static_cast<long long>(timestamp)};
}

CRatingStore::NotInterested CheckedNotInterested(std::int64_t user, std::int64_t movie, std::int64_t hidden,
                                                 std::int64_t sequence, const std::string& store) {
    if (!Fits32Bits(user) || !Fits32Bits(movie)) {
        RefuseRow(store,
                  fmt::format("a not-interested row holds user {} and movie {}; ids are 32-bit numbers.", user, movie));
    }
    if (hidden != 0 && hidden != 1) {
        RefuseRow(store, fmt::format("a not-interested row (user {}, movie {}) holds the mark {}; a mark is 0 or 1.",
                                     user, movie, hidden));
    }
    return CRatingStore::NotInterested{static_cast<long>(user), static_cast<int>(movie), hidden == 1, sequence};
}

long CheckedUserId(std::int64_t id, const std::string& store) {
    if (!Fits32Bits(id)) {
        RefuseRow(store, fmt::format("an account holds the id {}; ids are 32-bit numbers.", id));
    }
    return static_cast<long>(id);
}

void ThrowNewerSchema(const std::string& store, std::int64_t version, std::int64_t supported) {
    ThrowStoreError("The store " + store + " was written by a newer version of Quillory (schema " +
                    std::to_string(version) + "); this version reads schema " + std::to_string(supported) + ".");
}

void ThrowNoAccountIdLeft(const std::string& store) {
    ThrowStoreError("The store " + store + " has no account id left below 2147483648.");
}

void RefuseWriteWhenReadOnly(const std::string& store, const std::string& whyReadOnly, const std::string& what) {
    if (!whyReadOnly.empty()) {
        ThrowStoreError(what + " failed: the store " + store + " is read-only (" + whyReadOnly +
                        "). You can log in and see what it holds, but nothing can be added to it until it can be "
                        "written.");
    }
}

} // namespace quillory::store
