// Synthetic ratings whose users choose by taste. What makes such data a fair yardstick for ranking: which movies a
// user rates says much about which others he will rate (so that a method which learns from co-ratings beats the
// most popular list by far, as on public data), popularity still counts, and few movies take most of the ratings.

#include "TasteData.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "OutputFile.h"
#include "Random.h"

namespace quillory::tools {

namespace {

constexpr std::size_t kGenres = 19;
// How common each genre flag of the layout is (unknown, action, adventure, animation, children's, comedy, crime,
// documentary, drama, fantasy, film-noir, horror, musical, mystery, romance, sci-fi, thriller, war, western), in
// movies per thousand, about as in public catalogues of the kind.
constexpr std::array<double, kGenres> kGenreShare{1,  150, 80, 25, 73,  300, 65,  30, 430, 13,
                                                  14, 55,  33, 36, 147, 60,  150, 42, 16};
constexpr std::size_t kEras = 5;
// Eras of release and how many movies come from each: most of a catalogue is recent.
constexpr std::array<int, kEras + 1> kEraStart{1930, 1950, 1970, 1980, 1990, 1999};
constexpr std::array<double, kEras> kEraShare{0.08, 0.12, 0.08, 0.17, 0.55};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The spread of the movies' popularity (the log of it is normal): few take most ratings, many get a handful. Larger
// catalogues spread wider, as public ones do: their longest tails are of movies few have heard of.
constexpr double kPopularitySpread = 1.8;
constexpr double kSpreadPerLogMovies = 0.3;
constexpr double kSpreadMovies = 1682;
// How sparse a user's taste is: the shape of the gamma weights of his genres and eras (smaller, fewer of them).
constexpr double kGenreShape = 0.12;
constexpr double kEraShape = 0.5;
// The share of a user's movies taken from the popular ones whatever their kind: at least the first, at most both.
constexpr double kLeastPopularShare = 0.05;
constexpr double kMostPopularShare = 0.35;
// Stars per unit of the log of how much more than the average user he likes a movie's kind, and its limits.
constexpr double kTasteStars = 0.3;
constexpr double kTasteLimit = 3.0;
// Draws of a user's next movie that may land on one he has already rated before the most popular one he has not
// is taken.
constexpr int kTries = 64;

// Picks an index by weight: the cumulative weights' first one above a uniform draw below their total.
std::size_t Draw(const std::vector<double>& cumulative, model::CRandom& random) {
    const double x = random.Uniform() * cumulative.back();
    const auto at = std::upper_bound(cumulative.begin(), cumulative.end(), x) - cumulative.begin();
    return std::min<std::size_t>(static_cast<std::size_t>(at), cumulative.size() - 1);
}

template <std::size_t N> std::size_t DrawShare(const std::array<double, N>& share, model::CRandom& random) {
    const double total = std::accumulate(share.begin(), share.end(), 0.0);
    double x = random.Uniform() * total;
    for (std::size_t k = 0; k < N; ++k) {
        if (x < share[k]) {
            return k;
        }
        x -= share[k];
    }
    return N - 1;
}

struct Movie {
    std::uint32_t genres = 0; // one bit per genre flag
    int year = 0;
    std::size_t era = 0;
    double popularity = 0.0;
    double bias = 0.0;
};

std::vector<Movie> MakeMovies(std::uint32_t count, model::CRandom& random) {
    std::vector<Movie> movies(count);
    for (Movie& m : movies) {
        const std::size_t first = DrawShare(kGenreShare, random);
        m.genres = 1U << first;
        // A second genre for about half the movies, a third for a tenth.
        for (double chance : {0.45, 0.1}) {
            if (random.Uniform() < chance) {
                m.genres |= 1U << DrawShare(kGenreShare, random);
            }
        }
        m.era = DrawShare(kEraShare, random);
        m.year = kEraStart[m.era] + static_cast<int>(random.Next() % unsigned(kEraStart[m.era + 1] - kEraStart[m.era]));
    }
    // Popularity: a power law over a random order, so that popular movies are of every kind; popular movies are
    // also rated a little higher, as in real data.
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0U);
    for (std::uint32_t i = count; i > 1; --i) {
        std::swap(order[i - 1], order[random.Next() % i]);
    }
    const double spread = std::max(1.0, kPopularitySpread + kSpreadPerLogMovies * std::log(count / kSpreadMovies));
    for (std::uint32_t rank = 0; rank < count; ++rank) {
        Movie& m = movies[order[rank]];
        m.popularity = std::exp(spread * random.Normal());
        m.bias = 0.45 * random.Normal() + 0.3 - 0.6 * rank / count;
    }
    return movies;
}

// Every genre-and-era kind's movies with their cumulative popularity, a movie of several genres in each of them.
struct Kinds {
    std::array<std::array<std::vector<std::uint32_t>, kEras>, kGenres> movies;
    std::array<std::array<std::vector<double>, kEras>, kGenres> cumulative;
    // The popularity that each kind holds, and the average user's weight of each genre and era.
    std::array<std::array<double, kEras>, kGenres> mass{};
    std::array<double, kGenres> genreBase{};
    std::array<double, kEras> eraBase{};
};

Kinds MakeKinds(const std::vector<Movie>& movies) {
    Kinds kinds;
    double total = 0.0;
    for (std::uint32_t j = 0; j < movies.size(); ++j) {
        const Movie& m = movies[j];
        const double share = m.popularity / std::popcount(m.genres);
        for (std::size_t g = 0; g < kGenres; ++g) {
            if (m.genres & (1U << g)) {
                auto& sums = kinds.cumulative[g][m.era];
                kinds.movies[g][m.era].push_back(j);
                sums.push_back((sums.empty() ? 0.0 : sums.back()) + share);
                kinds.mass[g][m.era] += share;
                kinds.genreBase[g] += share;
                kinds.eraBase[m.era] += share;
                total += share;
            }
        }
    }
    for (double& b : kinds.genreBase) {
        b /= total;
    }
    for (double& b : kinds.eraBase) {
        b /= total;
    }
    return kinds;
}

struct User {
    std::array<double, kGenres> genre{}; // sums to 1
    std::array<double, kEras> era{};     // sums to 1
    double popularShare = 0.0;
    double bias = 0.0;
};

User MakeUser(const Kinds& kinds, model::CRandom& random) {
    User u;
    // Gamma weights scaled by how common each genre and era is, normalised: a Dirichlet draw around the average.
    double sum = 0.0;
    for (std::size_t g = 0; g < kGenres; ++g) {
        u.genre[g] = kinds.genreBase[g] > 0.0 ? random.Gamma(kGenreShape) * kinds.genreBase[g] : 0.0;
        sum += u.genre[g];
    }
    for (double& w : u.genre) {
        w = sum > 0.0 ? w / sum : 1.0 / kGenres;
    }
    sum = 0.0;
    for (std::size_t e = 0; e < kEras; ++e) {
        u.era[e] = kinds.eraBase[e] > 0.0 ? random.Gamma(kEraShape) * kinds.eraBase[e] : 0.0;
        sum += u.era[e];
    }
    for (double& w : u.era) {
        w = sum > 0.0 ? w / sum : 1.0 / kEras;
    }
    u.popularShare = kLeastPopularShare + (kMostPopularShare - kLeastPopularShare) * random.Uniform();
    u.bias = 0.45 * random.Normal();
    return u;
}

// How much more than the average user `u` likes the kind of `m`, as a log, within the limits.
double Taste(const User& u, const Movie& m, const Kinds& kinds) {
    double genre = 0.0, base = 0.0;
    for (std::size_t g = 0; g < kGenres; ++g) {
        if (m.genres & (1U << g)) {
            genre += u.genre[g];
            base += kinds.genreBase[g];
        }
    }
    const double ratio = (genre / base) * (u.era[m.era] / kinds.eraBase[m.era]);
    return std::clamp(std::log(std::max(ratio, 1e-12)), -kTasteLimit, kTasteLimit);
}

// Draws `count` distinct movies for a user into `chosen`; `taken` marks them and is cleared by the caller.
void ChooseMovies(const User& u, std::uint32_t count, const Kinds& kinds, const std::vector<double>& popular,
                  const std::vector<std::uint32_t>& byPopularity, std::vector<char>& taken,
                  std::vector<std::uint32_t>& chosen, model::CRandom& random) {
    std::array<double, kEras> eraWeight{};
    while (chosen.size() < count) {
        std::uint32_t movie = 0;
        bool found = false;
        for (int attempt = 0; attempt < kTries && !found; ++attempt) {
            if (random.Uniform() < u.popularShare) {
                movie = static_cast<std::uint32_t>(Draw(popular, random));
            } else {
                std::size_t g = 0;
                double x = random.Uniform();
                while (g + 1 < kGenres && x >= u.genre[g]) {
                    x -= u.genre[g++];
                }
                double total = 0.0;
                for (std::size_t e = 0; e < kEras; ++e) {
                    eraWeight[e] = u.era[e] * kinds.mass[g][e];
                    total += eraWeight[e];
                }
                if (total <= 0.0) {
                    continue;
                }
                std::size_t e = 0;
                x = random.Uniform() * total;
                while (e + 1 < kEras && (x >= eraWeight[e] || eraWeight[e] == 0.0)) {
                    x -= eraWeight[e++];
                }
                movie = kinds.movies[g][e][Draw(kinds.cumulative[g][e], random)];
            }
            found = !taken[movie];
        }
        if (!found) {
            // A heavy rater has taken most of what his taste leads to: the most popular movie he has not rated.
            movie = *std::find_if(byPopularity.begin(), byPopularity.end(), [&](std::uint32_t j) { return !taken[j]; });
        }
        taken[movie] = 1;
        chosen.push_back(movie);
    }
}

void WriteCatalogue(const std::vector<Movie>& movies, const std::filesystem::path& path, model::CRandom& random) {
    OutputFile file = OpenForWriting(path);
    for (std::uint32_t j = 0; j < movies.size(); ++j) {
        const Movie& m = movies[j];
        const int day = 1 + static_cast<int>(random.Next() % 28);
        const char* month = kMonths[random.Next() % 12];
        std::fprintf(file.get(), "%u|Movie %u (%d)|%02d-%s-%d||http://movies.example.org/title/%u", j + 1, j + 1,
                     m.year, day, month, m.year, j + 1);
        for (std::size_t g = 0; g < kGenres; ++g) {
            std::fprintf(file.get(), "|%d", (m.genres >> g) & 1U);
        }
        std::fputc('\n', file.get());
    }
    Finish(file, path);
}

} // namespace

