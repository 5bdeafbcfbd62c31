#include "PostgresConnection.h"

#include <libpq-fe.h>

#include <array>
#include <memory>

#include "CleanedText.h"
#include "ConnectionUri.h"
#include "EngineErrors.h"

namespace quillory::store {

namespace {

// Notices (e.g. "relation already exists, skipping") are the server talking to a console nobody reads.
void IgnoreNotice(void* /*arg*/, const char* /*message*/) {}

} // namespace

void CPostgresConnection::Closer::operator()(pg_conn* connection) const noexcept {
    PQfinish(connection);
}

CPostgresConnection::CPostgresConnection(std::string uri) : m_uri(std::move(uri)) {
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
        }
    }
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
    // The URI's own settings come last and so win; ours only fill in what it leaves out. A server that does not
    // answer at all is given up after a while instead of hanging the window.
    const std::array<const char*, 4> keywords = {"connect_timeout", "application_name", "dbname", nullptr};
    const std::array<const char*, 4> values = {"10", "quillory", m_uri.c_str(), nullptr};
    m_connection.reset(PQconnectdbParams(keywords.data(), values.data(), 1));
    if (m_connection) {
        PQsetNoticeProcessor(m_connection.get(), &IgnoreNotice, nullptr);
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

CPostgresResult CPostgresConnection::Execute(const std::string& sql, const std::vector<std::string>& parameters,
                                             const std::string& what) {
    if (!m_connection || m_lost || PQstatus(m_connection.get()) != CONNECTION_OK) {
        if (m_inTransaction) {
            FailUnreachable(what, "the connection was lost inside a transaction, which the server has undone");
        }
        if (m_connection) {
            PQreset(m_connection.get());
        } else {
            Connect();
        }
        if (!m_connection || PQstatus(m_connection.get()) != CONNECTION_OK) {
            FailUnreachable(what, m_connection ? PQerrorMessage(m_connection.get()) : "out of memory");
        }
        m_lost = false;
    }
    std::vector<const char*> values;
    values.reserve(parameters.size());
    for (const std::string& parameter : parameters) {
        values.push_back(parameter.c_str());
    }
    // Without parameters the simple protocol runs several statements at once (creating the tables).
    CPostgresResult result(values.empty()
                               ? PQexec(m_connection.get(), sql.c_str())
                               : PQexecParams(m_connection.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                                              values.data(), nullptr, nullptr, 0));
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
    ThrowStoreError(what + " in the store " + m_description + " failed: " + ForMessage(reason) + ".");
}

bool CPostgresConnection::Lost() const {
    return !m_connection || m_lost || PQstatus(m_connection.get()) != CONNECTION_OK;
}

void CPostgresConnection::RollBackQuietly() noexcept {
    m_inTransaction = false;
    if (m_connection && PQstatus(m_connection.get()) == CONNECTION_OK) {
        PQclear(PQexec(m_connection.get(), "ROLLBACK"));
    }
}

} // namespace quillory::store
