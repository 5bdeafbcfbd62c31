#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace quillory::tools {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) {
            std::fclose(f);
        }
    }
};
// A file the generator writes, closed when it goes out of scope.
using OutputFile = std::unique_ptr<std::FILE, FileCloser>;

inline OutputFile OpenForWriting(const std::filesystem::path& path) {
    OutputFile file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        throw std::runtime_error("cannot create " + path.string());
    }
    return file;
}

// Closes the file and throws when anything written to it, or the close itself, failed.
inline void Finish(OutputFile& file, const std::filesystem::path& path) {
    const bool failed = std::ferror(file.get()) != 0;
    const bool closeFailed = std::fclose(file.release()) != 0;
    if (failed || closeFailed) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

} // namespace quillory::tools
