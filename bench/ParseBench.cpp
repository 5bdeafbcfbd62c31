// Benchmarks of reading a large ratings file: the parse alone (the text already in memory), the read and the parse
// together, and the fingerprint a warm start takes instead of parsing; and of reading a catalogue of 87,585 movies.
// Each case reports its speed in MB of text per second of wall time. The data is 10M ratings (100,000 users, 20,000
// movies) and, with --large, 32M ratings (200,948 users, 87,585 movies), generated once into the build folder in the
// movielens-100k layout and rewritten into the two other layouts' ratings files; the catalogue is generated the same
// way and rewritten into the two other layouts' catalogues.

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchProgram.h"
#include "Fingerprint.h"
#include "Layout.h"
#include "MovieLookup.h"
#include "MovieRecord.h"
#include "RatingsParser.h"
#include "SyntheticData.h"
#include "TextFile.h"

namespace {

namespace fs = std::filesystem;
using quillory::data::Layout;

const fs::path kDataRoot = QUILLORY_BENCH_DATA_DIR;

struct DataSize {
    std::string name;
    std::uint32_t users;
    std::uint32_t movies;
    std::uint64_t ratings;
};

// The movielens-100k line "user TAB movie TAB stars TAB time" in another layout: half stars and the 0..10 scale
// take both of their values per star, chosen by the timestamp, so that every kind of rating field is read.
std::string Rewrite(const std::string& line, Layout layout) {
    std::vector<std::string> f;
    std::size_t start = 0;
    for (std::size_t at = 0; (at = line.find('\t', start)) != std::string::npos; start = at + 1) {
        f.push_back(line.substr(start, at - start));
    }
    f.push_back(line.substr(start));
    const int stars = std::atoi(f[2].c_str());
    const bool odd = (f[3].back() - '0') % 2 == 1;
    if (layout == Layout::MovieLensCsv) {
        const std::string rating = odd ? std::to_string(stars - 1) + ".5" : std::to_string(stars) + ".0";
        return f[0] + "," + f[1] + "," + rating + "," + f[3];
    }
    return f[0] + "::" + f[1] + "::" + std::to_string(odd ? 2 * stars - 1 : 2 * stars) + "::" + f[3];
}

// The ratings file of `size` in `layout`, made once and kept in the build folder.
fs::path RatingsFile(const DataSize& size, Layout layout) {
    const fs::path folder = kDataRoot / ("parse-" + size.name);
    if (!fs::exists(folder / "files.txt")) {
        quillory::tools::SyntheticDataSettings settings;
        settings.users = size.users;
        settings.movies = size.movies;
        settings.ratings = size.ratings;
        settings.seed = 7;
        fs::remove_all(folder);
        quillory::tools::GenerateSyntheticData(settings, folder);
    }
    if (layout == Layout::MovieLens100k) {
        return folder / "u.data";
    }
    fs::path path = folder / (layout == Layout::MovieLensCsv ? "ratings.csv" : "ratings.dat");
    if (!fs::exists(path)) {
        std::ifstream in(folder / "u.data");
        std::ofstream out(path.string() + ".part");
        if (layout == Layout::MovieLensCsv) {
            out << "userId,movieId,rating,timestamp\n";
        }
        for (std::string line; std::getline(in, line);) {
            out << Rewrite(line, layout) << '\n';
        }
        out.close();
        fs::rename(path.string() + ".part", path);
    }
    return path;
}

std::vector<quillory::data::MovieRecord> Catalogue(const DataSize& size) {
    std::vector<quillory::data::MovieRecord> movies(size.movies);
    for (std::uint32_t i = 0; i < size.movies; ++i) {
        movies[i].id = static_cast<int>(i) + 1;
    }
    return movies;
}

void SetThreads(int threads) {
    ::setenv("QUILLORY_THREADS", std::to_string(threads).c_str(), 1);
}

// The CPU time of every thread of the process, in seconds.
double ProcessCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// MB_per_s: MB of text per second of wall time. MB_per_cpu_s: per second of CPU time summed over the threads, the
// speed of one core that had nothing else to do; on a busy machine it is the steadier figure.
void ReportSpeed(benchmark::State& state, std::uint64_t bytes, double cpuSeconds) {
    const double megabytes = static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e6;
    state.counters["MB_per_s"] = benchmark::Counter(megabytes, benchmark::Counter::kIsRate);
    state.counters["MB_per_cpu_s"] = megabytes / cpuSeconds;
}

// The parse alone: the file is read (and hashed) before the clock runs.
void Parse(benchmark::State& state, const fs::path& path, Layout layout,
           const std::vector<quillory::data::MovieRecord>& movies) {
    SetThreads(static_cast<int>(state.range(0)));
    const quillory::data::CMovieLookup lookup(movies);
    std::uint64_t bytes = 0;
    double cpu = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        quillory::data::CTextFile file(path, "ratings file");
        bytes = file.Size();
        quillory::data::CRatingLines lines;
        state.ResumeTiming();
        const double before = ProcessCpuSeconds();
        benchmark::DoNotOptimize(quillory::data::ParseRatings(file, layout, lookup, lines));
        cpu += ProcessCpuSeconds() - before;
    }
    ReportSpeed(state, bytes, cpu);
}

