#pragma once

#include <filesystem>

#include "SyntheticData.h"

namespace quillory::tools {

// Writes u.item, u.data and files.txt as GenerateSyntheticData does, but users choose what they rate by taste, as
// people do in public data. Each movie has one to three of the layout's 19 genres and a release year (most of them
// recent), and a popularity that follows a power law. Each user likes a few genres and eras (weights drawn sparse,
// so that two users' tastes differ much) and takes some of his movies from what is popular whatever its kind: each
// movie he rates is either one of the popular ones or, more often, a popular one of a genre and era he likes. His
// stars follow the same taste (a movie of a kind he likes gets more), the movie's and his own bias, a latent-factor
// part of rank `factors`, and noise. The same settings give the same bytes.
void GenerateTasteData(const SyntheticDataSettings& settings, const std::filesystem::path& folder);

} // namespace quillory::tools
