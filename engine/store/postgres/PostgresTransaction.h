#pragma once

#include <string>

namespace quillory::store {

class CPostgresConnection;

// A transaction on the server: rolled back in the destructor unless committed; the destructor never throws. While
// it is open a lost connection is an error, never made again behind the transaction's back.
class CPostgresTransaction {
public:
    CPostgresTransaction(CPostgresConnection& connection, std::string what);
    ~CPostgresTransaction();
    CPostgresTransaction(const CPostgresTransaction&) = delete;
    CPostgresTransaction& operator=(const CPostgresTransaction&) = delete;

    // Makes every change durable on the server before it returns; throws CMException when it cannot.
    void Commit();

private:
    CPostgresConnection& m_connection;
    std::string m_what;
    bool m_open = false;
};

} // namespace quillory::store
