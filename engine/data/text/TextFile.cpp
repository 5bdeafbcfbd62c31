#include "TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "ContentHash.h"
#include "EngineErrors.h"
#include "ReadFully.h"
#include "RegularFile.h"

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

} // namespace

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
    try {
        Read(fd, expected);
    } catch (const std::bad_alloc&) {
        m_text.reset();
        m_length = 0;
        ThrowDataError(fmt::format("Not enough memory to load the {} {} ({} bytes).", m_role, path.string(), expected));
    }
    m_size = m_length;
    if (m_length >= 3 && std::memcmp(m_text.get(), "\xEF\xBB\xBF", 3) == 0) {
        m_hadBom = true;
        m_pos = 3;
    }
}

void CTextFile::Read(int fd, std::uint64_t expected) {
    const auto readSome = [&](char* into, std::size_t count) {
        const ssize_t n = ReadFully(fd, into, count);
        if (n < 0) {
            ThrowDataError("Cannot read the " + m_role + " " + m_path.string() + ": " + std::strerror(errno) + ".");
        }
        return static_cast<std::size_t>(n);
    };
    // The file is read in blocks of a few megabytes, each hashed while it is still in the processor's cache: the
    // fingerprint then costs next to nothing beside the read.
    constexpr std::size_t kBlock = std::size_t{4} << 20;
    CContentHasher hasher(expected);
    std::size_t capacity = static_cast<std::size_t>(expected);
    m_text = std::make_unique_for_overwrite<char[]>(capacity);
    m_length = 0;
    while (true) {
        if (m_length == capacity) {
            // Whatever the size said (a file still growing), read on to the end.
            char chunk[1 << 14];
            const std::size_t n = readSome(chunk, sizeof chunk);
            if (n == 0) {
                break;
            }
            capacity = capacity * 2 + n;
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
            std::memcpy(grown.get(), m_text.get(), m_length);
            m_text = std::move(grown);
            std::memcpy(m_text.get() + m_length, chunk, n);
            hasher.AddBytes(chunk, n);
            m_length += n;
            continue;
        }
        char* into = m_text.get() + m_length;
        const std::size_t n = readSome(into, std::min(kBlock, capacity - m_length));
        if (n == 0) {
            break;
        }
        hasher.AddBytes(into, n);
        m_length += n;
    }
    m_hash = hasher.Finish(nullptr, 0);
}

void CTextFile::ConvertLatin1ToUtf8() {
    std::string out;
    out.reserve(m_length + m_length / 8);
    for (std::size_t i = m_pos; i < m_length; ++i) {
        const auto c = static_cast<unsigned char>(m_text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    m_text = std::make_unique_for_overwrite<char[]>(out.size());
    std::memcpy(m_text.get(), out.data(), out.size());
    m_length = out.size();
    m_pos = 0;
}

bool CTextFile::NextLine(std::string_view& line) {
    if (m_pos >= m_length) {
        return false;
    }
    const char* begin = m_text.get() + m_pos;
    const std::size_t rest = m_length - m_pos;
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
    if (m_pos >= m_length) {
        return LineKind::End;
    }
    const std::size_t rest = m_length - m_pos;
    const auto* begin = m_text.get() + m_pos;
    const auto* newline = static_cast<const char*>(std::memchr(begin, '\n', rest));
    const std::size_t length = newline ? static_cast<std::size_t>(newline - begin) : rest;
    if (std::memchr(begin, '"', length) != nullptr) {
        return LineKind::Quoted;
    }
    NextLine(line);
    return LineKind::Line;
}

std::size_t CTextFile::NextCsvRecord(std::vector<std::string>& fields) {
    if (m_pos >= m_length) {
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
    const std::size_t end = m_length;
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
    FailAt(m_reportLine, what);
}

void CTextFile::FailAt(std::uint32_t line, const std::string& what) const {
    ThrowDataError(m_path.string() + ", line " + std::to_string(line) + ": " + what);
}

void CTextFile::Release() {
    m_text.reset();
    m_length = 0;
    m_pos = 0;
}

} // namespace quillory::data
