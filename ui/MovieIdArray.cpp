#include "MovieIdArray.h"

#include <stdexcept>
#include <string>

namespace {

void CheckPosition(int position, int size) {
    if (position < 0 || position >= size) {
        throw std::out_of_range("movie id position " + std::to_string(position) + " outside 0.." +
                                std::to_string(size - 1));
    }
}

} // namespace

void MovieIdArray::SetSize(int size) {
    m_ids.resize(size > 0 ? static_cast<std::size_t>(size) : 0, 0);
}

std::int32_t MovieIdArray::GetAt(int position) const {
    CheckPosition(position, GetSize());
    return m_ids[static_cast<std::size_t>(position)];
}

void MovieIdArray::SetAt(int position, std::int32_t id) {
    CheckPosition(position, GetSize());
    m_ids[static_cast<std::size_t>(position)] = id;
}
