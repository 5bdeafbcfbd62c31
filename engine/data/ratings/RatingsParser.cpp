// The ratings file in any of the three layouts: one rating a line (a CSV record where the layout's ratings are CSV).
//
// Speed matters: 32 million ratings (800 MB of text) must load in a second or two. The text is cut into pieces of
// whole lines; the pieces' lines are counted, which gives every line its place in the result and its number, and
// then parsed on every core straight into those places, each piece's text given back once it is read. Empty lines
// leave a gap, closed at the end. Of several
// malformed lines the first in the file is reported, whichever thread found it, so the result and the message are
// those of a reading from the first line to the last.
#include "RatingsParser.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <string_view>

#include "ChunkThreads.h"
#include "CsvHeader.h"
#include "Fields.h"
#include "PrefaultPages.h"
#include "RatingFields.h"
#include "RatingLines.h"
#include "RatingPiece.h"
#include "TextChunks.h"
#include "TextFile.h"

namespace quillory::data {

namespace {

// Pieces of at least this size: smaller ones would spend more on their threads' hand-over than on their lines.
constexpr std::size_t kMinPieceBytes = std::size_t{1} << 20;

// A CSV ratings file whose ratings hold a quote: a quoted field may hold a line end, so lines are no longer records
// and the file is read in order, record by record.
std::vector<RatingRecord> ParseQuotedCsv(CTextFile& file, const LayoutDescription& layout, const CMovieLookup& lookup,
                                         CRatingLines& lines) {
    std::vector<RatingRecord> ratings;
    // Real rating lines hold 16 bytes or more; reserving for that many avoids regrowing millions of records.
    ratings.reserve(static_cast<std::size_t>(file.Size() / 16) + 16);
    FieldArray fields;
    std::vector<std::string> csvFields;
    FieldArray csvViews;
    std::string_view line;
    while (true) {
        std::size_t count = 0;
        const FieldArray* row = &fields;
        // Rating lines seldom hold quotes: split them in place, and take the full CSV reader only when they do.
        const CTextFile::LineKind kind = file.NextUnquotedLine(line);
        if (kind == CTextFile::LineKind::End) {
            break;
        }
        if (kind == CTextFile::LineKind::Line) {
            if (line.empty()) {
                continue;
            }
            count = Split(line, layout.ratingSeparator, fields);
        } else {
            count = file.NextCsvRecord(csvFields);
            if (count == 1 && csvFields[0].empty()) {
                continue;
            }
            for (std::size_t i = 0; i < std::min(count, kMaxFields); ++i) {
                csvViews[i] = csvFields[i];
            }
            row = &csvViews;
        }
        if (count != layout.columns.size()) {
            file.Fail(RatingFieldCountText(layout, count));
        }
        lines.Add(ratings.size(), file.LineNumber());
        ratings.push_back(ReadRatingFields(file, layout, *row, lookup));
    }
    return ratings;
}

// One piece for one thread; else a few pieces a thread, so that a thread slowed by other programs holds up the
// others by a small piece only.
std::size_t PieceBytes(const RatingsParsing& parsing, unsigned threads, std::size_t textBytes) {
    if (parsing.chunkBytes != 0) {
        return parsing.chunkBytes;
    }
    return threads == 1 ? textBytes : std::max(kMinPieceBytes, textBytes / (std::size_t{threads} * 8));
}

// Drops the places of the empty lines (`blanks`: of each piece, the indices of its empty lines; `first`: each
// piece's first place), keeping the order, and gives each rating left its line: place p is line firstLine + p.
void CloseGaps(std::vector<RatingRecord>& ratings, const std::vector<std::vector<std::uint32_t>>& blanks,
               const std::vector<std::size_t>& first, std::uint32_t firstLine, CRatingLines& lines) {
    std::size_t kept = 0;
    std::size_t from = 0; // the first place after the last gap
    for (std::size_t piece = 0; piece <= blanks.size(); ++piece) {
        const std::size_t gaps = piece < blanks.size() ? blanks[piece].size() : 1;
        for (std::size_t g = 0; g < gaps; ++g) {
            const std::size_t to = piece < blanks.size() ? first[piece] + blanks[piece][g] : ratings.size();
            if (to > from) {
                if (kept != from) {
                    std::copy(ratings.begin() + static_cast<std::ptrdiff_t>(from),
                              ratings.begin() + static_cast<std::ptrdiff_t>(to),
                              ratings.begin() + static_cast<std::ptrdiff_t>(kept));
                }
                lines.Add(kept, static_cast<std::uint32_t>(firstLine + from));
                kept += to - from;
            }
            from = to + 1;
        }
    }
    ratings.resize(kept);
}

} // namespace

std::vector<RatingRecord> ParseRatings(CTextFile& file, Layout layout, const CMovieLookup& lookup, CRatingLines& lines,
                                       const RatingsParsing& parsing) {
    lines = CRatingLines();
    const LayoutDescription& description = Describe(layout);
    if (description.csvRatings) {
        std::vector<std::string> header;
        ExpectCsvHeader(file, header, description.columns);
    }
    const std::string_view text = file.Rest();
    if (description.csvRatings && text.find('"') != std::string_view::npos) {
        return ParseQuotedCsv(file, description, lookup, lines);
    }
    // The lines before the text (a CSV header and any blank lines before it).
    const std::uint32_t linesBefore = file.LineNumber();

    const unsigned threads = parsing.threads != 0 ? parsing.threads : LoadingThreads();
    const std::size_t chunkBytes = PieceBytes(parsing, threads, text.size());
    const std::vector<std::size_t> bounds = ChunkBounds(text, chunkBytes);
    const std::size_t pieces = bounds.size() - 1;
    const auto piece = [&](std::size_t i) { return text.substr(bounds[i], bounds[i + 1] - bounds[i]); };

    // Each piece's first place: the lines of the pieces before it.
    std::vector<std::size_t> first(pieces + 1, 0);
    // Counting a piece's lines costs about a fifth of parsing it.
    const std::size_t work = 6 * pieces;
    const auto watch = [&](std::size_t before, std::size_t weight) -> std::function<void(std::size_t)> {
        if (!parsing.progress) {
            return {};
        }
        return [&parsing, work, before, weight](std::size_t ended) { parsing.progress(before + weight * ended, work); };
    };
    RunChunks(
        threads, pieces, [&](std::size_t i) { first[i + 1] = CountLines(piece(i)); }, watch(0, 1));
    for (std::size_t i = 0; i < pieces; ++i) {
        first[i + 1] += first[i];
    }

    // Sized without being written (a record's constructor leaves it unset): each piece's records get their memory
    // when its thread comes to it, and the piece's text is given back once it is read, so that the text and the
    // records are not held whole at once.
    std::vector<RatingRecord> ratings(first[pieces]);
    std::vector<std::vector<std::uint32_t>> blanks(pieces);
    std::vector<std::optional<RatingLineFailure>> failures(pieces);
    // Pieces after one that failed need not be read: its line comes first whatever they hold.
    std::atomic<std::size_t> firstFailed{pieces};
    RunChunks(
        threads, pieces,
        [&](std::size_t i) {
            if (i > firstFailed.load()) {
                return;
            }
            PrefaultPages(ratings.data() + first[i], (first[i + 1] - first[i]) * sizeof(RatingRecord));
            failures[i] = ParseRatingPiece(piece(i), layout, lookup, ratings.data() + first[i], blanks[i]);
            if (failures[i]) {
                std::size_t seen = firstFailed.load();
                while (i < seen && !firstFailed.compare_exchange_weak(seen, i)) {
                }
            } else if (pieces > 1) {
                ReleasePages(piece(i).data(), piece(i).size());
            }
        },
        watch(pieces, 5));
    for (std::size_t i = 0; i < pieces; ++i) {
        if (failures[i]) {
            file.FailAt(static_cast<std::uint32_t>(linesBefore + 1 + first[i] + failures[i]->line), failures[i]->what);
        }
    }
    CloseGaps(ratings, blanks, first, linesBefore + 1, lines);
    return ratings;
}

} // namespace quillory::data