// What a cold start spends on the ratings file: reading it, hashing it for the fingerprint and parsing it.
void ReadAndParse(benchmark::State& state, const fs::path& path, Layout layout,
                  const std::vector<quillory::data::MovieRecord>& movies) {
    SetThreads(static_cast<int>(state.range(0)));
    const quillory::data::CMovieLookup lookup(movies);
    std::uint64_t bytes = 0;
    const double before = ProcessCpuSeconds();
    for (auto _ : state) {
        quillory::data::CTextFile file(path, "ratings file");
        bytes = file.Size();
        quillory::data::CRatingLines lines;
        benchmark::DoNotOptimize(quillory::data::ParseRatings(file, layout, lookup, lines));
    }
    ReportSpeed(state, bytes, ProcessCpuSeconds() - before);
}

// What a warm start spends instead: the fingerprint of the data files, read in blocks and hashed.
void Fingerprint(benchmark::State& state, const fs::path& path) {
    quillory::data::Manifest manifest;
    manifest.layout = Layout::MovieLens100k;
    manifest.movies = path.parent_path() / "u.item";
    manifest.ratings = path;
    std::uint64_t bytes = 0;
    const double before = ProcessCpuSeconds();
    for (auto _ : state) {
        const auto fingerprint = quillory::data::FingerprintDataFiles(manifest);
        bytes = fingerprint ? fingerprint->bytes : 0;
        benchmark::DoNotOptimize(fingerprint);
    }
    ReportSpeed(state, bytes, ProcessCpuSeconds() - before);
}

// The 19 genre flags of a generated u.item line by name; the first, "unknown", is no genre.
constexpr const char* kGenreNames[] = {"unknown",   "Action",   "Adventure",   "Animation", "Children",
                                       "Comedy",    "Crime",    "Documentary", "Drama",     "Fantasy",
                                       "Film-Noir", "Horror",   "Musical",     "Mystery",   "Romance",
                                       "Sci-Fi",    "Thriller", "War",         "Western"};

// A generated u.item line "id|title|date||URL|flags..." as a movies.csv or movies.dat line, its genres as A|B|C.
std::string RewriteMovie(const std::string& line, Layout layout) {
    std::vector<std::string> f;
    std::size_t start = 0;
    for (std::size_t at = 0; (at = line.find('|', start)) != std::string::npos; start = at + 1) {
        f.push_back(line.substr(start, at - start));
    }
    f.push_back(line.substr(start));
    std::string genres;
    for (std::size_t g = 1; g < 19; ++g) {
        if (f[5 + g] == "1") {
            if (!genres.empty()) {
                genres += '|';
            }
            genres += kGenreNames[g];
        }
    }
    if (layout == Layout::MovieLensCsv) {
        return f[0] + "," + f[1] + "," + (genres.empty() ? "(no genres listed)" : genres);
    }
    return f[0] + "::" + f[1] + "::" + genres;
}

