#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quillory::data {

// Opens `path` for reading, refusing anything but a regular file. The open itself never waits: a named pipe or a
// device would otherwise hold the caller until something writes to it. Returns the descriptor (the caller closes it)
// and the file's size, or -1 with `reason` saying why in words ("it is a named pipe (FIFO), not a regular file").
int OpenRegularFile(const std::filesystem::path& path, std::uint64_t& size, std::string& reason);

} // namespace quillory::data
