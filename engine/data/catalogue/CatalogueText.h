#pragma once

#include <string_view>

namespace quillory::data {

class CTextFile;

// Checks a field of the catalogue, failing the file's current line. Catalogue text is shown on one line of a list:
// it must be UTF-8 and free of control characters (C1 and the Unicode line separators included: a list draws them as
// breaks or boxes). A carriage return that does not end a line is what a broken line end leaves behind, so it is
// named as such. TAB is a blank, and a line break inside a quoted CSV field is legal CSV.
void CheckCatalogueText(const CTextFile& file, std::string_view text);

} // namespace quillory::data