// The catalogue of 87,585 movies in `layout`, made once and kept in the build folder.
fs::path CatalogueFile(Layout layout) {
    const fs::path folder = kDataRoot / "catalogue-87585";
    if (!fs::exists(folder / "files.txt")) {
        quillory::tools::SyntheticDataSettings settings;
        settings.users = 10;
        settings.movies = 87585;
        settings.ratings = 10;
        settings.seed = 7;
        fs::remove_all(folder);
        quillory::tools::GenerateSyntheticData(settings, folder);
    }
    if (layout == Layout::MovieLens100k) {
        return folder / "u.item";
    }
    fs::path path = folder / (layout == Layout::MovieLensCsv ? "movies.csv" : "movies.dat");
    if (!fs::exists(path)) {
        std::ifstream in(folder / "u.item");
        std::ofstream out(path.string() + ".part");
        if (layout == Layout::MovieLensCsv) {
            out << "movieId,title,genres\n";
        }
        for (std::string line; std::getline(in, line);) {
            out << RewriteMovie(line, layout) << '\n';
        }
        out.close();
        fs::rename(path.string() + ".part", path);
    }
    return path;
}

// A catalogue read and checked, every movie with its name, date, address and genres; the file is read before the
// clock runs.
void ReadMovies(benchmark::State& state, const fs::path& path, Layout layout) {
    std::uint64_t bytes = 0;
    double cpu = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        quillory::data::CTextFile file(path, "movies file");
        bytes = file.Size();
        state.ResumeTiming();
        const double before = ProcessCpuSeconds();
        benchmark::DoNotOptimize(quillory::data::Describe(layout).readCatalogue(file));
        cpu += ProcessCpuSeconds() - before;
    }
    ReportSpeed(state, bytes, cpu);
}

} // namespace

int main(int argc, char** argv) {
    // --large adds the 32M-rating files (about 800 MB each); the 10M ones are made on first use too.
    bool large = false;
    return quillory::bench::RunBenchmarks("quillory-parse-bench", argc, argv, {{"--large", &large}}, [&] {
        std::vector<DataSize> sizes{{"10m", 100000, 20000, 10000000}};
        if (large) {
            sizes.push_back({"32m", 200948, 87585, 32000204});
        }
        std::vector<std::pair<std::string, Layout>> layouts;
        for (const quillory::data::LayoutDescription& layout : quillory::data::kLayouts) {
            layouts.emplace_back(layout.format, layout.layout);
        }
        for (const DataSize& size : sizes) {
            for (const auto& [name, layout] : layouts) {
                const fs::path path = RatingsFile(size, layout);
                const std::string suffix = "/" + name + "/" + size.name;
                for (auto* b :
                     {benchmark::RegisterBenchmark(("Parse" + suffix).c_str(), Parse, path, layout, Catalogue(size)),
                      benchmark::RegisterBenchmark(("ReadAndParse" + suffix).c_str(), ReadAndParse, path, layout,
                                                   Catalogue(size))}) {
                    b->ArgName("threads")->Arg(1)->Arg(2)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
                }
            }
            benchmark::RegisterBenchmark(("Fingerprint/" + size.name).c_str(), Fingerprint,
                                         RatingsFile(size, Layout::MovieLens100k))
                ->Iterations(5)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
        for (const auto& [name, layout] : layouts) {
            benchmark::RegisterBenchmark(("Catalogue/" + name + "/87585").c_str(), ReadMovies, CatalogueFile(layout),
                                         layout)
                ->Iterations(10)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
    });
}
