#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "Layout.h"
#include "RatingLines.h"
#include "RatingRecord.h"

namespace quillory::data {

class CMovieLookup;
class CTextFile;

// How the ratings are cut up and on how many threads they are parsed; the result does not depend on either.
struct RatingsParsing {
    unsigned threads = 0;       // 0: LoadingThreads()
    std::size_t chunkBytes = 0; // 0: a few pieces per thread, the whole text on one thread
    // When set, called on the calling thread with (work done, all the work) at least every 50 ms while the
    // pieces are read, the last time with all of it done; the work's unit is the parser's own.
    std::function<void(std::size_t, std::size_t)> progress;
};

// Reads the ratings of `file` in `layout` against the catalogue, in file order; `lines` receives each rating's line
// number. Every field is checked: the first malformed line, or a movie the catalogue lacks, fails the file with its
// line number. Users are left unnumbered (see NumberUsersAndCheckPairs). The text's memory is partly given back as
// it is read: the file's text is not to be read after this (but for Release).
std::vector<RatingRecord> ParseRatings(CTextFile& file, Layout layout, const CMovieLookup& lookup, CRatingLines& lines,
                                       const RatingsParsing& parsing = {});

} // namespace quillory::data
