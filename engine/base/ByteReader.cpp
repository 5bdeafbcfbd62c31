#include "ByteReader.h"

#include <cstring>

#include "CacheFileReader.h"
#include "Checksum.h"

namespace quillory {

bool CByteReader::Get(void* out, std::size_t size) {
    if (Left() < size) {
        return false;
    }
    if (m_file != nullptr) {
        if (!m_file->Read(out, size)) {
            return false;
        }
        m_sum->Add(static_cast<const unsigned char*>(out), size);
    } else if (size > 0) {
        std::memcpy(out, m_data + m_pos, size);
    }
    m_pos += size;
    return true;
}

bool CByteReader::GetText(std::string& text, std::size_t size) {
    if (Left() < size) {
        return false;
    }
    if (m_file != nullptr) {
        text.resize(size);
        return Get(text.data(), size);
    }
    text.assign(reinterpret_cast<const char*>(m_data + m_pos), size);
    m_pos += size;
    return true;
}

} // namespace quillory
