#include "DerivedFileHeader.h"

#include <cstring>

#include "ByteWriter.h"
#include "CacheFileWriter.h"

namespace quillory {

void WriteDerivedFile(const std::filesystem::path& path, const DerivedFileFormat& format,
                      std::initializer_list<std::string_view> keys, const std::function<void(CByteWriter&)>& fill) {
    WriteSummedCacheFile(path, [&](CByteWriter& out) {
        out.Put(format.magic.data(), format.magic.size());
        out.PutValue(format.version);
        for (const std::string_view key : keys) {
            out.PutValue(static_cast<std::uint64_t>(key.size()));
            out.Put(key.data(), key.size());
        }
        fill(out);
    });
}

bool CDerivedFileReader::Open(const std::filesystem::path& path) {
    m_header.clear();
    m_keys.clear();
    m_body.reset();
    return m_file.Open(path);
}

bool CDerivedFileReader::ReadMore(std::size_t size) {
    const std::size_t at = m_header.size();
    if (Size() < at || Size() - at < size) {
        return false;
    }
    m_header.resize(at + size);
    return m_file.Read(m_header.data() + at, size);
}

bool CDerivedFileReader::ReadHeader(const DerivedFileFormat& format, std::initializer_list<DerivedKey> keys,
                                    std::size_t countsSize) {
    std::uint32_t version = 0;
    if (!ReadMore(format.magic.size() + sizeof version) ||
        std::memcmp(m_header.data(), format.magic.data(), format.magic.size()) != 0) {
        return false;
    }
    std::memcpy(&version, m_header.data() + format.magic.size(), sizeof version);
    if (version != format.version) {
        return false;
    }
    // Each key's length is checked against what it may be before its bytes are read.
    for (const DerivedKey& key : keys) {
        std::uint64_t size = 0;
        if (!ReadMore(sizeof size)) {
            return false;
        }
        std::memcpy(&size, m_header.data() + m_header.size() - sizeof size, sizeof size);
        if (size > key.maxSize || (key.exact && size != key.expected.size()) ||
            !ReadMore(static_cast<std::size_t>(size))) {
            return false;
        }
        std::string text(reinterpret_cast<const char*>(m_header.data() + m_header.size() - size),
                         static_cast<std::size_t>(size));
        if (key.exact && text != key.expected) {
            return false;
        }
        m_keys.push_back(std::move(text));
    }
    m_countsAt = m_header.size();
    if (!ReadMore(countsSize) || Size() - m_header.size() < sizeof(std::uint64_t)) {
        return false;
    }
    m_sum = CChecksum();
    m_sum.Add(m_header.data(), m_header.size());
    m_body.emplace(m_file, static_cast<std::size_t>(BodySize()), m_sum);
    return true;
}

CByteReader CDerivedFileReader::Counts() const {
    return {m_header.data() + m_countsAt, m_header.size() - m_countsAt};
}

CByteReader& CDerivedFileReader::Body() {
    return *m_body;
}

bool CDerivedFileReader::ChecksumRight() {
    std::uint64_t stored = 0;
    return m_body && m_body->Left() == 0 && m_file.Read(&stored, sizeof stored) && m_sum.Finish() == stored;
}

} // namespace quillory
