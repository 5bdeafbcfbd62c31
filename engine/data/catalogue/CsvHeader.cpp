#include "CsvHeader.h"

#include "EngineErrors.h"
#include "TextFile.h"

namespace quillory::data {

void ExpectCsvHeader(CTextFile& file, std::vector<std::string>& fields, std::span<const std::string_view> names) {
    std::string expected;
    for (const std::string_view name : names) {
        if (!expected.empty()) {
            expected += ',';
        }
        expected.append(name);
    }
    std::size_t count = 0;
    while ((count = file.NextCsvRecord(fields)) == 1 && fields[0].empty()) {
    }
    if (count == 0) {
        ThrowDataError(file.Path().string() + ": the file is empty; expected the header line " + expected + ".");
    }
    bool ok = count == names.size();
    std::size_t i = 0;
    for (const std::string_view name : names) {
        ok = ok && fields[i++] == name;
    }
    if (!ok) {
        file.Fail("expected the header line " + expected + ".");
    }
}

} // namespace quillory::data
