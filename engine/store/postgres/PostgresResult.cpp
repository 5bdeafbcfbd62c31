#include "PostgresResult.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstring>

#include "EngineErrors.h"
#include "QuoteExcerpt.h"

namespace quillory::store {

void CPostgresResult::Clearer::operator()(pg_result* result) const noexcept {
    PQclear(result);
}

CPostgresResult::CPostgresResult(pg_result* result) : m_result(result) {}

bool CPostgresResult::Succeeded() const {
    const ExecStatusType status = PQresultStatus(m_result.get());
    return m_result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
}

std::string CPostgresResult::SqlState() const {
    const char* state = PQresultErrorField(m_result.get(), PG_DIAG_SQLSTATE);
    return state != nullptr ? state : "";
}

std::string CPostgresResult::ErrorMessage() const {
    const char* message = PQresultErrorField(m_result.get(), PG_DIAG_MESSAGE_PRIMARY);
    if (message == nullptr) {
        message = PQresultErrorMessage(m_result.get());
    }
    return message != nullptr ? message : "";
}

int CPostgresResult::Rows() const {
    return PQntuples(m_result.get());
}

std::string CPostgresResult::Text(int row, int column) const {
    return std::string(PQgetvalue(m_result.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(m_result.get(), row, column)));
}

std::int64_t CPostgresResult::Int64(int row, int column, const std::string& store) const {
    const char* text = PQgetvalue(m_result.get(), row, column);
    const char* end = text + std::strlen(text);
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || stop == text) {
        ThrowStoreError("The store " + store + " sent " + QuoteExcerpt(text) + " where a whole number belongs.");
    }
    return value;
}

} // namespace quillory::store
