#include "PostgresStore.h"

#include <algorithm>
#include <ctime>
#include <limits>

#include "AccountName.h"
#include "EngineErrors.h"
#include "MException.h"
#include "PostgresTransaction.h"
#include "StoreRefusals.h"
#include "Utf8Text.h"

namespace quillory::store {

namespace {

// The tables of schema 1; a new store is brought to the current schema by the same steps as an old one (Upgrade).
// The database enforces the contract itself: one account per name and per comparison key, one rating and one
// not-interested mark per user and movie, ids of 32 bits, stars from 1 to 5.
constexpr const char* kSchema = R"sql(
CREATE TABLE quillory_meta(
    id integer PRIMARY KEY CHECK (id = 1),
    schema_version integer NOT NULL,
    changes bigint NOT NULL);
CREATE TABLE quillory_users(
    id integer PRIMARY KEY,
    name text NOT NULL UNIQUE,
    name_key text UNIQUE,
    hash text NOT NULL,
    created bigint NOT NULL);
CREATE TABLE quillory_ratings(
    user_id integer NOT NULL,
    movie integer NOT NULL,
    stars smallint NOT NULL CHECK (stars BETWEEN 1 AND 5),
    ts bigint NOT NULL,
    seq bigint NOT NULL,
    PRIMARY KEY (user_id, movie));
CREATE INDEX quillory_ratings_by_seq ON quillory_ratings(seq);
INSERT INTO quillory_meta(id, schema_version, changes) VALUES (1, 1, 0);
)sql";

// Schema 2: the users' not-interested marks. A mark cleared stays as a row with hidden false and a new sequence
// number (the change counter, as for ratings), so that other programs, which read only the rows whose number is
// above the last they read, see it go.
constexpr const char* kSchemaStep2 = R"sql(
CREATE TABLE quillory_not_interested(
    user_id integer NOT NULL,
    movie integer NOT NULL,
    hidden boolean NOT NULL,
    seq bigint NOT NULL,
    PRIMARY KEY (user_id, movie));
CREATE INDEX quillory_not_interested_by_seq ON quillory_not_interested(seq);
UPDATE quillory_meta SET schema_version = 2 WHERE id = 1;
)sql";

// Serialises the creation of the tables between programs that meet an empty database at once ("QLRY").
constexpr const char* kCreationLock = "SELECT pg_advisory_xact_lock(1363956313)";

} // namespace

CPostgresStore::CPostgresStore(const std::string& uri) : m_connection(uri) {
    OpenOrCreate();
    FindWhyReadOnly();
}

void CPostgresStore::OpenOrCreate() {
    const std::string what = "Opening the store";
    for (int attempt = 0;; ++attempt) {
        const CPostgresResult found = m_connection.Execute(
            "SELECT to_regclass('quillory_meta') IS NOT NULL,"
            " (SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace"
            "  WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'm', 'p', 'f'))",
            {}, what);
        const bool ours = found.Text(0, 0) == "t";
        const std::int64_t tables = found.Int64(0, 1, Describe());
        if (ours) {
            break;
        }
        if (tables != 0) {
            ThrowStoreError("The store " + Describe() +
                            " is not a Quillory store: it holds tables of another program. Name another database in "
                            "the manifest's store URI.");
        }
        if (attempt > 0) {
            ThrowStoreError("Creating the store " + Describe() + " failed: its tables did not appear.");
        }
        CPostgresTransaction transaction(m_connection, "Creating the store");
        m_connection.Execute(kCreationLock, {}, "Creating the store");
        // Inside the lock the answer is final: another program may have created the tables meanwhile.
        if (m_connection.Execute("SELECT to_regclass('quillory_meta') IS NULL", {}, "Creating the store").Text(0, 0) ==
            "t") {
            m_connection.Execute(kSchema, {}, "Creating the store's tables");
        }
        transaction.Commit();
    }
    std::int64_t version = 0;
    bool ours = false;
    try {
        const CPostgresResult meta =
            m_connection.Execute("SELECT schema_version, changes FROM quillory_meta WHERE id = 1", {}, what);
        if (meta.Rows() == 1) {
            version = meta.Int64(0, 0, Describe());
            ours = true;
        }
    } catch (const CMException&) {
        // The server, or a permission this user lacks, not the table: the message already says which.
        if (m_connection.Lost() || m_connection.LastRefusal() == CPostgresConnection::kInsufficientPrivilege) {
            throw;
        }
    }
    if (!ours) {
        ThrowStoreError("The store " + Describe() +
                        " is not a Quillory store: its table quillory_meta is not ours. Name another database in the "
                        "manifest's store URI.");
    }
    if (version > kSchemaVersion) {
        ThrowNewerSchema(Describe(), version, kSchemaVersion);
    }
    if (version < kSchemaVersion) {
        try {
            Upgrade();
        } catch (const CMException& e) {
            if (m_connection.Lost()) {
                throw; // the server went away: the message says so
            }
            // A standby, a database set read-only or a user who may not create tables: the store cannot be read
            // as it stands, and the server's words alone would not say why it had to be written.
            ThrowStoreError("The store " + Describe() + " is of an earlier version of Quillory (schema " +
                            std::to_string(version) + ") and must be upgraded before it can be read, which failed: " +
                            e.GetText() + " Make it writable, then start Quillory again.");
        }
    }
}

