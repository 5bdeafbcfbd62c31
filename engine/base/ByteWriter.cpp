#include "ByteWriter.h"

#include <cstring>

namespace quillory {

void CByteWriter::Put(const void* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    const std::size_t at = m_bytes.size();
    m_bytes.resize(at + size);
    std::memcpy(m_bytes.data() + at, data, size);
}

} // namespace quillory
