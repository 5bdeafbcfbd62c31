#include "ConnectionUri.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "EngineErrors.h"

namespace quillory::store {

namespace {

constexpr std::string_view kCallTimeout = "call_timeout";
constexpr std::string_view kMask = "***";

// Where the part after "scheme://" begins; npos for a string that is no URI.
std::size_t AuthorityBegin(std::string_view uri) {
    const std::size_t scheme = uri.find("://");
    return scheme == std::string_view::npos ? scheme : scheme + 3;
}

// The '?' or '&' that introduces the option `name`; npos when there is none.
std::size_t FindOption(std::string_view uri, std::string_view name) {
    for (std::size_t at = uri.find(name); at != std::string_view::npos; at = uri.find(name, at + 1)) {
        if (at > 0 && (uri[at - 1] == '?' || uri[at - 1] == '&') && at + name.size() < uri.size() &&
            uri[at + name.size()] == '=') {
            return at - 1;
        }
    }
    return std::string_view::npos;
}

bool IsNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '%';
}

// True when an option "name=" begins at `at`.
bool OptionBeginsAt(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && IsNameCharacter(text[end])) {
        ++end;
    }
    return end > at && end < text.size() && text[end] == '=';
}

// An option's name as libpq reads it: percent escapes decoded, in lower case for the comparison.
std::string DecodedName(std::string_view name) {
    std::string decoded;
    for (std::size_t i = 0; i < name.size(); ++i) {
        unsigned value = 0;
        if (name[i] == '%' && i + 2 < name.size() &&
            std::from_chars(name.data() + i + 1, name.data() + i + 3, value, 16).ptr == name.data() + i + 3) {
            decoded += static_cast<char>(std::tolower(static_cast<int>(value)));
            i += 2;
        } else {
            decoded += static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
        }
    }
    return decoded;
}

} // namespace

ServerUri ReadServerUri(std::string_view uri) {
    ServerUri read{std::string(uri), kDefaultCallTimeout};
    std::string& text = read.libpqUri;
    for (std::size_t at = FindOption(text, kCallTimeout); at != std::string::npos;
         at = FindOption(text, kCallTimeout)) {
        const std::size_t valueBegin = at + 1 + kCallTimeout.size() + 1;
        const std::size_t valueEnd = std::min(text.find('&', valueBegin), text.size());
        long long seconds = 0;
        const char* const first = text.data() + valueBegin;
        const char* const last = text.data() + valueEnd;
        const auto [stop, error] = std::from_chars(first, last, seconds);
        if (error != std::errc() || stop != last || first == last || seconds < kShortestCallTimeout.count() ||
            seconds > kLongestCallTimeout.count()) {
            ThrowStoreError("The store's connection URI in the manifest is not valid: call_timeout must be a whole "
                            "number of seconds from " +
                            std::to_string(kShortestCallTimeout.count()) + " to " +
                            std::to_string(kLongestCallTimeout.count()) + ".");
        }
        read.callTimeout = std::chrono::seconds(seconds);
        // Keep the '?' when other options follow it; otherwise the option goes with the separator before it.
        if (text[at] == '?' && valueEnd < text.size()) {
            text.erase(at + 1, valueEnd + 1 - (at + 1));
        } else {
            text.erase(at, valueEnd - at);
        }
    }
    return read;
}

bool CredentialsReadAsWritten(std::string_view uri) {
    const std::size_t begin = AuthorityBegin(uri);
    if (begin == std::string_view::npos) {
        return true;
    }
    const std::size_t stop = uri.find_first_of("@/", begin);
    const std::size_t rest = stop != std::string_view::npos && uri[stop] == '@' ? stop + 1 : begin;
    const std::size_t options = std::min(uri.find('?', rest), uri.size());
    return uri.substr(rest, options - rest).find('@') == std::string_view::npos;
}

std::string MaskedUri(std::string_view uri) {
    const std::size_t begin = AuthorityBegin(uri);
    if (begin == std::string_view::npos) {
        return std::string(kMask);
    }
    std::string masked(uri.substr(0, begin));
    std::size_t rest = begin;
    if (const std::size_t at = uri.rfind('@'); at != std::string_view::npos && at >= begin) {
        masked += kMask;
        rest = at;
    }
    const std::size_t shown = masked.size();
    masked += uri.substr(rest);

    // A password's value runs to the next option, so that a '&' written inside it does not end the mask early.
    for (std::size_t at = masked.find_first_of("?&", shown); at != std::string::npos;
         at = masked.find_first_of("?&", at + 1)) {
        const std::size_t equals = masked.find('=', at + 1);
        if (equals == std::string::npos || !OptionBeginsAt(masked, at + 1) ||
            DecodedName(std::string_view(masked).substr(at + 1, equals - at - 1)).find("password") ==
                std::string::npos) {
            continue;
        }
        std::size_t end = masked.find('&', equals + 1);
        while (end != std::string::npos && !OptionBeginsAt(masked, end + 1)) {
            end = masked.find('&', end + 1);
        }
        end = std::min(end, masked.size());
        masked.replace(equals + 1, end - equals - 1, kMask);
        at = equals + kMask.size();
    }
    return masked;
}

} // namespace quillory::store
