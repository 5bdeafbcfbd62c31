#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillory::model {
class CRandom;
}

namespace quillory::tools {

// What to generate: a catalogue and ratings in the movielens-100k layout (u.item, u.data, files.txt).
struct SyntheticDataSettings {
    std::uint32_t users = 943;
    std::uint32_t movies = 1682;
    std::uint64_t ratings = 100000;
    std::uint64_t seed = 1;
    std::uint32_t factors = 8; // rank of the hidden taste model
    double noise = 0.75;       // standard deviation of the rating noise, in stars
    // Users choose what they rate by taste (TasteData.h) rather than by popularity alone.
    bool taste = false;
};

// Writes u.item, u.data and files.txt into `folder` (created when missing). Ratings come from a latent-factor model
// with user and item biases and noise, rounded to 1..5; item popularity and user activity follow power laws; no
// user rates a movie twice. The same settings give the same bytes. Throws std::runtime_error when the counts
// cannot be met (more ratings than half of all user-movie pairs) or a file cannot be written.
// With `taste`, see GenerateTasteData.
void GenerateSyntheticData(const SyntheticDataSettings& settings, const std::filesystem::path& folder);

// How many ratings each user gives: at least `least` (20, or fewer where the counts ask), the rest shared by
// Pareto-distributed weights, none above `most`. Sums exactly to `total`.
std::vector<std::uint32_t> UserActivity(std::uint32_t users, std::uint64_t total, std::uint32_t most,
                                        model::CRandom& random);

} // namespace quillory::tools
