#include "SqliteStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <thread>
#include <unordered_set>

#include "AccountName.h"
#include "DiskErrors.h"
#include "EngineErrors.h"
#include "MException.h"
#include "SqliteStatement.h"
#include "SqliteTransaction.h"
#include "StoreRefusals.h"

namespace quillory::store {

namespace {

// The tables of version 1; version 2 adds the names' comparison keys (see UpgradeFromVersion1), version 3 the
// not-interested marks (UpgradeFromVersion2). A new store is made by the same steps as an old one is upgraded by.
constexpr const char* kSchemaVersion1 = R"sql(
CREATE TABLE IF NOT EXISTS users(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE,
    hash TEXT NOT NULL,
    created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS ratings(
    user INTEGER NOT NULL,
    movie INTEGER NOT NULL,
    stars INTEGER NOT NULL CHECK(stars BETWEEN 1 AND 5),
    timestamp INTEGER NOT NULL,
    PRIMARY KEY(user, movie)) WITHOUT ROWID;
)sql";

// The store's file: a regular file (CMException otherwise, naming it).
void RequireStoreFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        ThrowStoreError("The store " + path.string() + " is not a file. Name a file as the store in the manifest.");
    }
}

// Creates a missing store file readable by its owner only: it holds password hashes. SQLite gives its journal files
// the same permissions. An existing file is left as it is. Failing here gives the reason (a read-only folder, a full
// disk ...), where SQLite would only say that it cannot open the file.
void CreatePrivately(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno != EEXIST) {
        const int error = errno;
        ThrowStoreError("Cannot create the store " + path.string() + ": " +
                        DiskErrorText(error, path.has_parent_path() ? path.parent_path() : ".") +
                        ". The store's folder must exist and be writable.");
    }
    RequireStoreFile(path);
}

// Why SQLite could not write the store at `path`, or empty when it can: it writes the file, and in write-ahead-log
// mode the log and its shared-memory file beside it, which it makes in the folder. Asked before opening, since SQLite
// opens a file it may not write read-only without a word, and fails only at the first write for the rest.
std::string WhyNotWritable(const std::filesystem::path& path) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    if (::access(path.c_str(), W_OK) != 0) {
        return std::string("the file cannot be written: ") + std::strerror(errno);
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "its folder " + folder.string() + " cannot be written: " + std::strerror(errno);
    }
    for (const char* side : {"-wal", "-shm"}) {
        const std::string file = path.string() + side;
        if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), W_OK) != 0) {
            return "its file " + file + " cannot be written: " + std::strerror(errno);
        }
    }
    return {};
}

// Whether the store's write-ahead log holds changes that are not in the file yet. The last program to close a
// store folds its log into the file and removes it, so a store nobody has open has none.
bool LogHoldsChanges(const std::filesystem::path& path) {
    struct stat info {};
    const std::string log = path.string() + "-wal";
    return ::lstat(log.c_str(), &info) == 0 && info.st_size > 0;
}

// Opens the store's file: for reading and writing where it can be written (made when missing), else for reading.
CSqliteDatabase OpenStoreFile(const std::filesystem::path& path, CSqliteStore::Access access) {
    std::string why;
    if (access == CSqliteStore::Access::ReadOnly) {
        RequireStoreFile(path);
        why = "it was opened for reading only";
    } else {
        CreatePrivately(path);
        why = WhyNotWritable(path);
        if (why.empty()) {
            return CSqliteDatabase(path);
        }
    }
    // To read a store in write-ahead-log mode SQLite makes the log and its shared-memory file beside it when they are
    // missing, which it cannot do in a folder it may not write, and gives them the store's own mode: for a read-only
    // file a read-only shared-memory file, left behind, that would keep the store read-only once the file can be
    // written again. A store without changes in a log holds everything in its file, and is read as a file nothing
    // changes (no side file, no lock: nobody can write it now, and a writer would need the log). One with changes in
    // its log is read through the shared-memory file its writer left.
    if (!LogHoldsChanges(path)) {
        return CSqliteDatabase(path, CSqliteDatabase::Mode::Immutable, std::move(why));
    }
    const std::string sharedMemory = path.string() + "-shm";
    struct stat info {};
    if (::lstat(sharedMemory.c_str(), &info) != 0) {
        ThrowStoreError("The store " + path.string() + " cannot be read: it is read-only (" + why +
                        "), and its write-ahead log " + path.string() +
                        "-wal holds changes that SQLite reads only through the shared-memory file " + sharedMemory +
                        ", which is missing. Make the store and its folder writable, then start Quillory again.");
    }
    return CSqliteDatabase(path, CSqliteDatabase::Mode::ReadOnly, std::move(why));
}

} // namespace

