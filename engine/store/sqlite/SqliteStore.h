#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RatingStore.h"
#include "SqliteDatabase.h"
#include "SqliteStatement.h"

namespace quillory::store {

// The store as an SQLite file of our own (application id and schema version in its header). Every write is
// committed, and synced, before it returns. Several programs may share the file: writes take the write lock first
// and wait a while for one another.
class CSqliteStore final : public CRatingStore {
public:
    // ReadWrite: for reading and writing where the store and its folder can be written, else read-only (WhyReadOnly
    // says why). ReadOnly: read-only whatever they allow.
    enum class Access { ReadWrite, ReadOnly };

    // Opens the store at `path`, creating it when missing, and brings an older schema up to date in place. A store
    // that cannot be written is read as it is, even in a folder SQLite cannot make its write-ahead log in; every
    // write to it then fails. A file that is not a store of ours, or a read-only store that is empty or of an older
    // schema: CMException. A write waits up to `busyTimeoutMs` for another program's write to finish, then fails
    // with CMException.
    explicit CSqliteStore(const std::filesystem::path& path, int busyTimeoutMs = kDefaultBusyTimeoutMs,
                          Access access = Access::ReadWrite);

    std::vector<User> LoadNewUsers() override;
    std::vector<Rating> LoadNewRatings() override;
    std::optional<User> FindUser(std::string_view name, std::string_view key) override;
    std::optional<long> InsertUser(std::string_view name, std::string_view key, const std::string& hash) override;
    bool InsertRating(const Rating& rating) override;
    std::optional<std::int64_t> SetNotInterested(long user, int movie, bool notInterested) override;
    std::vector<NotInterested> LoadNotInterestedChanges() override;
    bool ChangedSinceLastLook() override;
    std::string Describe() const override { return m_db.Path().string(); }
    std::string WhyReadOnly() const override { return m_db.WhyReadOnly(); }

    const std::filesystem::path& Path() const { return m_db.Path(); }

    // Our mark in the SQLite header ("QLRY"), and the schema version this code writes. Version 1 compared names
    // byte for byte and numbered accounts just above the data's users; version 2 adds the names' comparison keys
    // and the ratings' sequence numbers, and keeps accounts from kFirstAccountId up; version 3 adds the users'
    // not-interested marks.
    static constexpr std::int32_t kApplicationId = 0x514C5259;
    static constexpr std::int32_t kSchemaVersion = 3;
    static constexpr int kDefaultBusyTimeoutMs = 10000;

private:
    // What the SQLite header and the schema say: our mark, the schema version, the number of tables and indexes.
    struct Header {
        std::int64_t applicationId = 0;
        std::int64_t version = 0;
        std::int64_t objects = 0;
    };
    Header ReadHeader();
    void SwitchToWriteAheadLog(int busyTimeoutMs);
    std::int64_t ReadPragma(const char* sql);
    void CreateOrUpgradeSchema();
    void UpgradeFromVersion1();
    void UpgradeFromVersion2();

    CSqliteDatabase m_db;
    // Prepared once: the look for changes runs before nearly every answer of the engine.
    std::unique_ptr<CSqliteStatement> m_dataVersionStatement;
    std::int64_t m_dataVersion = -1;
    // The highest sequence number LoadNewRatings has returned; -1 before its first call.
    std::int64_t m_ratingsRead = -1;
    // The highest sequence number LoadNotInterestedChanges has returned; 0 before any.
    std::int64_t m_marksRead = 0;
    // The highest account id LoadNewUsers has returned; 0 before any.
    long m_accountsRead = 0;
};

} // namespace quillory::store