void CPostgresStore::Upgrade() {
    const std::string what = "Upgrading the store";
    CPostgresTransaction transaction(m_connection, what);
    // The counter's row lock orders the upgrade after every write under way and before any to come; inside it the
    // version is final, since another program may have upgraded the store meanwhile.
    const std::int64_t version =
        m_connection.Execute("SELECT schema_version FROM quillory_meta WHERE id = 1 FOR UPDATE", {}, what)
            .Int64(0, 0, Describe());
    if (version >= kSchemaVersion) {
        return;
    }
    if (version < 2) {
        m_connection.Execute(kSchemaStep2, {}, "Adding the not-interested marks");
    }
    transaction.Commit();
}

void CPostgresStore::FindWhyReadOnly() {
    // A read-only role, a standby server or a database set read-only is read as it is; it would otherwise fail only
    // at the first registration or rating, with the server's words. A user who may not even read it is refused.
    // (has_table_privilege answers whether any of the privileges it is given is held, so each is asked alone.)
    const CPostgresResult rights = m_connection.Execute("SELECT current_setting('transaction_read_only') = 'off',"
                                                        " has_table_privilege('quillory_meta', 'SELECT')"
                                                        " AND has_table_privilege('quillory_users', 'SELECT')"
                                                        " AND has_table_privilege('quillory_ratings', 'SELECT')"
                                                        " AND has_table_privilege('quillory_not_interested', 'SELECT'),"
                                                        " has_table_privilege('quillory_meta', 'UPDATE')"
                                                        " AND has_table_privilege('quillory_users', 'INSERT')"
                                                        " AND has_table_privilege('quillory_ratings', 'INSERT')"
                                                        " AND has_table_privilege('quillory_not_interested', 'INSERT')"
                                                        " AND has_table_privilege('quillory_not_interested', 'UPDATE')",
                                                        {}, "Opening the store");
    if (rights.Text(0, 1) != "t") {
        ThrowStoreError("The store " + Describe() +
                        " cannot be read: the user the store's URI names lacks a permission on its tables (it "
                        "needs SELECT on quillory_meta, quillory_users, quillory_ratings and quillory_not_interested); "
                        "the database's owner can grant it.");
    }
    if (rights.Text(0, 0) != "t") {
        m_whyReadOnly = "the database is read-only: a standby server, or a database set read-only";
    } else if (rights.Text(0, 2) != "t") {
        m_whyReadOnly = "the user the store's URI names may not write its tables: it needs INSERT on quillory_users "
                        "and quillory_ratings, INSERT and UPDATE on quillory_not_interested and UPDATE on "
                        "quillory_meta, which the database's owner can grant";
    }
}

std::vector<CRatingStore::User> CPostgresStore::LoadNewUsers() {
    const CPostgresResult rows = m_connection.Execute("SELECT id, name FROM quillory_users WHERE id > $1 ORDER BY id",
                                                      {std::to_string(m_accountsRead)}, "Reading the new accounts");
    const std::string store = Describe();
    std::vector<User> users;
    users.reserve(static_cast<std::size_t>(rows.Rows()));
    for (int r = 0; r < rows.Rows(); ++r) {
        users.push_back(User{CheckedUserId(rows.Int64(r, 0, store), store), rows.Text(r, 1), {}});
        m_accountsRead = std::max(m_accountsRead, users.back().id);
    }
    return users;
}

