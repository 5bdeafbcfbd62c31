#include "GenreTable.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "LineErrors.h"
#include "QuoteExcerpt.h"
#include "TrimBlanks.h"

namespace quillory::data {

namespace {

// How movies.csv says that a movie has no genres.
constexpr std::string_view kNoGenres = "(no genres listed)";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::size_t CGenreTable::SlotOf(std::string_view name) {
    const auto byte = [&](std::size_t i) { return std::uint32_t{static_cast<unsigned char>(name[i])}; };
    const std::uint32_t key = static_cast<std::uint32_t>(name.size()) ^ (byte(0) << 8U) ^
                              (byte(name.size() / 2) << 16U) ^ (byte(name.size() - 1) << 24U);
    // The product's top bits, which every bit of the key reaches.
    return ((key * 0x9E3779B1U) >> 24U) & (kSlots - 1);
}

GenreSet CGenreTable::BitOf(const CLineErrors& errors, std::string_view name) {
    std::size_t slot = SlotOf(name);
    for (; m_slots[slot] != 0; slot = (slot + 1) & (kSlots - 1)) {
        const std::size_t bit = m_slots[slot] - 1U;
        if (m_names[bit] == name) {
            return GenreSet{1} << bit;
        }
    }
    return Add(errors, name, slot);
}

GenreSet CGenreTable::Add(const CLineErrors& errors, std::string_view name, std::size_t slot) {
    if (m_names.size() == kMaxGenres) {
        errors.Fail(
            fmt::format("expected at most {} different genres in the catalogue; the genre {} would be one more.",
                        kMaxGenres, QuoteExcerpt(name)));
    }
    m_slots[slot] = static_cast<std::uint8_t>(m_names.size() + 1);
    m_names.emplace_back(name);
    return GenreSet{1} << (m_names.size() - 1);
}

GenreSet CGenreTable::ReadList(const CLineErrors& errors, std::string_view list) {
    GenreSet set = 0;
    const char* p = list.data();
    const char* const end = p + list.size();
    while (true) {
        const auto* bar = static_cast<const char*>(std::memchr(p, '|', static_cast<std::size_t>(end - p)));
        std::string_view name(p, static_cast<std::size_t>((bar == nullptr ? end : bar) - p));
        // Blanks to drop, or no name at all: seldom, so looked at only when the ends or the length say so.
        if (name.empty() || IsBlank(name.front()) || IsBlank(name.back()) || name.size() == kNoGenres.size()) {
            name = TrimBlanks(name);
            if (name.empty() || name == kNoGenres) {
                if (bar == nullptr && p == list.data()) {
                    return 0; // the whole list
                }
                errors.Fail(
                    name.empty()
                        ? "expected genres separated by \"|\", found an empty genre in " + QuoteExcerpt(list) + "."
                        : "expected genres, or \"(no genres listed)\" alone, found " + QuoteExcerpt(list) + ".");
            }
        }
        set |= BitOf(errors, name);
        if (bar == nullptr) {
            return set;
        }
        p = bar + 1;
    }
}

std::vector<std::string> CGenreTable::Finish(std::vector<MovieRecord>& movies) {
    GenreSet used = 0;
    for (const MovieRecord& movie : movies) {
        used |= movie.genres;
    }
    // The bits of the names kept, in their final order.
    std::vector<std::size_t> order;
    for (std::size_t bit = 0; bit < m_names.size(); ++bit) {
        if (((used >> bit) & 1) != 0) {
            order.push_back(bit);
        }
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return m_names[a] < m_names[b]; });
    std::vector<std::string> names;
    names.reserve(order.size());
    std::array<GenreSet, kMaxGenres> renumbered{};
    for (std::size_t i = 0; i < order.size(); ++i) {
        renumbered[order[i]] = GenreSet{1} << i;
        names.push_back(std::move(m_names[order[i]]));
    }
    // When every name is kept in the order it came (u.item's, for one), the sets stand as they are.
    if (order.size() != m_names.size() || !std::is_sorted(order.begin(), order.end())) {
        for (MovieRecord& movie : movies) {
            GenreSet set = 0;
            for (GenreSet rest = movie.genres; rest != 0; rest &= rest - 1) {
                set |= renumbered[static_cast<std::size_t>(std::countr_zero(rest))];
            }
            movie.genres = set;
        }
    }
    m_names.clear();
    m_slots.fill(0);
    return names;
}

} // namespace quillory::data
