#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "PostgresResult.h"

struct pg_conn;

namespace quillory::store {

// A connection to a PostgreSQL server, given as a libpq connection URI (host or socket folder, port, database,
// sslmode and the rest as libpq reads them; a password in the URI works but is never shown). A lost connection is
// made again at the next statement outside a transaction; until the server answers, every statement fails with
// CMException saying that the server cannot be reached. Messages name the server by host, port and database only.
//
// Every call returns within a bound, call_timeout in the URI (ConnectionUri.h): a server that stops answering, stopped
// or cut off by the network, fails the call as one that cannot be reached, and the next call connects again. TCP
// keep-alives find a dead peer while the connection sits idle.
class CPostgresConnection {
public:
    explicit CPostgresConnection(const std::string& uri);
    ~CPostgresConnection();
    CPostgresConnection(const CPostgresConnection&) = delete;
    CPostgresConnection& operator=(const CPostgresConnection&) = delete;

    // Runs one statement with text parameters ($1, $2 ...). `what` says what was being done, for the message.
    CPostgresResult Execute(const std::string& sql, const std::vector<std::string>& parameters,
                            const std::string& what);

    // "<database> (database on the server <host or socket folder>, port <port>)".
    const std::string& Describe() const { return m_description; }

    // A transaction is open: a lost connection is then an error of the transaction, never made again silently
    // (the rest of it would run outside the transaction).
    void SetInTransaction(bool open) { m_inTransaction = open; }
    // True when the connection is gone (never made, broken, or the server went away): the next Execute makes it
    // again. A statement the server refused on a sound connection leaves it false.
    bool Lost() const;
    // The SQLSTATE of the last statement when the server refused it; "" when it ran or got no answer.
    const std::string& LastRefusal() const { return m_lastRefusal; }
    // Ends an open transaction without a word: for a destructor, never throws, never reconnects, and waits no
    // longer than a call may.
    void RollBackQuietly() noexcept;

    // The SQLSTATE of a statement refused for want of a privilege.
    static constexpr const char* kInsufficientPrivilege = "42501";

private:
    using Deadline = std::chrono::steady_clock::time_point;

    struct Closer {
        void operator()(pg_conn* connection) const noexcept;
    };

    void Connect();
    // Sends one statement and waits for its whole answer until `deadline`. Returns the answer, the server's refusal
    // included; when none came (the connection broke, or the server was silent until the deadline, which gives the
    // connection up), a result that did not succeed, and `failure` says why.
    CPostgresResult Exchange(const std::string& sql, const std::vector<std::string>& parameters, Deadline deadline,
                             std::string& failure);
    [[noreturn]] void FailUnreachable(const std::string& what, const std::string& reason) const;
    // libpq's or the server's text for a message: without the password, on one line.
    std::string ForMessage(std::string text) const;

    std::string m_uri;
    std::chrono::seconds m_callTimeout{};
    std::chrono::seconds m_connectTimeout{};
    std::string m_password;
    std::string m_description;
    std::string m_lastRefusal;
    std::unique_ptr<pg_conn, Closer> m_connection;
    bool m_inTransaction = false;
    bool m_lost = false;
};

} // namespace quillory::store
