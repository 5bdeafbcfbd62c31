// The ratings parser's inner loop. Almost every line of a real file is plain: digits and separators, a rating on
// its scale, a known movie. Those are read in one pass over their bytes, each field's digits summed as they are met;
// any other line (blank, CRLF at the very end, leading zeros, a fraction like 4.50, or a real fault) is read again
// field by field by the same code that words the errors, so that both ways give the same record or the same message.
#include "RatingPiece.h"

#include <bit>
#include <cstring>
#include <limits>
#include <string_view>

#include "Fields.h"
#include "LineErrors.h"
#include "MovieLookup.h"
#include "RatingFields.h"
#include "StarScale.h"

namespace quillory::data {

namespace {

// What a piece's field reader throws: the failure is tied to its line once the loop below catches it.
struct PieceLineError {
    std::string what;
};

class CPieceErrors final : public CLineErrors {
public:
    [[noreturn]] void Fail(const std::string& what) const override { throw PieceLineError{what}; }
};

// One to `maxDigits` decimal digits; false for none or more. Nothing else is taken: no sign, no blank.
bool ReadDigits(const char*& p, const char* end, std::ptrdiff_t maxDigits, std::uint64_t& value) {
    const char* start = p;
    std::uint64_t v = 0;
    while (p != end && static_cast<unsigned char>(*p - '0') < 10) {
        v = v * 10 + static_cast<unsigned char>(*p - '0');
        ++p;
    }
    value = v;
    return p != start && p - start <= maxDigits;
}

// Eight digits at once, when the eight bytes at `p` are all digits: the timestamps' ten digits would otherwise be a
// chain of ten dependent multiply-adds, the longest wait of a line. Bytes are taken in little-endian order.
bool ReadEightDigits(const char* p, std::uint64_t& value) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, p, 8);
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL;
    constexpr std::uint64_t kZeros = 0x3030303030303030ULL;
    if ((chunk & kHigh) != kZeros || ((chunk + 0x0606060606060606ULL) & kHigh) != kZeros) {
        return false;
    }
    chunk -= kZeros;
    // Pairs of digits, then fours, then the eight: each step multiplies the higher half by a power of ten.
    chunk = (chunk * 10) + (chunk >> 8);
    value = (((chunk & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
             (((chunk >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
            32;
    return true;
}

// A timestamp: one to 18 digits (which always fit 64 bits), the first eight taken at once where there are eight.
bool ReadTimestamp(const char*& p, const char* end, std::uint64_t& value) {
    const char* start = p;
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        if (end - p >= 8 && ReadEightDigits(p, v)) {
            p += 8;
        }
    }
    while (p != end && static_cast<unsigned char>(*p - '0') < 10) {
        v = v * 10 + static_cast<unsigned char>(*p - '0');
        ++p;
    }
    value = v;
    return p != start && p - start <= 18;
}

template <Layout L> bool ReadSeparator(const char*& p, const char* end) {
    // Known when compiled: the comparison is one or two byte compares.
    constexpr std::string_view kSeparator = Describe(L).ratingSeparator;
    if (end - p < static_cast<std::ptrdiff_t>(kSeparator.size())) {
        return false;
    }
    for (std::size_t i = 0; i < kSeparator.size(); ++i) {
        if (p[i] != kSeparator[i]) {
            return false;
        }
    }
    p += kSeparator.size();
    return true;
}

// A whole number id from 1 to 2^31 - 1, in at most ten digits (more, with leading zeros, go the long way).
bool ReadId(const char*& p, const char* end, int& id) {
    std::uint64_t value = 0;
    if (!ReadDigits(p, end, 10, value) || value == 0 || value > std::numeric_limits<int>::max()) {
        return false;
    }
    id = static_cast<int>(value);
    return true;
}

// The rating in its usual spelling: "1".."5"; "0".."10"; "0.5".."5.0" as one digit and an optional ".0" or ".5".
template <RatingScale S> bool ReadPlainRating(const char*& p, const char* end, RatingRecord& record) {
    if (p == end) {
        return false;
    }
    const auto digit = static_cast<unsigned char>(*p - '0');
    if constexpr (S == RatingScale::OneToFive) {
        if (digit < 1 || digit > 5) {
            return false;
        }
        ++p;
        SetFiveStars(digit, record);
    } else if constexpr (S == RatingScale::ZeroToTen) {
        if (digit > 9) {
            return false;
        }
        ++p;
        int rating = digit;
        if (digit == 1 && p != end && *p == '0') {
            ++p;
            rating = 10;
        }
        SetTenPoints(rating, record);
    } else {
        static_assert(S == RatingScale::HalfStars);
        if (digit > 5) {
            return false;
        }
        ++p;
        double rating = digit;
        if (p != end && *p == '.') {
            if (end - p < 2 || (p[1] != '0' && p[1] != '5')) {
                return false;
            }
            rating += p[1] == '5' ? 0.5 : 0.0;
            p += 2;
        }
        if (rating < 0.5 || rating > 5.0) {
            return false;
        }
        SetHalfStars(rating, record);
    }
    return true;
}

// LF, CRLF, or the end of the last line.
bool ReadLineEnd(const char*& p, const char* end) {
    if (p == end) {
        return true;
    }
    if (*p == '\n') {
        ++p;
        return true;
    }
    if (*p == '\r' && end - p >= 2 && p[1] == '\n') {
        p += 2;
        return true;
    }
    return false;
}

// A plain line into `record`: the start of the next line, or nullptr when the line is not plain (`record` is then
// partly written).
template <Layout L>
const char* ReadPlainLine(const char* p, const char* end, const CMovieLookup& lookup, RatingRecord& record) {
    std::uint64_t timestamp = 0;
    if (!ReadId(p, end, record.user) || !ReadSeparator<L>(p, end) || !ReadId(p, end, record.movie) ||
        !ReadSeparator<L>(p, end) || !ReadPlainRating<Describe(L).scale>(p, end, record) || !ReadSeparator<L>(p, end) ||
        !ReadTimestamp(p, end, timestamp) || !ReadLineEnd(p, end)) {
        return nullptr;
    }
    record.timestamp = static_cast<long long>(timestamp);
    record.item = lookup.Find(record.movie);
    record.userIndex = 0;
    return record.item == CMovieLookup::kNone ? nullptr : p;
}

// Any line, the long way: split at the separator, every field checked. False for an empty line, which is skipped.
bool ReadLineByFields(const LayoutDescription& layout, const char*& p, const char* end, const CMovieLookup& lookup,
                      RatingRecord& record) {
    const auto* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const char* lineEnd = newline == nullptr ? end : newline;
    std::string_view line(p, static_cast<std::size_t>(lineEnd - p));
    p = newline == nullptr ? end : newline + 1;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.empty()) {
        return false;
    }
    const CPieceErrors errors;
    FieldArray fields;
    const std::size_t count = Split(line, layout.ratingSeparator, fields);
    if (count != layout.columns.size()) {
        errors.Fail(RatingFieldCountText(layout, count));
    }
    record = ReadRatingFields(errors, layout, fields, lookup);
    return true;
}

template <Layout L>
std::optional<RatingLineFailure> ParseLines(std::string_view piece, const CMovieLookup& lookup, RatingRecord* records,
                                            std::vector<std::uint32_t>& blanks) {
    const char* p = piece.data();
    const char* const end = p + piece.size();
    std::uint32_t i = 0;
    try {
        for (; p != end; ++i) {
            if (const char* next = ReadPlainLine<L>(p, end, lookup, records[i])) {
                p = next;
            } else if (!ReadLineByFields(Describe(L), p, end, lookup, records[i])) {
                blanks.push_back(i);
            }
        }
    } catch (PieceLineError& error) {
        return RatingLineFailure{i, std::move(error.what)};
    }
    return std::nullopt;
}

} // namespace

std::optional<RatingLineFailure> ParseRatingPiece(std::string_view piece, Layout layout, const CMovieLookup& lookup,
                                                  RatingRecord* records, std::vector<std::uint32_t>& blanks) {
    switch (layout) {
    case Layout::MovieLens100k:
        return ParseLines<Layout::MovieLens100k>(piece, lookup, records, blanks);
    case Layout::MovieLensCsv:
        return ParseLines<Layout::MovieLensCsv>(piece, lookup, records, blanks);
    case Layout::MovieTweetings:
        return ParseLines<Layout::MovieTweetings>(piece, lookup, records, blanks);
    }
    return std::nullopt;
}

} // namespace quillory::data
