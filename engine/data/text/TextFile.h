#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "LineErrors.h"

namespace quillory::data {

// A data file read whole into memory and walked line by line. Lines end with LF or CRLF; a UTF-8 byte-order mark at
// the start is skipped. Errors name the file and the current line.
class CTextFile : public CLineErrors {
public:
    // Reads the whole file; `role` says what it is in messages ("ratings file"). Throws CMException naming the file
    // when it cannot: the path is no regular file, cannot be read, or is larger than the memory can hold.
    CTextFile(const std::filesystem::path& path, std::string role);

    // Replaces the contents by their UTF-8 form, reading them as Latin-1 (ISO 8859-1).
    void ConvertLatin1ToUtf8();

    // The contents not yet read (after any byte-order mark).
    std::string_view Rest() const { return Text().substr(m_pos); }

    // True when the file began with a UTF-8 byte-order mark.
    bool HadByteOrderMark() const { return m_hadBom; }

    // The next line without its line end; false at the end of the file.
    bool NextLine(std::string_view& line);

    enum class LineKind { End, Line, Quoted };
    // The next line like NextLine, unless it holds a double quote: then Quoted, and the line is left for
    // NextCsvRecord.
    LineKind NextUnquotedLine(std::string_view& line);

    // The next CSV record (RFC 4180: fields separated by commas, a quoted field may hold commas, line ends and
    // doubled quotes). `fields` is reused so that no allocation happens once its strings have grown. Returns the
    // number of fields, 0 at the end of the file. The current line is the record's first line.
    std::size_t NextCsvRecord(std::vector<std::string>& fields);

    // The 1-based number of the line last returned (of a CSV record: its first line).
    std::uint32_t LineNumber() const { return m_reportLine; }
    const std::filesystem::path& Path() const { return m_path; }
    // The bytes as read (after any conversion); the fingerprint hashes the bytes before conversion.
    std::uint64_t ContentHash() const { return m_hash; }
    std::uint64_t Size() const { return m_size; }

    // Throws CMException: "<file>, line <n>: <what>".
    [[noreturn]] void Fail(const std::string& what) const override;
    // The same for line `line`, which need not be the current one.
    [[noreturn]] void FailAt(std::uint32_t line, const std::string& what) const;

    // Frees the contents (the file is done with).
    void Release();

private:
    std::string_view Text() const { return {m_text.get(), m_length}; }
    void Read(int fd, std::uint64_t expected);

    std::filesystem::path m_path;
    std::string m_role;
    // Not a std::string: that would write zeros over hundreds of megabytes only to read the file over them.
    std::unique_ptr<char[]> m_text;
    std::size_t m_length = 0;
    std::size_t m_pos = 0;
    std::uint32_t m_lineNumber = 0; // physical lines consumed
    std::uint32_t m_reportLine = 0; // the line errors name: the current line or the current record's first line
    std::uint64_t m_hash = 0;
    std::uint64_t m_size = 0;
    bool m_hadBom = false;
};

} // namespace quillory::data
