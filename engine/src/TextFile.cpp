#include "TextFile.h"

#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "EngineErrors.h"

namespace quillory::data {

namespace {

// Closes a descriptor when the reading ends, by return or by exception.
struct DescriptorGuard {
    explicit DescriptorGuard(int descriptor) : fd(descriptor) {}
    ~DescriptorGuard() { ::close(fd); }
    DescriptorGuard(const DescriptorGuard&) = delete;
    DescriptorGuard& operator=(const DescriptorGuard&) = delete;
    int fd;
};

// The installed memory in bytes, or 0 when the system does not say.
std::uint64_t PhysicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) : 0;
}

std::uint64_t Mix(std::uint64_t h, std::uint64_t word) {
    h ^= word * 0x9E3779B97F4A7C15ULL;
    h = (h << 31) | (h >> 33);
    return h * 0xC2B2AE3D27D4EB4FULL;
}

} // namespace

CContentHasher::CContentHasher(std::uint64_t size, std::uint64_t seed) : m_h(seed ^ (0x27D4EB2F165667C5ULL + size)) {}

void CContentHasher::AddWords(const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i + 8 <= count; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, 8);
        m_h = Mix(m_h, word);
    }
}

std::uint64_t CContentHasher::Finish(const unsigned char* tail, std::size_t count) {
    std::uint64_t last = 0;
    std::memcpy(&last, tail, count);
    std::uint64_t h = Mix(m_h, last);
    h ^= h >> 29;
    h *= 0x94D049BB133111EBULL;
    return h ^ (h >> 32);
}

std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed) {
    CContentHasher hasher(bytes.size(), seed);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t whole = bytes.size() / 8 * 8;
    hasher.AddWords(data, whole);
    return hasher.Finish(data + whole, bytes.size() - whole);
}

long ControlCharacterAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0U; };
    const unsigned c = byte(i);
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) {
        return static_cast<long>(c);
    }
    if (c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
        return static_cast<long>(byte(i + 1)); // U+0080..U+009F is C2 80..C2 9F
    }
    if (c == 0xE2 && byte(i + 1) == 0x80 && (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9)) {
        return 0x2000L + static_cast<long>(byte(i + 2) - 0x80); // U+2028 is E2 80 A8, U+2029 is E2 80 A9
    }
    return -1;
}

namespace {

// Why a file of this mode cannot be read as data, or nullptr for a regular file.
const char* NotRegularReason(mode_t mode) {
    if (S_ISREG(mode)) {
        return nullptr;
    }
    return S_ISDIR(mode)                    ? "it is a folder, not a file"
           : S_ISFIFO(mode)                 ? "it is a named pipe (FIFO), not a regular file"
           : S_ISSOCK(mode)                 ? "it is a socket, not a regular file"
           : S_ISCHR(mode) || S_ISBLK(mode) ? "it is a device, not a regular file"
                                            : "it is not a regular file";
}

} // namespace

int OpenRegularFile(const std::filesystem::path& path, std::uint64_t& size, std::string& reason) {
    size = 0;
    // Opening a device can itself do something (rewind a tape, claim a port): look before opening.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (const char* why = NotRegularReason(info.st_mode)) {
        reason = why;
        return -1;
    }
    // O_NONBLOCK makes opening a FIFO return at once instead of waiting for a writer, should one be swapped in
    // after the look above; the kind is checked again on the descriptor itself, which is what is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (::fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (const char* why = NotRegularReason(info.st_mode)) {
        reason = why;
        ::close(fd);
        return -1;
    }
    // A regular file never blocks a read; clearing the flag keeps reads plain for the rest of the descriptor's life.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

CTextFile::CTextFile(const std::filesystem::path& path, std::string role) : m_path(path), m_role(std::move(role)) {
    std::uint64_t expected = 0;
    std::string reason;
    const int fd = OpenRegularFile(path, expected, reason);
    if (fd < 0) {
        ThrowDataError("Cannot open the " + m_role + " " + path.string() + ": " + reason + ".");
    }
    const DescriptorGuard guard(fd);
    // The whole file is held in memory; a file larger than the memory itself cannot load, whatever the allocator
    // would promise, so it is refused before anything is allocated.
    const std::uint64_t memory = PhysicalMemory();
    if (memory != 0 && expected > memory) {
        ThrowDataError(fmt::format("Cannot load the {} {}: it holds {} bytes, more than the {} bytes of this "
                                   "computer's memory.",
                                   m_role, path.string(), expected, memory));
    }
    const auto readSome = [&](char* into, std::size_t count) {
        while (true) {
            const ssize_t n = ::read(fd, into, count);
            if (n >= 0) {
                return static_cast<std::size_t>(n);
            }
            if (errno != EINTR) {
                ThrowDataError("Cannot read the " + m_role + " " + path.string() + ": " + std::strerror(errno) + ".");
            }
        }
    };
    try {
        // One read of the whole file: the parsers then walk memory, which is what makes ten million lines cheap.
        m_text.resize(static_cast<std::size_t>(expected));
        std::size_t got = 0;
        while (got < m_text.size()) {
            const std::size_t n = readSome(m_text.data() + got, m_text.size() - got);
            if (n == 0) {
                break;
            }
            got += n;
        }
        m_text.resize(got);
        if (got == expected) {
            // Whatever the size said (a file still growing), read on to the end.
            char chunk[1 << 14];
            for (std::size_t n = 0; (n = readSome(chunk, sizeof chunk)) > 0;) {
                m_text.append(chunk, n);
            }
        }
    } catch (const std::bad_alloc&) {
        std::string().swap(m_text);
        ThrowDataError(fmt::format("Not enough memory to load the {} {} ({} bytes).", m_role, path.string(), expected));
    }
    m_size = m_text.size();
    m_hash = HashBytes(m_text);
    if (m_text.size() >= 3 && std::memcmp(m_text.data(), "\xEF\xBB\xBF", 3) == 0) {
        m_hadBom = true;
        m_pos = 3;
    }
}

