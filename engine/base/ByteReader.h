#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillory {

class CCacheFileReader;
class CChecksum;

// Reads a cache file's bytes back. Every read is bounded by what is left, so a short or lying file fails a read
// instead of reading past its end or allocating what it claims.
class CByteReader {
public:
    CByteReader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    // Reads the next `size` bytes of `file` instead, each part straight where it goes, and adds them to `sum`: a
    // large file fills its arrays without a copy of it all in between. The caller compares the sum at the end.
    CByteReader(CCacheFileReader& file, std::size_t size, CChecksum& sum) : m_size(size), m_file(&file), m_sum(&sum) {}
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
    const unsigned char* m_data = nullptr;
    std::size_t m_size;
    std::size_t m_pos = 0;
    CCacheFileReader* m_file = nullptr;
    CChecksum* m_sum = nullptr;
};

} // namespace quillory
