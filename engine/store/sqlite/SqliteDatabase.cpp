#include "SqliteDatabase.h"

#include <sqlite3.h>

#include "EngineErrors.h"

namespace quillory::store {

void CSqliteDatabase::Closer::operator()(sqlite3* db) const noexcept {
    // close_v2 defers the close until any statement still alive is finalised, so it never leaks or fails here.
    sqlite3_close_v2(db);
}

CSqliteDatabase::CSqliteDatabase(const std::filesystem::path& path) : m_path(path) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    m_db.reset(db);
    if (rc != SQLITE_OK) {
        const std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        ThrowStoreError("Cannot open the store " + path.string() + ": " + message + ".");
    }
    sqlite3_extended_result_codes(db, 1);
}

void CSqliteDatabase::Execute(const char* sql, const std::string& what) {
    if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        Fail(what);
    }
}

void CSqliteDatabase::SetBusyTimeout(int milliseconds) {
    if (sqlite3_busy_timeout(m_db.get(), milliseconds) != SQLITE_OK) {
        Fail("Setting the wait for other programs");
    }
}

int CSqliteDatabase::Changes() const {
    return sqlite3_changes(m_db.get());
}

int CSqliteDatabase::ErrorCode() const {
    return sqlite3_extended_errcode(m_db.get()) & 0xFF;
}

void CSqliteDatabase::Fail(const std::string& what) const {
    const int code = sqlite3_extended_errcode(m_db.get());
    std::string text = what + " in the store " + m_path.string() + " failed: " + sqlite3_errmsg(m_db.get()) + ".";
    if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) {
        text += " Another program is using the store; try again when it is done.";
    }
    ThrowStoreError(text);
}

} // namespace quillory::store
