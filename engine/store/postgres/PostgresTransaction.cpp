#include "PostgresTransaction.h"

#include "PostgresConnection.h"

namespace quillory::store {

CPostgresTransaction::CPostgresTransaction(CPostgresConnection& connection, std::string what)
    : m_connection(connection), m_what(std::move(what)) {
    m_connection.Execute("BEGIN", {}, m_what);
    m_connection.SetInTransaction(true);
    m_open = true;
}

CPostgresTransaction::~CPostgresTransaction() {
    if (m_open) {
        m_connection.RollBackQuietly();
    }
}

void CPostgresTransaction::Commit() {
    m_connection.Execute("COMMIT", {}, m_what);
    m_connection.SetInTransaction(false);
    m_open = false;
}

} // namespace quillory::store
