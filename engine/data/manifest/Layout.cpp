#include "Layout.h"

#include "EngineErrors.h"
#include "QuoteExcerpt.h"

namespace quillory::data {

Layout LayoutOf(const std::string& format) {
    if (format == "movielens-100k") {
        return Layout::MovieLens100k;
    }
    if (format == "movielens-csv") {
        return Layout::MovieLensCsv;
    }
    if (format == "movietweetings") {
        return Layout::MovieTweetings;
    }
    ThrowDataError("The data format " + QuoteExcerpt(format) +
                   " is not known; expected movielens-100k, movielens-csv or movietweetings.");
}

} // namespace quillory::data
