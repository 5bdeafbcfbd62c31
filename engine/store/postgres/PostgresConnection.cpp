#include "PostgresConnection.h"

#include <libpq-fe.h>

#include <array>
#include <memory>

#include "EngineErrors.h"

namespace quillory::store {

namespace {

// libpq's last message on one line, without its trailing newline.
std::string OneLine(const char* message) {
    std::string text = message != nullptr ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    for (char& c : text) {
        if (c == '\n') {
            c = ' ';
        }
    }
    return text;
}

// The password section of a URI as written (user:password@host), for a URI that libpq cannot even read.
std::string RawPasswordOf(const std::string& uri) {
    const std::size_t scheme = uri.find("://");
    if (scheme == std::string::npos) {
        return {};
    }
    const std::size_t begin = scheme + 3;
    const std::size_t end = uri.find_first_of("/?", begin);
    const std::size_t at = uri.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at == std::string::npos || at < begin) {
        return {};
    }
    const std::size_t colon = uri.find(':', begin);
    return colon < at ? uri.substr(colon + 1, at - colon - 1) : std::string();
}

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
    if (!options) {
        const std::string reason = OneLine(error);
        PQfreemem(error);
        // libpq's complaint may quote a piece of the URI, the password included (a bad percent escape in it).
        m_password = RawPasswordOf(m_uri);
        ThrowStoreError("The store's connection URI in the manifest is not valid: " + Scrubbed(reason) +
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
    m_description = (database.empty() ? std::string("named after the user") : database) + " (database on the server " +
                    (host.empty() ? std::string("of the local socket") : host) + ", port " +
                    (port.empty() ? std::string("5432") : port) + ")";
    Connect();
    if (PQstatus(m_connection.get()) != CONNECTION_OK) {
        FailUnreachable("Connecting", OneLine(PQerrorMessage(m_connection.get())));
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
    ThrowStoreError(what + ": the store " + m_description + " cannot be reached (" + Scrubbed(reason) +
                    "). Check that the server runs and can be reached, then try again.");
}

std::string CPostgresConnection::Scrubbed(std::string text) const {
    if (m_password.empty()) {
        return text;
    }
    for (std::size_t at = text.find(m_password); at != std::string::npos; at = text.find(m_password, at)) {
        text.replace(at, m_password.size(), "***");
        at += 3;
    }
    return text;
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
            FailUnreachable(what, OneLine(m_connection ? PQerrorMessage(m_connection.get()) : "out of memory"));
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
    std::string reason = OneLine(result.ErrorMessage().c_str());
    if (reason.empty()) {
        reason = OneLine(PQerrorMessage(m_connection.get()));
    }
    // A failure the server did not report itself (no SQLSTATE) is the connection's; class 08 is a broken
    // connection, 57P01-57P03 a server shutting down or starting up. libpq does not always mark such a connection
    // bad at once, so remember to make it again.
    if (PQstatus(m_connection.get()) != CONNECTION_OK || state.empty() || state.starts_with("08") ||
        state.starts_with("57P")) {
        m_lost = true;
        FailUnreachable(what, reason);
    }
    ThrowStoreError(what + " in the store " + m_description + " failed: " + Scrubbed(reason) + ".");
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
