#pragma once

#include <string>

namespace quillory::data {

// Where the reader of a field reports a malformed one: the current line of a file read in order, or a line of a
// chunk of the ratings parsed on another thread, whose number is known only once the chunks before it are counted.
class CLineErrors {
public:
    // Throws; what it throws names the file and the line, now or once the chunk's place is known.
    [[noreturn]] virtual void Fail(const std::string& what) const = 0;

protected:
    CLineErrors() = default;
    CLineErrors(const CLineErrors&) = default;
    CLineErrors& operator=(const CLineErrors&) = default;
    ~CLineErrors() = default;
};

} // namespace quillory::data
