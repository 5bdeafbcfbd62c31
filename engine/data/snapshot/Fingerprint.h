#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Manifest.h"

// What identifies the data files' contents, so that derived files made from them are used only while the files are
// unchanged: the layout, and a hash and the length of every data file's bytes.
namespace quillory::data {

// The pieces of a data set's fingerprint: "format:<format>;", then "<role>:<hash as 16 hex digits>:<size>;" for each
// data file in the order they are read. The text reader and FingerprintDataFiles build it alike.
std::string FingerprintStart(const std::string& format);
std::string FingerprintPart(std::string_view role, std::uint64_t hash, std::uint64_t size);

// The data files' fingerprint, the same string LoadDataSet gives, computed by hashing the files' bytes without
// parsing them (a pass at memory speed). Also the files' lengths, which bound any snapshot of them.
struct DataFingerprint {
    std::string text;
    std::uint64_t bytes = 0;        // all the files together
    std::uint64_t moviesBytes = 0;  // the catalogue
    std::uint64_t ratingsBytes = 0; // the ratings
};
// nullopt when a file is not a regular file or changes while it is read: the caller then loads the text, whose
// reader reports what is wrong.
std::optional<DataFingerprint> FingerprintDataFiles(const Manifest& manifest);
// The data files' lengths alone (text left empty), as FingerprintDataFiles gives them, without reading the files;
// nullopt where it would give nullopt for a file that is not a regular file.
std::optional<DataFingerprint> DataFileSizes(const Manifest& manifest);

} // namespace quillory::data
