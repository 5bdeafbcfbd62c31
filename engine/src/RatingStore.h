#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SqliteDatabase.h"

namespace quillory::store {

// The durable part of the engine: accounts and every rating entered in the program, in an SQLite file of our own
// (application id and schema version in its header). Every write is committed, and synced, before it returns.
// Several programs may share the file: writes take the write lock first and wait a while for one another.
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

    // Opens the store at `path`, creating it when missing. A file that is not a store of ours: CMException.
    // A write waits up to `busyTimeoutMs` for another program's write to finish, then fails with CMException.
    explicit CRatingStore(const std::filesystem::path& path, int busyTimeoutMs = kDefaultBusyTimeoutMs);

    // Every account (name and id; the hash is left out).
    std::vector<User> LoadUsers();
    // Every rating entered in the program.
    std::vector<Rating> LoadRatings();
    // The ratings of one user.
    std::vector<Rating> LoadRatingsOf(long user);

    // The account with exactly this name, with its hash.
    std::optional<User> FindUser(std::string_view name);
    // True when an account has this id.
    bool HasUser(long id);

    // Adds an account and returns its id: above `lowestId` and above every id the store holds, chosen inside the
    // write transaction so that two programs never hand out the same id. std::nullopt when the name is taken.
    std::optional<long> InsertUser(std::string_view name, const std::string& hash, long lowestId);

    // Adds a rating; false (and nothing written) when the store already holds one for this user and movie.
    bool InsertRating(const Rating& rating);

    const std::filesystem::path& Path() const { return m_db.Path(); }

    // Our mark in the SQLite header ("QLRY"), and the schema version this code writes.
    static constexpr std::int32_t kApplicationId = 0x514C5259;
    static constexpr std::int32_t kSchemaVersion = 1;
    static constexpr int kDefaultBusyTimeoutMs = 10000;

private:
    void SwitchToWriteAheadLog(int busyTimeoutMs);
    std::int64_t ReadPragma(const char* sql);
    void CreateSchema();

    CSqliteDatabase m_db;
};

} // namespace quillory::store