void GenerateTasteData(const SyntheticDataSettings& settings, const std::filesystem::path& folder) {
    const std::uint32_t users = settings.users;
    const std::uint32_t movieCount = settings.movies;
    if (users == 0 || movieCount == 0) {
        throw std::runtime_error("there must be at least one user and one movie");
    }
    const std::uint32_t most = std::max<std::uint32_t>(1, movieCount / 2);
    if (settings.ratings > std::uint64_t(users) * most) {
        throw std::runtime_error("too many ratings: at most half of all user-movie pairs can be rated");
    }
    model::CRandom random(settings.seed);
    const std::vector<Movie> movies = MakeMovies(movieCount, random);
    const Kinds kinds = MakeKinds(movies);
    std::vector<double> popular(movieCount);
    std::vector<std::uint32_t> byPopularity(movieCount);
    double total = 0.0;
    for (std::uint32_t j = 0; j < movieCount; ++j) {
        total += movies[j].popularity;
        popular[j] = total;
    }
    std::iota(byPopularity.begin(), byPopularity.end(), 0U);
    std::sort(byPopularity.begin(), byPopularity.end(), [&](std::uint32_t a, std::uint32_t b) {
        return movies[a].popularity != movies[b].popularity ? movies[a].popularity > movies[b].popularity : a < b;
    });
    const std::uint32_t k = settings.factors;
    // The latent-factor part varies with a standard deviation of about 0.3 stars.
    const double factorScale = k > 0 ? std::pow(0.09 / k, 0.25) : 0.0;
    std::vector<float> movieFactors(std::size_t(movieCount) * k);
    for (auto& x : movieFactors) {
        x = static_cast<float>(factorScale * random.Normal());
    }

    std::filesystem::create_directories(folder);
    WriteCatalogue(movies, folder / "u.item", random);

    const std::vector<std::uint32_t> activity = UserActivity(users, settings.ratings, most, random);
    const auto path = folder / "u.data";
    OutputFile file = OpenForWriting(path);
    std::vector<char> taken(movieCount, 0);
    std::vector<std::uint32_t> chosen;
    std::vector<float> userFactors(k);
    for (std::uint32_t u = 0; u < users; ++u) {
        const User user = MakeUser(kinds, random);
        for (auto& x : userFactors) {
            x = static_cast<float>(factorScale * random.Normal());
        }
        chosen.clear();
        ChooseMovies(user, activity[u], kinds, popular, byPopularity, taken, chosen, random);
        for (std::uint32_t movie : chosen) {
            taken[movie] = 0;
            double value = 3.65 + user.bias + movies[movie].bias + kTasteStars * Taste(user, movies[movie], kinds) +
                           settings.noise * random.Normal();
            for (std::uint32_t f = 0; f < k; ++f) {
                value += userFactors[f] * movieFactors[std::size_t(movie) * k + f];
            }
            const int stars = static_cast<int>(std::clamp(std::lround(value), 1L, 5L));
            const long long timestamp = 874724710LL + static_cast<long long>(random.Next() % 20000000ULL);
            std::fprintf(file.get(), "%u\t%u\t%d\t%lld\n", u + 1, movie + 1, stars, timestamp);
        }
    }
    Finish(file, path);
    const auto manifest = folder / "files.txt";
    OutputFile out = OpenForWriting(manifest);
    std::fputs("# Synthetic ratings made by quillory-gendata, whose users choose by taste\n"
               "format = movielens-100k\n"
               "movies = u.item\n"
               "ratings = u.data\n"
               "store = quillory.sqlite\n",
               out.get());
    Finish(out, manifest);
}

} // namespace quillory::tools
