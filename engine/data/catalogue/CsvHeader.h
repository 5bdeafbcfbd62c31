#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillory::data {

class CTextFile;

// Reads the header record of a CSV file and checks it names the expected columns.
void ExpectCsvHeader(CTextFile& file, std::vector<std::string>& fields, std::span<const std::string_view> names);

} // namespace quillory::data
