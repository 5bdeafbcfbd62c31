#pragma once

#include <cstddef>
#include <vector>

namespace quillory {

// Builds a cache file's bytes in memory. Values are kept in the machine's own byte order: the files never leave the
// computer that wrote them, and the header's counts and the checksum refuse anything else.
class CByteWriter {
public:
    void Put(const void* data, std::size_t size);
    template <class T> void PutValue(const T& value) { Put(&value, sizeof value); }
    template <class T> void PutVector(const std::vector<T>& values) { Put(values.data(), values.size() * sizeof(T)); }
    std::vector<unsigned char>& Bytes() { return m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
};

} // namespace quillory
