#pragma once

#include <string>
#include <string_view>

// What the store reads of a connection URI itself, before libpq reads it, and the URI as a message about it may show
// it.
namespace quillory::store {

// True when libpq ends the user name and password where the writer did: at the last '@' before the options. libpq
// ends them at the first '@' or '/', so a password holding a '/' or '@' is read in part as the host, the port or the
// database, which messages show.
bool CredentialsReadAsWritten(std::string_view uri);

// `uri` with everything in it that may be secret replaced by "***": all between "//" and the last '@' (user name,
// password, and whatever a stray '/' or '@' made of them), and the value of every option whose name holds
// "password". A string that is no URI is masked whole.
std::string MaskedUri(std::string_view uri);

} // namespace quillory::store
