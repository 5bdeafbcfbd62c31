#include "SqliteTransaction.h"

#include <sqlite3.h>

#include "SqliteDatabase.h"

namespace quillory::store {

CSqliteTransaction::CSqliteTransaction(CSqliteDatabase& db, std::string what) : m_db(db), m_what(std::move(what)) {
    // Every write goes through a transaction: this is where a store that cannot be written refuses them all.
    m_db.RequireWritable(m_what);
    m_db.RequireInPlace(m_what);
    m_db.Execute("BEGIN IMMEDIATE", m_what);
    m_open = true;
}

CSqliteTransaction::~CSqliteTransaction() {
    if (m_open) {
        // Nothing to report from here: an unfinished transaction is undone by the rollback, or by SQLite when the
        // connection closes.
        sqlite3_exec(m_db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void CSqliteTransaction::Commit() {
    m_db.Execute("COMMIT", m_what);
    m_open = false;
    // Checked again after the commit, for a file that went away while the transaction ran.
    m_db.RequireInPlace(m_what);
}

} // namespace quillory::store
