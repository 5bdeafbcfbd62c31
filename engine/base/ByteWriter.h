#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace quillory {

// Puts a cache file's bytes and hands them on to `drain` in order, a block at a time (large parts straight from where
// they are), so that a large file is never held whole; Flush hands on the rest. Values are kept in the machine's own
// byte order: the files never leave the computer that wrote them, and the header's counts and the checksum refuse
// anything else.
class CByteWriter {
public:
    explicit CByteWriter(std::function<void(const unsigned char*, std::size_t)> drain) : m_drain(std::move(drain)) {}

    void Put(const void* data, std::size_t size);
    template <class T> void PutValue(const T& value) { Put(&value, sizeof value); }
    template <class T> void PutVector(const std::vector<T>& values) { Put(values.data(), values.size() * sizeof(T)); }
    void Flush();

private:
    static constexpr std::size_t kBlock = std::size_t{1} << 16;
    std::vector<unsigned char> m_bytes;
    std::function<void(const unsigned char*, std::size_t)> m_drain;
};

} // namespace quillory
