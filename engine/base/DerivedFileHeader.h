#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ByteReader.h"
#include "CacheFileReader.h"
#include "Checksum.h"

// The frame every derived file shares (the data snapshot, the ratings' times, the model and ranking caches):
//
//   magic (8 bytes), version (u32), the keys (each a u64 length and its bytes: what the file was made from, such as
//   the data's fingerprint), the file's counts (a fixed number of bytes of its own), the body, and a checksum (u64,
//   Checksum.h) of everything before it.
//
// A file's own code puts its counts and body and reads them back; the frame is read and written here alone.
namespace quillory {

class CByteWriter;

// Which derived file: its magic and the version of its layout.
struct DerivedFileFormat {
    std::string_view magic; // 8 bytes
    std::uint32_t version = 0;
};

// Writes the file `path` (WriteCacheFile: a temporary synced and renamed over it, only where that is ours): the frame
// of `format` with these keys, what `fill` puts as counts and body, and the checksum. Throws as WriteCacheFile does.
void WriteDerivedFile(const std::filesystem::path& path, const DerivedFileFormat& format,
                      std::initializer_list<std::string_view> keys, const std::function<void(CByteWriter&)>& fill);

// What a key read from a file must be: exactly a text the reader expects, or any text up to a length.
struct DerivedKey {
    static DerivedKey Exactly(std::string_view text) { return {text, true, kMaxKeySize}; }
    static DerivedKey AnyUpTo(std::uint64_t size) { return {{}, false, size}; }

    // The longest key any file may hold: fingerprints and settings take far less.
    static constexpr std::uint64_t kMaxKeySize = std::uint64_t{1} << 20;
    std::string_view expected;
    bool exact = false;
    std::uint64_t maxSize = 0;
};

// Reads a derived file: its frame first, checked before anything is sized from the file, then the body, every part
// added to the checksum on its way, and last the checksum. Never throws for a bad file.
class CDerivedFileReader {
public:
    // Opens the file as CCacheFileReader does: false unless it is a regular file of the user's own.
    bool Open(const std::filesystem::path& path);
    // The file's length in bytes.
    std::uint64_t Size() const { return m_file.Size(); }
    // Reads the header: the magic and version of `format`, one key as each of `keys` requires, and `countsSize`
    // bytes of counts. False unless all are there and as required, with room for the checksum after them.
    bool ReadHeader(const DerivedFileFormat& format, std::initializer_list<DerivedKey> keys, std::size_t countsSize);
    // The k-th key as read.
    const std::string& Key(std::size_t k) const { return m_keys[k]; }
    // The counts' bytes, to be read in the order they were put.
    CByteReader Counts() const;
    std::uint64_t HeaderSize() const { return m_header.size(); }
    // The bytes between the header and the checksum.
    std::uint64_t BodySize() const { return Size() - HeaderSize() - sizeof(std::uint64_t); }
    // The body, read from the file as it is asked for (never past its end); ReadHeader must have succeeded.
    CByteReader& Body();
    // Whether the body was read to its end and the checksum that ends the file is that of everything before it.
    bool ChecksumRight();

private:
    bool ReadMore(std::size_t size);

    CCacheFileReader m_file;
    std::vector<unsigned char> m_header;
    std::vector<std::string> m_keys;
    std::size_t m_countsAt = 0;
    CChecksum m_sum;
    std::optional<CByteReader> m_body;
};

} // namespace quillory