CSqliteStore::CSqliteStore(const std::filesystem::path& path, int busyTimeoutMs, Access access)
    : m_db(OpenStoreFile(path, access)) {
    m_db.SetBusyTimeout(busyTimeoutMs);
    Header header;
    try {
        header = ReadHeader();
    } catch (const CMException& e) {
        // Only a file SQLite cannot read as a database is someone else's; a store we may not write to or one another
        // program has locked is ours all the same.
        const int code = m_db.ErrorCode();
        if (code == SQLITE_NOTADB) {
            ThrowStoreError("The file " + path.string() + " is not a Quillory store: " + e.GetText());
        }
        if (code != SQLITE_READONLY && code != SQLITE_CANTOPEN && code != SQLITE_PERM) {
            throw;
        }
        ThrowStoreError(e.GetText() + " The store and its folder must be writable.");
    }
    const bool empty = header.applicationId == 0 && header.version == 0 && header.objects == 0;
    if (!empty && header.applicationId != kApplicationId) {
        ThrowStoreError("The file " + path.string() +
                        " is not a Quillory store: it is an SQLite database of another program. Name another file "
                        "as the store in the manifest, or move this one away.");
    }
    if (header.version > kSchemaVersion) {
        ThrowNewerSchema(path.string(), header.version, kSchemaVersion);
    }
    if (!WhyReadOnly().empty()) {
        // Read as it is: its journal and schema stay as they are.
        if (header.version < kSchemaVersion) {
            ThrowStoreError(
                "The store " + path.string() + " is read-only (" + WhyReadOnly() + "), and it is " +
                (empty ? std::string("empty")
                       : "of an earlier version of Quillory (schema " + std::to_string(header.version) + ")") +
                ": it must be written before it can be read. Make it writable, then start Quillory "
                "again.");
        }
        return;
    }
    // Only now, once the file is known to be ours (or new), change its journal: WAL lets readers and one writer
    // work at once, and FULL syncs every commit so an acknowledged write survives a power cut.
    SwitchToWriteAheadLog(busyTimeoutMs);
    m_db.Execute("PRAGMA synchronous=FULL", "Setting full sync");
    if (header.version < kSchemaVersion) {
        CreateOrUpgradeSchema();
    }
}

CSqliteStore::Header CSqliteStore::ReadHeader() {
    // One statement, so one snapshot: read one by one, the header of a new store another program is creating at this
    // moment could look half made (tables, but not yet our mark) and be taken for someone else's.
    CSqliteStatement statement(m_db,
                               "SELECT (SELECT application_id FROM pragma_application_id),"
                               " (SELECT user_version FROM pragma_user_version),"
                               " (SELECT count(*) FROM sqlite_master)",
                               "Reading the store's header");
    Header header;
    if (statement.Step()) {
        header.applicationId = statement.ColumnInt64(0);
        header.version = statement.ColumnInt64(1);
        header.objects = statement.ColumnInt64(2);
    }
    return header;
}

