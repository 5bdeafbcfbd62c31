#include "SqliteStatement.h"

#include <sqlite3.h>

#include "SqliteDatabase.h"

namespace quillory::store {

void CSqliteStatement::Finalizer::operator()(sqlite3_stmt* statement) const noexcept {
    sqlite3_finalize(statement);
}

CSqliteStatement::CSqliteStatement(CSqliteDatabase& db, const char* sql, std::string what)
    : m_db(db), m_what(std::move(what)) {
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(db.Handle(), sql, -1, &statement, nullptr);
    m_statement.reset(statement);
    if (rc != SQLITE_OK) {
        db.Fail(m_what);
    }
}

void CSqliteStatement::Bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(m_statement.get(), index, value) != SQLITE_OK) {
        m_db.Fail(m_what);
    }
}

void CSqliteStatement::Bind(int index, std::string_view text) {
    if (sqlite3_bind_text64(m_statement.get(), index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
        SQLITE_OK) {
        m_db.Fail(m_what);
    }
}

void CSqliteStatement::BindNull(int index) {
    if (sqlite3_bind_null(m_statement.get(), index) != SQLITE_OK) {
        m_db.Fail(m_what);
    }
}

bool CSqliteStatement::Step() {
    const int rc = sqlite3_step(m_statement.get());
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    m_db.Fail(m_what);
}

void CSqliteStatement::Reset() {
    sqlite3_reset(m_statement.get());
}

std::int64_t CSqliteStatement::ColumnInt64(int column) const {
    return sqlite3_column_int64(m_statement.get(), column);
}

std::string CSqliteStatement::ColumnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement.get(), column));
    const int bytes = sqlite3_column_bytes(m_statement.get(), column);
    return text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(bytes));
}

bool CSqliteStatement::ColumnIsNull(int column) const {
    return sqlite3_column_type(m_statement.get(), column) == SQLITE_NULL;
}

} // namespace quillory::store
