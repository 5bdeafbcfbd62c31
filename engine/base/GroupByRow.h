#pragma once

#include <cstddef>
#include <vector>

namespace quillory {

// Groups `count` elements into `rows` rows by a counting sort that keeps the elements' order within each row: the
// form every per-user and per-item table of ratings is built in. `rowOf(i)` names element i's row (below `rows`);
// `place(i, position)` is called for each element in order with its position in the grouped order. Returns the rows'
// starts: row r holds positions start[r] to start[r + 1] - 1, and start[rows] is `count`.
template <class Offset, class RowOf, class Place>
std::vector<Offset> GroupByRow(std::size_t count, std::size_t rows, RowOf&& rowOf, Place&& place) {
    std::vector<Offset> start(rows + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        ++start[static_cast<std::size_t>(rowOf(i)) + 1];
    }
    for (std::size_t r = 0; r < rows; ++r) {
        start[r + 1] += start[r];
    }
    std::vector<Offset> next(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < count; ++i) {
        place(i, next[static_cast<std::size_t>(rowOf(i))]++);
    }
    return start;
}

} // namespace quillory
