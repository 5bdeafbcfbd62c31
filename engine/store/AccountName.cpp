#include "AccountName.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace quillory::store {

namespace {

bool IsBlank(utf8proc_int32_t c) {
    return utf8proc_category(c) == UTF8PROC_CATEGORY_ZS;
}

bool IsControl(utf8proc_int32_t c) {
    const utf8proc_category_t category = utf8proc_category(c);
    return category == UTF8PROC_CATEGORY_CC || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP;
}

// The code points of well-formed UTF-8: every byte but the continuation bytes begins one.
std::size_t CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

} // namespace

std::optional<std::string> AccountNameKey(std::string_view name) {
    // A character takes at most 4 bytes: a longer name is refused before any work on it, however long it is.
    if (name.size() > 4 * kMaxAccountNameCharacters) {
        return std::nullopt;
    }
    // utf8proc_map reads up to the length given (NUL included as a code point) and refuses malformed UTF-8.
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(name.data()), static_cast<utf8proc_ssize_t>(name.size()),
                     &mapped, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length < 0) {
        return std::nullopt;
    }
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);

    // Walk the code points once: refuse controls, and find the first and last that are not blanks.
    utf8proc_ssize_t begin = -1;
    utf8proc_ssize_t end = 0;
    for (utf8proc_ssize_t at = 0; at < length;) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t size = utf8proc_iterate(mapped + at, length - at, &c);
        if (size <= 0 || IsControl(c)) {
            return std::nullopt;
        }
        if (!IsBlank(c)) {
            if (begin < 0) {
                begin = at;
            }
            end = at + size;
        }
        at += size;
    }
    if (begin < 0) {
        return std::nullopt;
    }
    // Composing can make a name longer (a few characters decompose for good), so the key is measured too.
    std::string key(reinterpret_cast<const char*>(mapped) + begin, static_cast<std::size_t>(end - begin));
    if (CharacterCount(name) > kMaxAccountNameCharacters || CharacterCount(key) > kMaxAccountNameCharacters) {
        return std::nullopt;
    }
    return key;
}

} // namespace quillory::store
