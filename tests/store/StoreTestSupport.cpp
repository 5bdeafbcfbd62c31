#include "StoreTestSupport.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "PostgresStore.h"
#include "SqliteStore.h"

namespace quillory::test {

namespace {

void RunOn(const std::string& uri, const std::string& sql) {
    const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(uri.c_str()), &PQfinish);
    ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
    const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()), &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    ASSERT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        << sql << ": " << PQresultErrorMessage(result.get());
}

std::string QueryOn(const std::string& uri, const std::string& sql) {
    const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(uri.c_str()), &PQfinish);
    EXPECT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
    const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()), &PQclear);
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << sql << ": " << PQresultErrorMessage(result.get());
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) == 0) {
        return "";
    }
    return PQgetvalue(result.get(), 0, 0);
}

void RunScript(const std::string& arguments) {
    const std::string command = std::string(QUILLORY_PG_TEST_SCRIPT) + " " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string UniqueName(const char* prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

} // namespace

std::string ServerUri(const std::string& socketFolder, const std::string& database) {
    // The script may have put the server in a short folder the given one links to (a socket path is short).
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::weakly_canonical(socketFolder, error);
    return "postgresql:///" + database + "?host=" + (error ? socketFolder : folder.string()) + "&user=quillory";
}

CServerDatabase::CServerDatabase(std::string socketFolder)
    : m_socketFolder(std::move(socketFolder)), m_name(UniqueName("quillory_test_")),
      m_uri(ServerUri(m_socketFolder, m_name)) {
    RunOn(ServerUri(m_socketFolder, "postgres"), "CREATE DATABASE " + m_name);
}

CServerDatabase::~CServerDatabase() {
    // WITH (FORCE) ends the sessions an engine of the test may still hold.
    const std::string sql = "DROP DATABASE IF EXISTS " + m_name + " WITH (FORCE)";
    const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(
        PQconnectdb(ServerUri(m_socketFolder, "postgres").c_str()), &PQfinish);
    if (PQstatus(connection.get()) == CONNECTION_OK) {
        PQclear(PQexec(connection.get(), sql.c_str()));
    }
}

void CServerDatabase::Execute(const std::string& sql) const {
    RunOn(m_uri, sql);
}

std::string CServerDatabase::Query(const std::string& sql) const {
    return QueryOn(m_uri, sql);
}

CPrivateServer::CPrivateServer()
    : m_folder((std::filesystem::path(QUILLORY_TEST_SCRATCH_DIR) / UniqueName("server_")).string()) {
    std::filesystem::create_directories(QUILLORY_TEST_SCRATCH_DIR);
    Start();
}

CPrivateServer::~CPrivateServer() {
    if (m_frozen) {
        Thaw();
    }
    const std::string command = std::string(QUILLORY_PG_TEST_SCRIPT) + " stop " + m_folder;
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "could not stop the test's own server in " << m_folder;
    }
}

void CPrivateServer::Halt(const std::string& mode) {
    RunScript("halt " + m_folder + " " + mode);
}

void CPrivateServer::Start() {
    RunScript("start " + m_folder);
}

void CPrivateServer::Freeze() {
    RunScript("freeze " + m_folder);
    m_frozen = true;
}

void CPrivateServer::Thaw() {
    RunScript("thaw " + m_folder);
    m_frozen = false;
}

CStoreUnderTest::CStoreUnderTest(StoreKind kind, int movies, int users) : m_kind(kind) {
    m_manifest = WriteSmallTweetings(m_folder, movies, users).string();
    if (kind == StoreKind::Postgres) {
        m_database.emplace();
        m_folder.Write("files.txt", "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\nstore = " +
                                        m_database->Uri() + "\n");
    }
}

std::string CStoreUnderTest::Name() const {
    if (m_kind == StoreKind::Sqlite) {
        return (m_folder.Path() / "quillory.sqlite").string();
    }
    const std::string& uri = m_database->Uri();
    const std::size_t begin = uri.find(":///") + 4;
    return uri.substr(begin, uri.find('?') - begin);
}

std::unique_ptr<store::CRatingStore> CStoreUnderTest::Open() const {
    if (m_kind == StoreKind::Sqlite) {
        return std::make_unique<store::CSqliteStore>(m_folder.Path() / "quillory.sqlite");
    }
    return std::make_unique<store::CPostgresStore>(m_database->Uri());
}

void CStoreUnderTest::Execute(const std::string& sql) const {
    if (m_kind == StoreKind::Postgres) {
        m_database->Execute(sql);
        return;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((m_folder.Path() / "quillory.sqlite").c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << sql << ": " << message;
}

std::string CStoreUnderTest::Query(const std::string& sql) const {
    if (m_kind == StoreKind::Postgres) {
        return m_database->Query(sql);
    }
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open((m_folder.Path() / "quillory.sqlite").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db);
    std::string value;
    if (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr) {
        value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

} // namespace quillory::test
