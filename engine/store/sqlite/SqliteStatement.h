#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3_stmt;

namespace quillory::store {

class CSqliteDatabase;

// A prepared statement of a CSqliteDatabase: bind parameters (1-based), step through the rows, read columns
// (0-based). Finalised in its destructor. Failures throw CMException naming the store and what was being done.
class CSqliteStatement {
public:
    CSqliteStatement(CSqliteDatabase& db, const char* sql, std::string what);

    void Bind(int index, std::int64_t value);
    void Bind(int index, std::string_view text);
    void BindNull(int index);

    // Runs the statement to its next row: true when there is a row, false when it is done.
    bool Step();
    // Makes the statement ready to run again; bound values stay.
    void Reset();

    std::int64_t ColumnInt64(int column) const;
    std::string ColumnText(int column) const;
    bool ColumnIsNull(int column) const;

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const noexcept;
    };

    CSqliteDatabase& m_db;
    std::string m_what;
    std::unique_ptr<sqlite3_stmt, Finalizer> m_statement;
};

} // namespace quillory::store
