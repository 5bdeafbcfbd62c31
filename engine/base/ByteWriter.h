#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace quillory {

// Builds a cache file's bytes in memory. Values are kept in the machine's own byte order: the files never leave the
// computer that wrote them, and the header's counts and the checksum refuse anything else.
class CByteWriter {
public:
    CByteWriter() = default;
    // Hands the bytes on to `drain` in order instead, a block at a time (large parts straight from where they are),
    // so that a large file is never held whole; Flush hands on the rest.
    explicit CByteWriter(std::function<void(const unsigned char*, std::size_t)> drain) : m_drain(std::move(drain)) {}

    void Put(const void* data, std::size_t size);
    template <class T> void PutValue(const T& value) { Put(&value, sizeof value); }
    template <class T> void PutVector(const std::vector<T>& values) { Put(values.data(), values.size() * sizeof(T)); }
    void Flush();
    std::vector<unsigned char>& Bytes() { return m_bytes; }

private:
    static constexpr std::size_t kBlock = std::size_t{1} << 16;
    std::vector<unsigned char> m_bytes;
    std::function<void(const unsigned char*, std::size_t)> m_drain;
};

} // namespace quillory