void CTextFile::ConvertLatin1ToUtf8() {
    std::string out;
    out.reserve(m_text.size() + m_text.size() / 8);
    for (std::size_t i = m_pos; i < m_text.size(); ++i) {
        const auto c = static_cast<unsigned char>(m_text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    m_text = std::move(out);
    m_pos = 0;
}

bool CTextFile::NextLine(std::string_view& line) {
    if (m_pos >= m_text.size()) {
        return false;
    }
    const char* begin = m_text.data() + m_pos;
    const std::size_t rest = m_text.size() - m_pos;
    const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', rest));
    std::size_t length = newline ? static_cast<std::size_t>(newline - begin) : rest;
    m_pos += newline ? length + 1 : length;
    if (length > 0 && begin[length - 1] == '\r') {
        --length;
    }
    m_reportLine = ++m_lineNumber;
    line = std::string_view(begin, length);
    return true;
}

CTextFile::LineKind CTextFile::NextUnquotedLine(std::string_view& line) {
    if (m_pos >= m_text.size()) {
        return LineKind::End;
    }
    const std::size_t rest = m_text.size() - m_pos;
    const auto* begin = m_text.data() + m_pos;
    const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', rest));
    const std::size_t length = newline ? static_cast<std::size_t>(newline - begin) : rest;
    if (std::memchr(begin, '"', length) != nullptr) {
        return LineKind::Quoted;
    }
    NextLine(line);
    return LineKind::Line;
}

std::size_t CTextFile::NextCsvRecord(std::vector<std::string>& fields) {
    if (m_pos >= m_text.size()) {
        return 0;
    }
    // Errors name the record's first line; m_lineNumber goes on counting the line ends inside quoted fields.
    ++m_lineNumber;
    m_reportLine = m_lineNumber;
    std::size_t count = 0;
    auto field = [&]() -> std::string& {
        if (count == fields.size()) {
            fields.emplace_back();
        }
        std::string& f = fields[count++];
        f.clear();
        return f;
    };
    const std::size_t end = m_text.size();
    std::string* current = &field();
    bool quoted = false;
    bool wasQuoted = false;
    while (m_pos < end) {
        const char c = m_text[m_pos];
        if (quoted) {
            if (c == '"') {
                if (m_pos + 1 < end && m_text[m_pos + 1] == '"') {
                    *current += '"';
                    m_pos += 2;
                    continue;
                }
                quoted = false;
                ++m_pos;
                continue;
            }
            if (c == '\n') {
                ++m_lineNumber;
            }
            *current += c;
            ++m_pos;
            continue;
        }
        if (c == '\n' || (c == '\r' && m_pos + 1 < end && m_text[m_pos + 1] == '\n') ||
            (c == '\r' && m_pos + 1 == end)) {
            m_pos += (c == '\r' && m_pos + 1 < end) ? 2 : 1;
            return count;
        }
        if (c == '"') {
            if (!current->empty() || wasQuoted) {
                Fail("expected a quote only at the start of a field (write a quote inside a quoted field as \"\")");
            }
            quoted = true;
            wasQuoted = true;
            ++m_pos;
            continue;
        }
        if (c == ',') {
            current = &field();
            wasQuoted = false;
            ++m_pos;
            continue;
        }
        if (wasQuoted) {
            Fail("expected a comma or the end of the line after a quoted field");
        }
        *current += c;
        ++m_pos;
    }
    if (quoted) {
        Fail("expected a closing quote before the end of the file");
    }
    return count;
}

void CTextFile::Fail(const std::string& what) const {
    ThrowDataError(m_path.string() + ", line " + std::to_string(m_reportLine) + ": " + what);
}

void CTextFile::Release() {
    std::string().swap(m_text);
    m_pos = 0;
}

} // namespace quillory::data