void CSqliteStore::SwitchToWriteAheadLog(int busyTimeoutMs) {
    // When several programs start at once on a new store, each asks to switch its journal; SQLite answers "busy" at
    // once instead of waiting (waiting could deadlock), so wait here as long as a write would wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs);
    while (true) {
        try {
            m_db.Execute("PRAGMA journal_mode=WAL", "Switching to the write-ahead log");
            return;
        } catch (const CMException&) {
            const int code = m_db.ErrorCode();
            if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) || std::chrono::steady_clock::now() >= deadline) {
                throw;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::int64_t CSqliteStore::ReadPragma(const char* sql) {
    CSqliteStatement statement(m_db, sql, "Reading the store's header");
    return statement.Step() ? statement.ColumnInt64(0) : 0;
}

void CSqliteStore::CreateOrUpgradeSchema() {
    CSqliteTransaction transaction(m_db, "Creating the store");
    // Another program may have created or upgraded it meanwhile; inside the write lock the answer is final.
    const std::int64_t version = ReadPragma("PRAGMA user_version");
    if (version >= kSchemaVersion) {
        return;
    }
    if (version == 0) {
        m_db.Execute(kSchemaVersion1, "Creating the store's tables");
        m_db.Execute(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str(), "Marking the store as ours");
    }
    if (version < 2) {
        UpgradeFromVersion1();
    }
    UpgradeFromVersion2();
    m_db.Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(), "Setting the schema version");
    transaction.Commit();
}

void CSqliteStore::UpgradeFromVersion1() {
    m_db.Execute("ALTER TABLE users ADD COLUMN name_key TEXT;"
                 "CREATE UNIQUE INDEX users_by_name_key ON users(name_key);"
                 "ALTER TABLE ratings ADD COLUMN seq INTEGER;"
                 "CREATE INDEX ratings_by_seq ON ratings(seq);",
                 "Adding the names' comparison keys and the ratings' sequence numbers");
    // Version 1 numbered accounts just above the data's highest user, where a newer snapshot of the data puts its
    // own users. Move every account, with its ratings, into the accounts' own range; they log in by name, so
    // nothing but the number changes for them.
    std::vector<User> accounts;
    {
        CSqliteStatement select(m_db, "SELECT id, name FROM users ORDER BY id", "Upgrading the store");
        while (select.Step()) {
            accounts.push_back(User{static_cast<long>(select.ColumnInt64(0)), select.ColumnText(1), {}});
        }
    }
    std::int64_t next = kFirstAccountId;
    for (const User& account : accounts) {
        next = std::max<std::int64_t>(next, std::int64_t{account.id} + 1);
    }
    CSqliteStatement moveRatings(m_db, "UPDATE ratings SET user = ?1 WHERE user = ?2", "Upgrading the store");
    CSqliteStatement moveAccount(m_db, "UPDATE users SET id = ?1, name_key = ?3 WHERE id = ?2", "Upgrading the store");
    std::unordered_set<std::string> keys;
    for (const User& account : accounts) {
        std::int64_t id = account.id;
        if (id < kFirstAccountId) {
            if (next > std::numeric_limits<std::int32_t>::max()) {
                ThrowNoAccountIdLeft(Path().string());
            }
            id = next++;
            moveRatings.Bind(1, id);
            moveRatings.Bind(2, static_cast<std::int64_t>(account.id));
            moveRatings.Step();
            moveRatings.Reset();
        }
        // Two old accounts whose names now compare alike (" alice" and "alice"): the first keeps the key, the other
        // logs in by its exact name only, as before.
        const std::optional<std::string> key = AccountNameKey(account.name);
        const bool keyed = key && keys.insert(*key).second;
        moveAccount.Bind(1, id);
        moveAccount.Bind(2, static_cast<std::int64_t>(account.id));
        if (keyed) {
            moveAccount.Bind(3, *key);
        } else {
            moveAccount.BindNull(3);
        }
        moveAccount.Step();
        moveAccount.Reset();
    }
}

void CSqliteStore::UpgradeFromVersion2() {
    // A mark cleared stays as a row with hidden = 0 and a new sequence number, so that other programs, which read
    // only the rows whose number is above the last they read, see it go.
    m_db.Execute("CREATE TABLE not_interested("
                 " user INTEGER NOT NULL,"
                 " movie INTEGER NOT NULL,"
                 " hidden INTEGER NOT NULL CHECK(hidden IN (0, 1)),"
                 " seq INTEGER NOT NULL,"
                 " PRIMARY KEY(user, movie)) WITHOUT ROWID;"
                 "CREATE INDEX not_interested_by_seq ON not_interested(seq);",
                 "Adding the not-interested marks");
}

std::vector<CRatingStore::User> CSqliteStore::LoadNewUsers() {
    CSqliteStatement statement(m_db, "SELECT id, name FROM users WHERE id > ? ORDER BY id", "Reading the new accounts");
    statement.Bind(1, static_cast<std::int64_t>(m_accountsRead));
    const std::string store = Describe();
    std::vector<User> users;
    while (statement.Step()) {
        users.push_back(User{CheckedUserId(statement.ColumnInt64(0), store), statement.ColumnText(1), {}});
        m_accountsRead = std::max(m_accountsRead, users.back().id);
    }
    return users;
}

std::vector<CRatingStore::Rating> CSqliteStore::LoadNewRatings() {
    // Ratings from before sequence numbers (an upgraded store) have none: the first call reads every row.
    CSqliteStatement statement(
        m_db,
        m_ratingsRead < 0 ? "SELECT user, movie, stars, timestamp, coalesce(seq, 0) FROM ratings"
                          : "SELECT user, movie, stars, timestamp, seq FROM ratings WHERE seq > ? ORDER BY seq",
        "Reading the new ratings");
    if (m_ratingsRead >= 0) {
        statement.Bind(1, m_ratingsRead);
    }
    const std::string store = Describe();
    std::vector<Rating> ratings;
    std::int64_t highest = std::max<std::int64_t>(m_ratingsRead, 0);
    while (statement.Step()) {
        ratings.push_back(CheckedRating(statement.ColumnInt64(0), statement.ColumnInt64(1), statement.ColumnInt64(2),
                                        statement.ColumnInt64(3), store));
        highest = std::max(highest, statement.ColumnInt64(4));
    }
    m_ratingsRead = highest;
    return ratings;
}

std::optional<CRatingStore::User> CSqliteStore::FindUser(std::string_view name, std::string_view key) {
    const std::pair<const char*, std::string_view> lookups[] = {
        {"SELECT id, name, hash FROM users WHERE name = ?", name},
        {"SELECT id, name, hash FROM users WHERE name_key = ?", key},
    };
    for (const auto& [sql, value] : lookups) {
        CSqliteStatement statement(m_db, sql, "Looking up an account");
        statement.Bind(1, value);
        if (statement.Step()) {
            return User{CheckedUserId(statement.ColumnInt64(0), Describe()), statement.ColumnText(1),
                        statement.ColumnText(2)};
        }
    }
    return std::nullopt;
}

std::optional<long> CSqliteStore::InsertUser(std::string_view name, std::string_view key, const std::string& hash) {
    // The names either store refuses, whoever asks: SQLite itself would take any length and any bytes.
    if (!AccountNameKey(name) || !AccountNameKey(key)) {
        return std::nullopt;
    }
    CSqliteTransaction transaction(m_db, "Registering a user");
    {
        CSqliteStatement taken(m_db, "SELECT 1 FROM users WHERE name = ?1 OR name_key = ?2", "Registering a user");
        taken.Bind(1, name);
        taken.Bind(2, key);
        if (taken.Step()) {
            return std::nullopt;
        }
    }
    std::int64_t id = kFirstAccountId;
    {
        // Ratings and marks of an account removed by hand still hold its id: never hand it to someone else.
        CSqliteStatement highest(m_db,
                                 "SELECT max(coalesce((SELECT max(id) FROM users), 0),"
                                 " coalesce((SELECT max(user) FROM ratings), 0),"
                                 " coalesce((SELECT max(user) FROM not_interested), 0)) + 1",
                                 "Registering a user");
        if (highest.Step()) {
            id = std::max(id, highest.ColumnInt64(0));
        }
    }
    if (id > std::numeric_limits<std::int32_t>::max()) {
        ThrowNoAccountIdLeft(Path().string());
    }
    CSqliteStatement insert(m_db, "INSERT INTO users(id, name, hash, created, name_key) VALUES(?, ?, ?, ?, ?)",
                            "Registering a user");
    insert.Bind(1, id);
    insert.Bind(2, name);
    insert.Bind(3, hash);
    insert.Bind(4, static_cast<std::int64_t>(std::time(nullptr)));
    insert.Bind(5, key);
    insert.Step();
    transaction.Commit();
    return static_cast<long>(id);
}

bool CSqliteStore::InsertRating(const Rating& rating) {
    // The conflict clause makes "already rated" an answer, not an error. The sequence number is taken inside the
    // write lock, so numbers grow in the order ratings are committed.
    CSqliteTransaction transaction(m_db, "Storing a rating");
    CSqliteStatement insert(m_db,
                            "INSERT INTO ratings(user, movie, stars, timestamp, seq) "
                            "VALUES(?, ?, ?, ?, (SELECT coalesce(max(seq), 0) + 1 FROM ratings)) "
                            "ON CONFLICT(user, movie) DO NOTHING",
                            "Storing a rating");
    insert.Bind(1, static_cast<std::int64_t>(rating.user));
    insert.Bind(2, static_cast<std::int64_t>(rating.movie));
    insert.Bind(3, static_cast<std::int64_t>(rating.stars));
    insert.Bind(4, static_cast<std::int64_t>(rating.timestamp));
    insert.Step();
    const bool added = m_db.Changes() == 1;
    transaction.Commit();
    return added;
}

std::optional<std::int64_t> CSqliteStore::SetNotInterested(long user, int movie, bool notInterested) {
    // Inside the write lock the mark's state is final, and the sequence number grows in commit order as the
    // ratings' does. Only a change writes: a mark set twice keeps the number it was first set with.
    CSqliteTransaction transaction(m_db, "Storing a not-interested mark");
    std::optional<std::int64_t> sequence;
    {
        CSqliteStatement write(m_db,
                               notInterested
                                   ? "INSERT INTO not_interested(user, movie, hidden, seq) "
                                     "VALUES(?1, ?2, 1, (SELECT coalesce(max(seq), 0) + 1 FROM not_interested)) "
                                     "ON CONFLICT(user, movie) DO UPDATE SET hidden = 1, seq = excluded.seq "
                                     "WHERE hidden = 0 RETURNING seq"
                                   : "UPDATE not_interested SET hidden = 0,"
                                     " seq = (SELECT coalesce(max(seq), 0) + 1 FROM not_interested) "
                                     "WHERE user = ?1 AND movie = ?2 AND hidden = 1 RETURNING seq",
                               "Storing a not-interested mark");
        write.Bind(1, static_cast<std::int64_t>(user));
        write.Bind(2, static_cast<std::int64_t>(movie));
        // The change is made at the first step; the statement ends (as it must before the commit) with the scope.
        if (write.Step()) {
            sequence = write.ColumnInt64(0);
        }
    }
    if (!sequence) {
        return std::nullopt; // the transaction rolls back: nothing was written
    }
    transaction.Commit();
    return sequence;
}

std::vector<CRatingStore::NotInterested> CSqliteStore::LoadNotInterestedChanges() {
    CSqliteStatement statement(m_db, "SELECT user, movie, hidden, seq FROM not_interested WHERE seq > ? ORDER BY seq",
                               "Reading the not-interested marks");
    statement.Bind(1, m_marksRead);
    const std::string store = Describe();
    std::vector<NotInterested> marks;
    while (statement.Step()) {
        marks.push_back(CheckedNotInterested(statement.ColumnInt64(0), statement.ColumnInt64(1),
                                             statement.ColumnInt64(2), statement.ColumnInt64(3), store));
        m_marksRead = std::max(m_marksRead, marks.back().sequence);
    }
    return marks;
}

bool CSqliteStore::ChangedSinceLastLook() {
    // data_version changes when another connection commits, and only then: our own writes reach the engine
    // directly. Reading it touches no page of the file.
    if (!m_dataVersionStatement) {
        m_dataVersionStatement = std::make_unique<CSqliteStatement>(m_db, "PRAGMA data_version", "Looking for changes");
    }
    m_dataVersionStatement->Reset();
    const std::int64_t version = m_dataVersionStatement->Step() ? m_dataVersionStatement->ColumnInt64(0) : -1;
    m_dataVersionStatement->Reset();
    const bool changed = version != m_dataVersion;
    m_dataVersion = version;
    return changed;
}

} // namespace quillory::store
