#pragma once

#include <string>
#include <string_view>

// How a catalogue title becomes the movie's name and year.
namespace quillory::data {

// The title without a trailing " (YYYY)" and with a trailing ", The", ", A" or ", An" moved to the front:
// "Usual Suspects, The (1995)" gives "The Usual Suspects".
std::string MovieNameOf(std::string_view title);

// The four digits of a trailing " (YYYY)", else empty.
std::string YearOf(std::string_view title);

} // namespace quillory::data
