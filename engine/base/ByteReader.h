#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillory {

// Reads a cache file's bytes back. Every read is bounded by what is left, so a short or lying file fails a read
// instead of reading past its end or allocating what it claims.
class CByteReader {
public:
    CByteReader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Get(void* out, std::size_t size);
    template <class T> bool GetValue(T& value) { return Get(&value, sizeof value); }
    template <class T> bool GetVector(std::vector<T>& values, std::size_t count) {
        if (Left() / sizeof(T) < count) {
            return false;
        }
        values.resize(count);
        return Get(values.data(), count * sizeof(T));
    }
    bool GetText(std::string& text, std::size_t size);
    std::size_t Left() const { return m_size - m_pos; }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

} // namespace quillory
