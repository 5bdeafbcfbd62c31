#pragma once

#include <string>

namespace quillory::data {

// The three layouts of data files the engine reads (see docs/data-files.md).
enum class Layout { MovieLens100k, MovieLensCsv, MovieTweetings };

// The layout a manifest's format names; CMException for a format that is none of them.
Layout LayoutOf(const std::string& format);

} // namespace quillory::data
