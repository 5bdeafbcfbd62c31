#pragma once

#include <cstdint>
#include <vector>

// Movie identifiers by list position: a growable array of 32-bit values whose new elements start at 0.
class MovieIdArray {
public:
    MovieIdArray() = default;

    int GetSize() const { return static_cast<int>(m_ids.size()); }
    // Afterwards exactly `size` elements (a negative size counts as 0); elements that did not exist before are 0.
    void SetSize(int size);
    // Element access, checked: a position outside 0..GetSize()-1 throws std::out_of_range.
    std::int32_t GetAt(int position) const;
    void SetAt(int position, std::int32_t id);

private:
    std::vector<std::int32_t> m_ids;
};
