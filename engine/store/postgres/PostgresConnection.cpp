#include "PostgresConnection.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <memory>

#include "CleanedText.h"
#include "ConnectionUri.h"
#include "EngineErrors.h"

namespace quillory::store {

namespace {

// How long a connection may take when the URI does not say, within the call's bound.
constexpr std::chrono::seconds kDefaultConnectTimeout{10};

// Notices (e.g. "relation already exists, skipping") are the server talking to a console nobody reads.
void IgnoreNotice(void* /*arg*/, const char* /*message*/) {}

// The URI's connect_timeout when it is a whole number above 0, else the default; never more than the call's bound.
std::chrono::seconds ConnectTimeout(const std::string& written, std::chrono::seconds callTimeout) {
    long long seconds = 0;
    const char* const end = written.data() + written.size();
    const auto [stop, error] = std::from_chars(written.data(), end, seconds);
    const std::chrono::seconds chosen =
        error == std::errc() && stop == end && seconds > 0 ? std::chrono::seconds(seconds) : kDefaultConnectTimeout;
    return std::min(chosen, callTimeout);
}

// Waits until the socket is ready for `events`; false once `deadline` has passed. A socket in error counts as ready:
// the read or write that follows reports what went wrong.
bool WaitForSocket(int socket, short events, std::chrono::steady_clock::time_point deadline) {
    while (true) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd watched{socket, events, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return true;
        }
    }
}

} // namespace

void CPostgresConnection::Closer::operator()(pg_conn* connection) const noexcept {
    PQfinish(connection);
}

CPostgresConnection::CPostgresConnection(const std::string& uri) {
    ServerUri read = ReadServerUri(uri);
    m_uri = std::move(read.libpqUri);
    m_callTimeout = read.callTimeout;

    // Parse first: the description and the password are known even when the server never answers.
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(m_uri.c_str(), &error),
                                                                         &PQconninfoFree);
    const bool readAsWritten = CredentialsReadAsWritten(m_uri);
    if (!options || !readAsWritten) {
        std::string reason;
        if (!readAsWritten) {
            reason = "a '/' or '@' in its user name, password or database name must be written %2F or %40";
        } else {
            // libpq's complaint may quote the part it could not read, a password included: ask again about the URI
            // with every secret masked, and quote only that answer.
            char* maskedError = nullptr;
            const std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> masked(
                PQconninfoParse(MaskedUri(m_uri).c_str(), &maskedError), &PQconninfoFree);
            reason = masked ? "a part of it that may hold a password cannot be read (it is not shown here); write "
                              "'%', '/', '@' and '&' in a user name or password as %25, %2F, %40 and %26"
                            : CleanedText(maskedError != nullptr ? maskedError : "");
            PQfreemem(maskedError);
        }
        PQfreemem(error);
        ThrowStoreError("The store's connection URI in the manifest is not valid: " + reason +
                        ". Expected postgresql://user@host:port/database?option=value.");
    }
    std::string host;
    std::string port;
    std::string database;
    std::string connectTimeout;
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        const std::string keyword = option->keyword;
        const std::string value = option->val != nullptr ? option->val : "";
        if (keyword == "password") {
            m_password = value;
        } else if (keyword == "host" || (keyword == "hostaddr" && host.empty())) {
            host = value;
        } else if (keyword == "port") {
            port = value;
        } else if (keyword == "dbname") {
            database = value;
        } else if (keyword == "connect_timeout") {
            connectTimeout = value;
        }
    }
    m_connectTimeout = ConnectTimeout(connectTimeout, m_callTimeout);
    m_description = (database.empty() ? std::string("named after the user") : CleanedText(database)) +
                    " (database on the server " +
                    (host.empty() ? std::string("of the local socket") : CleanedText(host)) + ", port " +
                    (port.empty() ? std::string("5432") : CleanedText(port)) + ")";
    Connect();
    if (PQstatus(m_connection.get()) != CONNECTION_OK) {
        FailUnreachable("Connecting", PQerrorMessage(m_connection.get()));
    }
}

CPostgresConnection::~CPostgresConnection() = default;

void CPostgresConnection::Connect() {
    // The URI's own settings follow ours and so win, except the time a connection may take, which follows the URI:
    // no call outlasts its bound. The keep-alives let the system find a peer that has gone while the connection sat
    // idle; the user timeout, one that stopped acknowledging what was sent. Both apply to TCP only.
    const auto bound = m_callTimeout.count();
    const std::string idle = std::to_string(std::max<long long>(1, bound / 2));
    const std::string interval = std::to_string(std::max<long long>(1, bound / 10));
    const std::string userTimeout = std::to_string(bound * 1000);
    const std::string connectTimeout = std::to_string(m_connectTimeout.count());
    const std::array<const char*, 10> keywords = {"keepalives",
                                                  "keepalives_idle",
                                                  "keepalives_interval",
                                                  "keepalives_count",
                                                  "tcp_user_timeout",
                                                  "application_name",
                                                  "dbname",
                                                  "connect_timeout",
                                                  nullptr,
                                                  nullptr};
    const std::array<const char*, 10> values = {
        "1",        idle.c_str(),  interval.c_str(),       "3",     userTimeout.c_str(),
        "quillory", m_uri.c_str(), connectTimeout.c_str(), nullptr, nullptr};
    m_connection.reset(PQconnectdbParams(keywords.data(), values.data(), 1));
    if (m_connection) {
        PQsetNoticeProcessor(m_connection.get(), &IgnoreNotice, nullptr);
        // Statements are sent without blocking, so that a server that reads nothing cannot hold a call either.
        PQsetnonblocking(m_connection.get(), 1);
    }
}

