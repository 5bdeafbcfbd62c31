#pragma once

#include <filesystem>
#include <string_view>

// The files the engine derives from the data and keeps for later starts. Each is named after the cache base (the
// store's path, or its name in the user's cache folder) with a suffix of its own; this is the one list of them, so
// that whatever writes, reads or guards a derived file knows every one.
namespace quillory {

enum class DerivedFile { Snapshot, Times, Model, Ranking };

struct DerivedFileName {
    DerivedFile file;
    std::string_view suffix; // after the cache base
    std::string_view what;   // the file as messages name it
};

// Every derived file, in the order a cold start writes them.
inline constexpr DerivedFileName kDerivedFiles[] = {
    {DerivedFile::Snapshot, ".snapshot", "the data snapshot"},
    {DerivedFile::Times, ".times", "the ratings' times file"},
    {DerivedFile::Model, ".model", "the model cache"},
    {DerivedFile::Ranking, ".ranking", "the ranking cache"},
};

// The path of `file` for this cache base: the base followed by the file's suffix.
std::filesystem::path DerivedFilePath(const std::filesystem::path& cacheBase, DerivedFile file);

} // namespace quillory
