#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct pg_result;

namespace quillory::store {

// The rows of one statement run on the server. Owns the libpq result; columns are read as the server's text.
class CPostgresResult {
public:
    explicit CPostgresResult(pg_result* result);

    // True when the statement ran (a command or a query); false when the server or the connection refused it.
    bool Succeeded() const;
    // The server's five-character SQLSTATE of a failure ("" when there is none, e.g. the connection broke).
    std::string SqlState() const;
    // The server's primary message of a failure.
    std::string ErrorMessage() const;

    int Rows() const;
    std::string Text(int row, int column) const;
    // The column as a whole number; CMException naming `store` when the server sent something else.
    std::int64_t Int64(int row, int column, const std::string& store) const;

private:
    struct Clearer {
        void operator()(pg_result* result) const noexcept;
    };

    std::unique_ptr<pg_result, Clearer> m_result;
};

} // namespace quillory::store
