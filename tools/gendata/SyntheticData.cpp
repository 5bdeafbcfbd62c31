#include "SyntheticData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "OutputFile.h"
#include "Random.h"
#include "TasteData.h"

namespace quillory::tools {

namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

std::vector<std::uint32_t> UserActivity(std::uint32_t users, std::uint64_t total, std::uint32_t most,
                                        model::CRandom& random) {
    std::vector<std::uint32_t> counts(users, 0);
    const std::uint64_t least = std::min<std::uint64_t>({20, total / users / 2, most});
    std::vector<double> weight(users);
    for (auto& w : weight) {
        w = std::pow(random.Uniform(), -1.0 / 1.5) - 1.0;
    }
    std::uint64_t left = total;
    for (auto& c : counts) {
        c = static_cast<std::uint32_t>(least);
        left -= least;
    }
    // Share the rest by weight, capping at `most`; whatever the caps hold back is shared again.
    while (left > 0) {
        double weightSum = 0.0;
        for (std::uint32_t u = 0; u < users; ++u) {
            if (counts[u] < most) {
                weightSum += weight[u] + 1e-9;
            }
        }
        std::uint64_t given = 0;
        for (std::uint32_t u = 0; u < users && given < left; ++u) {
            if (counts[u] >= most) {
                continue;
            }
            const double share = static_cast<double>(left) * (weight[u] + 1e-9) / weightSum;
            const auto extra =
                static_cast<std::uint64_t>(std::min<double>(std::floor(share), static_cast<double>(most - counts[u])));
            const std::uint64_t take = std::min(extra, left - given);
            counts[u] += static_cast<std::uint32_t>(take);
            given += take;
        }
        if (given == 0) {
            // Rounding left a remainder: hand it out one by one.
            for (std::uint32_t u = 0; u < users && given < left; ++u) {
                if (counts[u] < most) {
                    ++counts[u];
                    ++given;
                }
            }
        }
        left -= given;
    }
    return counts;
}

void GenerateSyntheticData(const SyntheticDataSettings& settings, const std::filesystem::path& folder) {
    const std::uint32_t users = settings.users;
    const std::uint32_t movies = settings.movies;
    if (users == 0 || movies == 0) {
        throw std::runtime_error("there must be at least one user and one movie");
    }
    const std::uint32_t most = std::max<std::uint32_t>(1, movies / 2);
    if (settings.ratings > std::uint64_t(users) * most) {
        throw std::runtime_error("too many ratings: at most half of all user-movie pairs can be rated");
    }

    if (settings.taste) {
        GenerateTasteData(settings, folder);
        return;
    }
    model::CRandom random(settings.seed);
    const std::uint32_t k = settings.factors;
    // Taste (the factor product) varies with a standard deviation of about 0.55 stars.
    const double factorScale = k > 0 ? std::pow(0.3 / k, 0.25) : 0.0;
    std::vector<float> userFactors(std::size_t(users) * k), movieFactors(std::size_t(movies) * k);
    std::vector<float> userBias(users), movieBias(movies);
    for (auto& x : userFactors) {
        x = static_cast<float>(factorScale * random.Normal());
    }
    for (auto& x : movieFactors) {
        x = static_cast<float>(factorScale * random.Normal());
    }
    for (auto& b : userBias) {
        b = static_cast<float>(0.45 * random.Normal());
    }
    for (auto& b : movieBias) {
        b = static_cast<float>(0.5 * random.Normal());
    }

    // Popularity: a power law over a random order of the movies, so that popular movies are spread over the
    // catalogue; popular movies are also rated a little higher, as in real data.
    std::vector<std::uint32_t> order(movies);
    std::iota(order.begin(), order.end(), 0u);
    for (std::uint32_t i = movies; i > 1; --i) {
        std::swap(order[i - 1], order[random.Next() % i]);
    }
    std::vector<double> cumulative(movies);
    double total = 0.0;
    for (std::uint32_t rank = 0; rank < movies; ++rank) {
        const std::uint32_t movie = order[rank];
        const double weight = 1.0 / std::pow(rank + 10.0, 1.1);
        movieBias[movie] += static_cast<float>(0.3 - 0.6 * rank / movies);
        total += weight;
        cumulative[rank] = total;
    }

    std::filesystem::create_directories(folder);
    {
        const auto path = folder / "u.item";
        OutputFile file = OpenForWriting(path);
        for (std::uint32_t m = 0; m < movies; ++m) {
            const int year = 1930 + static_cast<int>(random.Next() % 70);
            const int day = 1 + static_cast<int>(random.Next() % 28);
            const char* month = kMonths[random.Next() % 12];
            std::fprintf(file.get(), "%u|Movie %u (%d)|%02d-%s-%d||http://movies.example.org/title/%u", m + 1, m + 1,
                         year, day, month, year, m + 1);
            const std::uint64_t genres = random.Next();
            for (int g = 0; g < 19; ++g) {
                std::fprintf(file.get(), "|%d", (genres >> (g * 3)) % 6 == 0 ? 1 : 0);
            }
            std::fputc('\n', file.get());
        }
        Finish(file, path);
    }

    const std::vector<std::uint32_t> activity = UserActivity(users, settings.ratings, most, random);
    {
        const auto path = folder / "u.data";
        OutputFile file = OpenForWriting(path);
        std::vector<char> taken(movies, 0);
        std::vector<std::uint32_t> chosen;
        std::vector<std::pair<double, std::uint32_t>> keys;
        for (std::uint32_t u = 0; u < users; ++u) {
            const std::uint32_t count = activity[u];
            chosen.clear();
            if (count <= movies / 8) {
                // Draw by popularity, skipping repeats.
                while (chosen.size() < count) {
                    const double x = random.Uniform() * total;
                    const auto rank = static_cast<std::uint32_t>(
                        std::lower_bound(cumulative.begin(), cumulative.end(), x) - cumulative.begin());
                    const std::uint32_t movie = order[std::min(rank, movies - 1)];
                    if (!taken[movie]) {
                        taken[movie] = 1;
                        chosen.push_back(movie);
                    }
                }
            } else {
                // A heavy rater: weighted sampling without replacement by random keys (Efraimidis and Spirakis).
                keys.clear();
                double previous = 0.0;
                for (std::uint32_t rank = 0; rank < movies; ++rank) {
                    const double weight = cumulative[rank] - previous;
                    previous = cumulative[rank];
                    keys.emplace_back(std::log(random.Uniform()) / weight, order[rank]);
                }
                std::partial_sort(keys.begin(), keys.begin() + count, keys.end(),
                                  [](const auto& a, const auto& b) { return a.first > b.first; });
                for (std::uint32_t j = 0; j < count; ++j) {
                    chosen.push_back(keys[j].second);
                }
            }
            for (std::uint32_t movie : chosen) {
                taken[movie] = 0;
                double value = 3.6 + userBias[u] + movieBias[movie] + settings.noise * random.Normal();
                for (std::uint32_t f = 0; f < k; ++f) {
                    value += userFactors[std::size_t(u) * k + f] * movieFactors[std::size_t(movie) * k + f];
                }
                const int stars = static_cast<int>(std::clamp(std::lround(value), 1L, 5L));
                const long long timestamp = 874724710LL + static_cast<long long>(random.Next() % 20000000ULL);
                std::fprintf(file.get(), "%u\t%u\t%d\t%lld\n", u + 1, movie + 1, stars, timestamp);
            }
        }
        Finish(file, path);
    }
    {
        const auto path = folder / "files.txt";
        OutputFile file = OpenForWriting(path);
        std::fputs("# Synthetic ratings made by quillory-gendata\n"
                   "format = movielens-100k\n"
                   "movies = u.item\n"
                   "ratings = u.data\n"
                   "store = quillory.sqlite\n",
                   file.get());
        Finish(file, path);
    }
}

} // namespace quillory::tools
