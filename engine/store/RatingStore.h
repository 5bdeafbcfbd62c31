#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "EngineRules.h"

namespace quillory::store {

// The durable part of the engine: accounts, every rating entered in the program, and the movies each user said he
// is not interested in. Two kinds share this contract,
// an SQLite file beside the data and a PostgreSQL database that many programs and machines share:
// - every write is committed before the call returns, and ids are handed out inside the writing transaction;
// - the database itself enforces one account per name, one rating and one not-interested mark per user and movie;
// - a store that is not ours, of a newer schema, or holding rows no store of ours can hold is refused when it is
//   opened, by name;
// - a store of ours that cannot be written (a read-only file or folder, a standby server, a role without the right
//   to write) is still the user's store: it is opened read-only, read as any other, and every write fails with a
//   CMException naming the store and saying that it is read-only (WhyReadOnly says why, from the start);
// - every failure throws CMException with the store caption.
class CRatingStore {
public:
    struct User {
        long id = 0;
        std::string name;
        std::string hash;
    };
    struct Rating {
        long user = 0;
        int movie = 0;
        int stars = 0;
        long long timestamp = 0;
    };
    // A user's not-interested mark of a movie as it stands now: set (`hidden`: the movie is hidden from his picks)
    // or cleared (shown again). `sequence` orders every change of a mark in the order the changes were committed, so
    // the mark with the higher number was set later.
    struct NotInterested {
        long user = 0;
        int movie = 0;
        bool hidden = false;
        std::int64_t sequence = 0;
    };

    virtual ~CRatingStore() = default;

    // The accounts (name and id; the hash is left out) added since the last call, every account at the first, in id
    // order: a change costs the accounts it added, not all the store holds. Ids are handed out in increasing order
    // inside the write transaction, so an account committed later never has a lower id than one already read.
    virtual std::vector<User> LoadNewUsers() = 0;
    // The ratings committed since the last call (every rating at the first), perhaps with a few already returned:
    // a change costs what changed, not what the store holds. Ratings carry a sequence number handed out under the
    // store's write lock, so one committed later never has a lower number than one already read.
    virtual std::vector<Rating> LoadNewRatings() = 0;

    // The account with exactly this name, else the one whose name has this comparison key (AccountNameKey), with
    // its hash. The exact match comes first so that an account made before names were compared by key still logs
    // in by its own name. Any bytes may be asked for: a name no account can hold (not UTF-8 ...) finds none.
    virtual std::optional<User> FindUser(std::string_view name, std::string_view key) = 0;

    // Adds an account and returns its id: kFirstAccountId or above, above every account id the store holds, chosen
    // inside the write transaction so that two programs never hand out the same id. std::nullopt when the name or
    // its key is taken, or is one no account may take (AccountNameKey refuses it): both stores take the same names.
    virtual std::optional<long> InsertUser(std::string_view name, std::string_view key, const std::string& hash) = 0;

    // Adds a rating; false (and nothing written) when the store already holds one for this user and movie.
    virtual bool InsertRating(const Rating& rating) = 0;

    // Sets (true) or clears (false) the user's not-interested mark of the movie, committed before it returns, and
    // returns the change's sequence number; std::nullopt, and nothing written, when the mark already stands so
    // (another program may have set it meanwhile). A mark cleared stays in the store as a cleared row, so that
    // others see it go.
    virtual std::optional<std::int64_t> SetNotInterested(long user, int movie, bool notInterested) = 0;
    // The marks set or cleared since the last call, each as it stands now (every mark, cleared ones included, at the
    // first), in sequence order, perhaps with a few already returned.
    virtual std::vector<NotInterested> LoadNotInterestedChanges() = 0;

    // True when another program may have committed a change since the last look (the first look answers true).
    // Meant to be asked before every answer that depends on the store, so it costs at most one small read.
    virtual bool ChangedSinceLastLook() = 0;

    // The store as messages name it: a file's path, or a server's host, port and database (never a password).
    virtual std::string Describe() const = 0;

    // Why the store cannot be written, found when it was opened ("its folder /srv/data cannot be written: Permission
    // denied"); empty when it can.
    virtual std::string WhyReadOnly() const = 0;

    // Accounts take ids from here up, a range no data user may reach (see quillory::kFirstAccountId).
    static constexpr long kFirstAccountId = ::quillory::kFirstAccountId;
};

} // namespace quillory::store
