#pragma once

#include <memory>
#include <optional>
#include <string>

#include "EngineFixtures.h"
#include "RatingStore.h"

namespace quillory::test {

enum class StoreKind { Sqlite, Postgres };

// The connection URI of `database` on the test server whose socket lives in `socketFolder`.
std::string ServerUri(const std::string& socketFolder, const std::string& database);

// A fresh database on a test server, dropped again at the end of the test.
class CServerDatabase {
public:
    explicit CServerDatabase(std::string socketFolder = QUILLORY_PG_TEST_DIR);
    ~CServerDatabase();
    CServerDatabase(const CServerDatabase&) = delete;
    CServerDatabase& operator=(const CServerDatabase&) = delete;

    const std::string& Uri() const { return m_uri; }
    // Runs `sql` on the database as its owner, bypassing the engine; fails the test when the server refuses it.
    void Execute(const std::string& sql) const;
    // The first column of the first row `sql` returns, as text ("" for none).
    std::string Query(const std::string& sql) const;

private:
    std::string m_socketFolder;
    std::string m_name;
    std::string m_uri;
};

// A throwaway server of the test's own, for tests that stop and start it (the shared one must stay up).
class CPrivateServer {
public:
    CPrivateServer();
    ~CPrivateServer();
    CPrivateServer(const CPrivateServer&) = delete;
    CPrivateServer& operator=(const CPrivateServer&) = delete;

    const std::string& Folder() const { return m_folder; }
    // pg_ctl stop with `mode` ("fast", "immediate"), keeping the data.
    void Halt(const std::string& mode);
    void Start();
    // SIGSTOP to every process of the server, as a server that no longer answers: connections stay open and new
    // ones wait, unanswered, until Thaw (or the destructor) sends SIGCONT.
    void Freeze();
    void Thaw();

private:
    std::string m_folder;
    bool m_frozen = false;
};

// A small data folder (WriteSmallTweetings) whose manifest names a store of the given kind: the file
// quillory.sqlite beside the data, or a fresh database on the test server.
class CStoreUnderTest {
public:
    explicit CStoreUnderTest(StoreKind kind, int movies = 40, int users = 60);

    StoreKind Kind() const { return m_kind; }
    const std::string& Manifest() const { return m_manifest; }
    const CTempFolder& Folder() const { return m_folder; }
    // How messages name the store: the file's path or the database's name.
    std::string Name() const;
    // The store itself, opened as the engine opens it, for tests of the store's own calls.
    std::unique_ptr<store::CRatingStore> Open() const;
    // Runs `sql` on the store itself, bypassing the engine (the store must exist: Init has run).
    void Execute(const std::string& sql) const;
    // The first column of the first row `sql` returns, as text ("" for none), bypassing the engine.
    std::string Query(const std::string& sql) const;
    // The store's tables and the ratings' user column, as this kind names them.
    const char* UsersTable() const { return m_kind == StoreKind::Sqlite ? "users" : "quillory_users"; }
    const char* RatingsTable() const { return m_kind == StoreKind::Sqlite ? "ratings" : "quillory_ratings"; }
    const char* RatingUserColumn() const { return m_kind == StoreKind::Sqlite ? "user" : "user_id"; }

private:
    StoreKind m_kind;
    CTempFolder m_folder;
    std::optional<CServerDatabase> m_database;
    std::string m_manifest;
};

} // namespace quillory::test
