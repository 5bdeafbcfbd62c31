#pragma once

#include <chrono>
#include <string>
#include <string_view>

// What the store reads of a connection URI itself, before libpq reads the rest, and the URI as a message about it
// may show it.
namespace quillory::store {

inline constexpr std::chrono::seconds kDefaultCallTimeout{20};
// libpq waits at least 2 seconds for a connection whatever it is told, so no call can be bounded below that.
inline constexpr std::chrono::seconds kShortestCallTimeout{2};
inline constexpr std::chrono::seconds kLongestCallTimeout{3600};

// The URI as libpq is to read it, and the bound on each call to the server. The bound is our own parameter
// call_timeout (whole seconds), taken out of the URI because libpq refuses a parameter it does not know.
struct ServerUri {
    std::string libpqUri;
    std::chrono::seconds callTimeout = kDefaultCallTimeout;
};

// Takes call_timeout out of `uri`. CMException when its value is not a whole number of seconds from
// kShortestCallTimeout to kLongestCallTimeout; the message never quotes the URI.
ServerUri ReadServerUri(std::string_view uri);

// True when libpq ends the user name and password where the writer did: at the last '@' before the options. libpq
// ends them at the first '@' or '/', so a password holding a '/' or '@' is read in part as the host, the port or the
// database, which messages show.
bool CredentialsReadAsWritten(std::string_view uri);

// `uri` with everything in it that may be secret replaced by "***": all between "//" and the last '@' (user name,
// password, and whatever a stray '/' or '@' made of them), and the value of every option whose name holds
// "password". A string that is no URI is masked whole.
std::string MaskedUri(std::string_view uri);

} // namespace quillory::store
