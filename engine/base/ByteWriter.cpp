#include "ByteWriter.h"

#include <cstring>

namespace quillory {

void CByteWriter::Put(const void* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    if (size >= kBlock) {
        Flush();
        m_drain(static_cast<const unsigned char*>(data), size);
        return;
    }
    const std::size_t at = m_bytes.size();
    m_bytes.resize(at + size);
    std::memcpy(m_bytes.data() + at, data, size);
    if (m_bytes.size() >= kBlock) {
        Flush();
    }
}

void CByteWriter::Flush() {
    if (!m_bytes.empty()) {
        m_drain(m_bytes.data(), m_bytes.size());
        m_bytes.clear();
    }
}

} // namespace quillory
