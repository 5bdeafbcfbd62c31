#include "ByteReader.h"

#include <cstring>

namespace quillory {

bool CByteReader::Get(void* out, std::size_t size) {
    if (Left() < size) {
        return false;
    }
    if (size > 0) {
        std::memcpy(out, m_data + m_pos, size);
    }
    m_pos += size;
    return true;
}

bool CByteReader::GetText(std::string& text, std::size_t size) {
    if (Left() < size) {
        return false;
    }
    text.assign(reinterpret_cast<const char*>(m_data + m_pos), size);
    m_pos += size;
    return true;
}

} // namespace quillory
