#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "MovieRecord.h"

namespace quillory::data {

class CLineErrors;

// The genres of a catalogue as its reader meets them: each name is given a bit of GenreSet when first seen, and
// Finish puts the table in its final order (see GenreSet).
class CGenreTable {
public:
    // The bit of the genre `name`, taken into the table when new. A name that would be the table's 65th fails the
    // current line through `errors`.
    GenreSet BitOf(const CLineErrors& errors, std::string_view name);

    // The genres of a list "A|B|C", blanks around each name dropped. An empty list, or "(no genres listed)" alone,
    // is no genre; a genre listed twice counts once. An empty name ("A||B", a "|" at either end) or
    // "(no genres listed)" beside a genre fails the current line through `errors`.
    GenreSet ReadList(const CLineErrors& errors, std::string_view list);

    // The table in its final order: the names no movie of `movies` has are dropped, the rest sorted by their bytes,
    // and every movie's genre set renumbered to match. The table is empty afterwards.
    std::vector<std::string> Finish(std::vector<MovieRecord>& movies);

private:
    // The names' bits are found in a small open-addressed table by a hash of a name's length and three of its
    // bytes: genre names are few and short, and a general string hash and its buckets cost a catalogue line more
    // than all its other fields.
    static constexpr std::size_t kSlots = 4 * kMaxGenres;
    static std::size_t SlotOf(std::string_view name);
    // Takes `name` into the table at the empty `slot`.
    GenreSet Add(const CLineErrors& errors, std::string_view name, std::size_t slot);

    std::vector<std::string> m_names;           // by bit
    std::array<std::uint8_t, kSlots> m_slots{}; // a name's bit + 1; 0 for an empty slot
};

} // namespace quillory::data