std::vector<CRatingStore::Rating> CPostgresStore::LoadNewRatings() {
    const CPostgresResult rows =
        m_connection.Execute("SELECT user_id, movie, stars, ts, seq FROM quillory_ratings WHERE seq > $1 ORDER BY seq",
                             {std::to_string(m_ratingsRead)}, "Reading the new ratings");
    const std::string store = Describe();
    std::vector<Rating> ratings;
    ratings.reserve(static_cast<std::size_t>(rows.Rows()));
    for (int r = 0; r < rows.Rows(); ++r) {
        ratings.push_back(CheckedRating(rows.Int64(r, 0, store), rows.Int64(r, 1, store), rows.Int64(r, 2, store),
                                        rows.Int64(r, 3, store), store));
        m_ratingsRead = std::max(m_ratingsRead, rows.Int64(r, 4, store));
    }
    return ratings;
}

std::optional<CRatingStore::User> CPostgresStore::FindUser(std::string_view name, std::string_view key) {
    // The server holds only well-formed UTF-8 without NUL, and refuses anything else as a parameter (one would end
    // at the first NUL besides: "ab\0cd" must not find "ab"). Such a name is no account's, as on the other store.
    const auto storable = [](std::string_view text) {
        return text.find('\0') == std::string_view::npos && IsValidUtf8(text);
    };
    if (!storable(name)) {
        return std::nullopt;
    }
    if (!storable(key)) {
        key = {};
    }
    // The exact name first, so that an account whose name is not its key still logs in by it.
    const CPostgresResult rows = m_connection.Execute(
        "SELECT id, name, hash FROM quillory_users WHERE name = $1 OR name_key = $2 ORDER BY (name = $1) DESC LIMIT 1",
        {std::string(name), std::string(key)}, "Looking up an account");
    if (rows.Rows() == 0) {
        return std::nullopt;
    }
    return User{CheckedUserId(rows.Int64(0, 0, Describe()), Describe()), rows.Text(0, 1), rows.Text(0, 2)};
}

std::optional<long> CPostgresStore::InsertUser(std::string_view name, std::string_view key, const std::string& hash) {
    // The names either store refuses, whoever asks: the server would refuse some of them with an error of its own.
    if (!AccountNameKey(name) || !AccountNameKey(key)) {
        return std::nullopt;
    }
    const std::string what = "Registering a user";
    RefuseWriteWhenReadOnly(Describe(), m_whyReadOnly, what);
    CPostgresTransaction transaction(m_connection, what);
    // The counter's row lock orders every registration: the id read below cannot be taken by another program
    // before this transaction ends.
    const std::int64_t counter = m_connection
                                     .Execute("UPDATE quillory_meta SET changes = changes + 1 WHERE id = 1 "
                                              "RETURNING changes",
                                              {}, what)
                                     .Int64(0, 0, Describe());
    const std::int64_t id =
        m_connection
            .Execute("SELECT greatest($1::bigint, (SELECT coalesce(max(id), 0) + 1 FROM quillory_users),"
                     " (SELECT coalesce(max(user_id), 0) + 1 FROM quillory_ratings),"
                     " (SELECT coalesce(max(user_id), 0) + 1 FROM quillory_not_interested))",
                     {std::to_string(kFirstAccountId)}, what)
            .Int64(0, 0, Describe());
    if (id > std::numeric_limits<std::int32_t>::max()) {
        ThrowNoAccountIdLeft(Describe());
    }
    // The unique name and key decide a race between two programs registering one name: one row goes in.
    const CPostgresResult added =
        m_connection.Execute("INSERT INTO quillory_users(id, name, name_key, hash, created) "
                             "VALUES ($1, $2, $3, $4, $5) ON CONFLICT DO NOTHING RETURNING id",
                             {std::to_string(id), std::string(name), std::string(key), hash,
                              std::to_string(static_cast<long long>(std::time(nullptr)))},
                             what);
    if (added.Rows() == 0) {
        return std::nullopt; // the transaction rolls back: the counter stays as it was
    }
    transaction.Commit();
    NoteOwnWrite(counter);
    return static_cast<long>(id);
}

