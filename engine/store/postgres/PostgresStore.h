#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PostgresConnection.h"
#include "RatingStore.h"

namespace quillory::store {

// The store as tables in a PostgreSQL database, shared by every program and machine that names the same server.
// Its tables are created on first use in the connection's schema, beside a one-row table that marks the database
// as ours and counts changes: every write bumps the counter in its own transaction, so the look for others' changes
// is one read of one row.
class CPostgresStore final : public CRatingStore {
public:
    // Connects to the server of `uri` and opens the store, creating its tables in an empty database. A database that
    // holds other tables and not ours, one of a newer schema, or one this user may not read: CMException. One this
    // user may not write is read as it is (WhyReadOnly); every write to it then fails.
    explicit CPostgresStore(const std::string& uri);

    std::vector<User> LoadNewUsers() override;
    std::vector<Rating> LoadNewRatings() override;
    std::optional<User> FindUser(std::string_view name, std::string_view key) override;
    std::optional<long> InsertUser(std::string_view name, std::string_view key, const std::string& hash) override;
    bool InsertRating(const Rating& rating) override;
    std::optional<std::int64_t> SetNotInterested(long user, int movie, bool notInterested) override;
    std::vector<NotInterested> LoadNotInterestedChanges() override;
    bool ChangedSinceLastLook() override;
    std::string Describe() const override { return m_connection.Describe(); }
    std::string WhyReadOnly() const override { return m_whyReadOnly; }

    // The schema version this code writes: 1 the accounts and ratings, 2 adds the not-interested marks.
    static constexpr std::int64_t kSchemaVersion = 2;

private:
    void OpenOrCreate();
    // Brings a store of an older schema up to date in place, one step at a time, inside one transaction.
    void Upgrade();
    void FindWhyReadOnly();
    // Our own write moved the change counter to `counter`: when nobody else wrote in between, the next look need
    // not take anything in.
    void NoteOwnWrite(std::int64_t counter);

    CPostgresConnection m_connection;
    std::string m_whyReadOnly;
    std::optional<std::int64_t> m_seenChanges;
    // The highest sequence number LoadNewRatings has returned; -1 before its first call.
    std::int64_t m_ratingsRead = -1;
    // The highest sequence number LoadNotInterestedChanges has returned; 0 before any.
    std::int64_t m_marksRead = 0;
    // The highest account id LoadNewUsers has returned; 0 before any.
    long m_accountsRead = 0;
};

} // namespace quillory::store