void CPostgresConnection::FailUnreachable(const std::string& what, const std::string& reason) const {
    ThrowStoreError(what + ": the store " + m_description + " cannot be reached (" + ForMessage(reason) +
                    "). Check that the server runs and can be reached, then try again.");
}

std::string CPostgresConnection::ForMessage(std::string text) const {
    // The password first, as written: cleaning could change how it appears.
    if (!m_password.empty()) {
        for (std::size_t at = text.find(m_password); at != std::string::npos; at = text.find(m_password, at)) {
            text.replace(at, m_password.size(), "***");
            at += 3;
        }
    }
    return CleanedText(text);
}

CPostgresResult CPostgresConnection::Exchange(const std::string& sql, const std::vector<std::string>& parameters,
                                              Deadline deadline, std::string& failure) {
    pg_conn* const connection = m_connection.get();
    const auto broken = [&] {
        failure = PQerrorMessage(connection);
        if (failure.empty()) {
            failure = "the connection broke";
        }
        return CPostgresResult(nullptr);
    };
    const auto silent = [&] {
        // The server may wake up and answer later; the connection is given up so that nothing stale is read from it.
        failure = "the server did not answer within " + std::to_string(m_callTimeout.count()) + " s";
        m_connection.reset();
        return CPostgresResult(nullptr);
    };

    std::vector<const char*> values;
    values.reserve(parameters.size());
    for (const std::string& parameter : parameters) {
        values.push_back(parameter.c_str());
    }
    // Without parameters the simple protocol runs several statements at once (creating the tables).
    const int sent = values.empty() ? PQsendQuery(connection, sql.c_str())
                                    : PQsendQueryParams(connection, sql.c_str(), static_cast<int>(values.size()),
                                                        nullptr, values.data(), nullptr, nullptr, 0);
    if (sent == 0) {
        return broken();
    }
    // What does not fit in the socket's buffer goes as the server reads it; what it sends meanwhile is taken in.
    for (int flushed = PQflush(connection); flushed != 0; flushed = PQflush(connection)) {
        if (flushed < 0) {
            return broken();
        }
        if (!WaitForSocket(PQsocket(connection), POLLIN | POLLOUT, deadline)) {
            return silent();
        }
        if (PQconsumeInput(connection) == 0) {
            return broken();
        }
    }
    // The answer to several statements is the last one's, unless one before it failed: the rest did not run then.
    std::unique_ptr<pg_result, decltype(&PQclear)> kept(nullptr, &PQclear);
    while (true) {
        while (PQisBusy(connection) != 0) {
            if (!WaitForSocket(PQsocket(connection), POLLIN, deadline)) {
                return silent();
            }
            if (PQconsumeInput(connection) == 0) {
                return broken();
            }
        }
        std::unique_ptr<pg_result, decltype(&PQclear)> next(PQgetResult(connection), &PQclear);
        if (!next) {
            break;
        }
        const ExecStatusType status = kept ? PQresultStatus(kept.get()) : PGRES_COMMAND_OK;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            kept = std::move(next);
        }
    }
    if (!kept) {
        return broken();
    }
    return CPostgresResult(kept.release());
}

CPostgresResult CPostgresConnection::Execute(const std::string& sql, const std::vector<std::string>& parameters,
                                             const std::string& what) {
    // One bound for the whole call, connecting again included (a connection takes at most m_connectTimeout).
    const Deadline deadline = std::chrono::steady_clock::now() + m_callTimeout;
    m_lastRefusal.clear();
    if (Lost()) {
        if (m_inTransaction) {
            FailUnreachable(what, "the connection was lost inside a transaction, which the server has undone");
        }
        Connect();
        if (!m_connection || PQstatus(m_connection.get()) != CONNECTION_OK) {
            FailUnreachable(what, m_connection ? PQerrorMessage(m_connection.get()) : "out of memory");
        }
        m_lost = false;
    }
    std::string failure;
    CPostgresResult result = Exchange(sql, parameters, deadline, failure);
    if (!failure.empty()) {
        m_lost = true;
        FailUnreachable(what, failure);
    }
    if (result.Succeeded()) {
        return result;
    }
    const std::string state = result.SqlState();
    std::string reason = result.ErrorMessage();
    if (CleanedText(reason).empty()) {
        reason = PQerrorMessage(m_connection.get());
    }
    // A failure the server did not report itself (no SQLSTATE) is the connection's; class 08 is a broken
    // connection, 57P01-57P03 a server shutting down or starting up. libpq does not always mark such a connection
    // bad at once, so remember to make it again.
    if (PQstatus(m_connection.get()) != CONNECTION_OK || state.empty() || state.starts_with("08") ||
        state.starts_with("57P")) {
        m_lost = true;
        FailUnreachable(what, reason);
    }
    m_lastRefusal = state;
    std::string text = what + " in the store " + m_description + " failed: " + ForMessage(reason) + ".";
    if (state == kInsufficientPrivilege) {
        text += " The user the store's URI names lacks a permission the store needs; the database's owner can grant "
                "it.";
    }
    ThrowStoreError(text);
}

bool CPostgresConnection::Lost() const {
    return !m_connection || m_lost || PQstatus(m_connection.get()) != CONNECTION_OK;
}

void CPostgresConnection::RollBackQuietly() noexcept {
    m_inTransaction = false;
    if (Lost()) {
        return;
    }
    try {
        std::string failure;
        Exchange("ROLLBACK", {}, std::chrono::steady_clock::now() + m_callTimeout, failure);
        m_lost = m_lost || !failure.empty();
    } catch (...) {
        // Out of memory for the statement's text: the server undoes the transaction when the connection goes.
        m_connection.reset();
    }
}

} // namespace quillory::store