bool CPostgresStore::InsertRating(const Rating& rating) {
    // One statement, so one transaction, committed before the answer arrives: the row and the counter together.
    // The counter's row lock is held to the commit, so the counter doubles as the rating's sequence number: one
    // committed later never has a lower number. A refused rating still moves the counter, which costs the others
    // only a look that finds nothing new.
    RefuseWriteWhenReadOnly(Describe(), m_whyReadOnly, "Storing a rating");
    const CPostgresResult counter = m_connection.Execute(
        "WITH counter AS (UPDATE quillory_meta SET changes = changes + 1 WHERE id = 1 RETURNING changes)"
        " INSERT INTO quillory_ratings(user_id, movie, stars, ts, seq)"
        " SELECT $1::integer, $2::integer, $3::smallint, $4::bigint, changes FROM counter"
        " ON CONFLICT DO NOTHING RETURNING seq",
        {std::to_string(rating.user), std::to_string(rating.movie), std::to_string(rating.stars),
         std::to_string(rating.timestamp)},
        "Storing a rating");
    if (counter.Rows() == 0) {
        return false;
    }
    NoteOwnWrite(counter.Int64(0, 0, Describe()));
    return true;
}

std::optional<std::int64_t> CPostgresStore::SetNotInterested(long user, int movie, bool notInterested) {
    const std::string what = "Storing a not-interested mark";
    RefuseWriteWhenReadOnly(Describe(), m_whyReadOnly, what);
    CPostgresTransaction transaction(m_connection, what);
    // The counter's row lock orders every write: inside it the mark's state is final, and the counter doubles as the
    // change's sequence number, as for ratings. Only a change is committed: a mark set twice keeps its first number,
    // and the counter does not move.
    const std::string counter = m_connection
                                    .Execute("UPDATE quillory_meta SET changes = changes + 1 WHERE id = 1 "
                                             "RETURNING changes",
                                             {}, what)
                                    .Text(0, 0);
    const CPostgresResult changed = m_connection.Execute(
        notInterested ? "INSERT INTO quillory_not_interested(user_id, movie, hidden, seq)"
                        " VALUES ($1::integer, $2::integer, true, $3::bigint)"
                        " ON CONFLICT (user_id, movie) DO UPDATE SET hidden = true, seq = EXCLUDED.seq"
                        " WHERE NOT quillory_not_interested.hidden RETURNING seq"
                      : "UPDATE quillory_not_interested SET hidden = false, seq = $3::bigint"
                        " WHERE user_id = $1::integer AND movie = $2::integer AND hidden RETURNING seq",
        {std::to_string(user), std::to_string(movie), counter}, what);
    if (changed.Rows() == 0) {
        return std::nullopt; // the transaction rolls back: the counter stays as it was
    }
    const std::int64_t sequence = changed.Int64(0, 0, Describe());
    transaction.Commit();
    NoteOwnWrite(sequence);
    return sequence;
}

std::vector<CRatingStore::NotInterested> CPostgresStore::LoadNotInterestedChanges() {
    const CPostgresResult rows = m_connection.Execute(
        "SELECT user_id, movie, hidden::integer, seq FROM quillory_not_interested WHERE seq > $1 ORDER BY seq",
        {std::to_string(m_marksRead)}, "Reading the not-interested marks");
    const std::string store = Describe();
    std::vector<NotInterested> marks;
    marks.reserve(static_cast<std::size_t>(rows.Rows()));
    for (int r = 0; r < rows.Rows(); ++r) {
        marks.push_back(CheckedNotInterested(rows.Int64(r, 0, store), rows.Int64(r, 1, store), rows.Int64(r, 2, store),
                                             rows.Int64(r, 3, store), store));
        m_marksRead = std::max(m_marksRead, marks.back().sequence);
    }
    return marks;
}

bool CPostgresStore::ChangedSinceLastLook() {
    const std::int64_t changes =
        m_connection.Execute("SELECT changes FROM quillory_meta WHERE id = 1", {}, "Looking for changes")
            .Int64(0, 0, Describe());
    const bool changed = !m_seenChanges || *m_seenChanges != changes;
    m_seenChanges = changes;
    return changed;
}

void CPostgresStore::NoteOwnWrite(std::int64_t counter) {
    if (m_seenChanges && *m_seenChanges + 1 == counter) {
        m_seenChanges = counter;
    }
}

} // namespace quillory::store
