// Benchmarks of the engine as the program uses it: start-up (Init + InitMatrices) without and with the trained-model
// cache, one prediction, one refresh of a user with 15 and with 500 ratings, twenty top picks for each of them (and
// for the one of 500 with fifty movies marked not interested) and twenty similar movies, on the bundled data and on
// generated data of 100K, 1M, (with --large) 10M and (with --huge) 32M ratings; a start that trains the models on
// data read from its snapshot (StartTraining); with --many-movies, the picks and similar movies also on 3M ratings of
// 87,585 movies. Every case reports the process's peak resident memory.
// The data is copied or generated into the build folder, so no store or cache is ever written into the sources.

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include "BenchProgram.h"
#include "MovieTable.h"
#include "SyntheticData.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDataRoot = QUILLORY_BENCH_DATA_DIR;

void ReportPeakMemory(benchmark::State& state) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The bundled data, copied without its store and cache into `folder` (fresh each run of the program).
fs::path CopyBundledData(const std::string& name) {
    const fs::path source = fs::path(QUILLORY_SOURCE_DIR) / "MovieData";
    const fs::path folder = kDataRoot / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const char* file : {"files.txt", "movies.dat", "ratings.dat"}) {
        fs::copy_file(source / file, folder / file);
    }
    return folder / "files.txt";
}

// Generated data of `ratings` ratings, made once and kept in the build folder.
fs::path GeneratedData(std::uint32_t users, std::uint32_t movies, std::uint64_t ratings, const std::string& name,
                       std::uint64_t seed = 1) {
    const fs::path folder = kDataRoot / name;
    if (!fs::exists(folder / "files.txt")) {
        quillory::tools::SyntheticDataSettings settings;
        settings.users = users;
        settings.movies = movies;
        settings.ratings = ratings;
        settings.seed = seed;
        fs::remove_all(folder);
        quillory::tools::GenerateSyntheticData(settings, folder);
    }
    return folder / "files.txt";
}

fs::path CacheOf(const fs::path& manifest) {
    return manifest.parent_path() / "quillory.sqlite.model";
}

// The model caches; with the snapshot of the parsed data and its times, every derived file (a cold start has none).
void RemoveCache(const fs::path& manifest, bool dataToo = true) {
    fs::remove(CacheOf(manifest));
    fs::remove(manifest.parent_path() / "quillory.sqlite.ranking");
    if (dataToo) {
        for (const char* name : {"quillory.sqlite.snapshot", "quillory.sqlite.times"}) {
            fs::remove(manifest.parent_path() / name);
        }
    }
}

enum class Start { Cold, Warm, Training };

// Times Init + InitMatrices of a fresh engine per iteration: cold, every derived file is removed first; training,
// the model caches only (the data is read from its snapshot, and the models are trained).
void TimeStarts(benchmark::State& state, const fs::path& manifest, Start start) {
    for (auto _ : state) {
        state.PauseTiming();
        if (start != Start::Warm) {
            RemoveCache(manifest, start == Start::Cold);
        }
        auto table = std::make_unique<CMovieTable>();
        state.ResumeTiming();
        table->Init(manifest.string());
        table->InitMatrices();
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
    ReportPeakMemory(state);
}

void StartCold(benchmark::State& state, const fs::path& manifest) {
    TimeStarts(state, manifest, Start::Cold);
}

// Makes sure the derived files of exactly this data are present.
bool MakeDerivedFiles(const fs::path& manifest) {
    {
        CMovieTable table;
        table.Init(manifest.string());
        table.InitMatrices();
    }
    return fs::exists(CacheOf(manifest));
}

void StartWarm(benchmark::State& state, const fs::path& manifest) {
    if (!MakeDerivedFiles(manifest)) {
        state.SkipWithError("the engine kept no model cache");
    }
    TimeStarts(state, manifest, Start::Warm);
}

void StartTraining(benchmark::State& state, const fs::path& manifest) {
    MakeDerivedFiles(manifest);
    TimeStarts(state, manifest, Start::Training);
}

// An engine ready on the data, with one user of 15 and one of 500 ratings entered through the store.
struct ReadyEngine {
    CMovieTable table;
    long user15 = NO_USER;
    long user500 = NO_USER;
    std::vector<long> movieIds;
};

ReadyEngine& Ready(const fs::path& manifest) {
    static std::unique_ptr<ReadyEngine> ready;
    static fs::path readyFor;
    if (ready && readyFor == manifest) {
        return *ready;
    }
    ready = std::make_unique<ReadyEngine>();
    readyFor = manifest;
    ready->table.Init(manifest.string());
    ready->table.InitMatrices();
    const long count = ready->table.GetNumberOfMovies();
    for (long number = 1; number < count; ++number) {
        ready->movieIds.push_back(ready->table.GetMovieDetails(static_cast<int>(number)).id);
    }
    auto makeUser = [&](const char* name, std::size_t ratings) {
        long id = ready->table.GetUserID(name, "bench-password");
        if (id == NO_USER) {
            id = ready->table.InsertUser(name, "bench-password");
        }
        double average = 0.0;
        long have = 0;
        ready->table.GetInfo(id, average, have);
        // Spread the ratings over the catalogue with a fixed pattern of stars.
        const std::size_t step = std::max<std::size_t>(1, ready->movieIds.size() / ratings);
        for (std::size_t j = static_cast<std::size_t>(have); j < ratings; ++j) {
            const long movie = ready->movieIds[(j * step) % ready->movieIds.size()];
            if (ready->table.GetRating(movie, id, "") == 0) {
                ready->table.SetNewRating(movie, id, 1 + static_cast<long>((j * 7) % 5));
            }
        }
        return id;
    };
    ready->user15 = makeUser("bench-user-15", 15);
    ready->user500 = makeUser("bench-user-500", 500);
    return *ready;
}

void Predict(benchmark::State& state, const fs::path& manifest) {
    ReadyEngine& ready = Ready(manifest);
    std::size_t j = 0;
    for (auto _ : state) {
        const long movie = ready.movieIds[j++ % ready.movieIds.size()];
        benchmark::DoNotOptimize(ready.table.GetPredictedRating(movie, ready.user500));
    }
    ReportPeakMemory(state);
}

void Refresh(benchmark::State& state, const fs::path& manifest, bool heavy) {
    ReadyEngine& ready = Ready(manifest);
    ready.table.SetCurrentUser(heavy ? ready.user500 : ready.user15);
    for (auto _ : state) {
        ready.table.SetRefresh(true);
    }
    ReportPeakMemory(state);
}

// Twenty picks, as the main window asks for them, alone or with their predictions and reasons.
void TopPicks(benchmark::State& state, const fs::path& manifest, bool heavy, bool reasons) {
    ReadyEngine& ready = Ready(manifest);
    const long user = heavy ? ready.user500 : ready.user15;
    for (auto _ : state) {
        if (reasons) {
            benchmark::DoNotOptimize(ready.table.GetTopPicksWithReasons(user, 20));
        } else {
            benchmark::DoNotOptimize(ready.table.GetTopPicks(user, 20));
        }
    }
    ReportPeakMemory(state);
}

// Twenty picks for the user of 500 ratings once he has marked the fifty movies his list began with not interested:
// each call ranks them and drops them again.
void TopPicksHiding(benchmark::State& state, const fs::path& manifest) {
    ReadyEngine& ready = Ready(manifest);
    for (const long movie : ready.table.GetTopPicks(ready.user500, 50)) {
        ready.table.SetNotInterested(movie, ready.user500, true);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(ready.table.GetTopPicks(ready.user500, 20));
    }
    // Shown again, so that the cases after this one rank him as before.
    for (const long movie : ready.table.GetNotInterested(ready.user500)) {
        ready.table.SetNotInterested(movie, ready.user500, false);
    }
    ReportPeakMemory(state);
}

void SimilarMovies(benchmark::State& state, const fs::path& manifest) {
    ReadyEngine& ready = Ready(manifest);
    std::size_t j = 0;
    for (auto _ : state) {
        // Movies spread over the catalogue, busy and obscure ones alike.
        const long movie = ready.movieIds[(j++ * 7919) % ready.movieIds.size()];
        benchmark::DoNotOptimize(ready.table.GetSimilarMovies(movie, 20));
    }
    ReportPeakMemory(state);
}

struct DataCase {
    std::string name;
    fs::path manifest;
    bool large;
};

} // namespace

int main(int argc, char** argv) {
    // --large adds the 10M-rating cases, which take minutes, --huge the 32M-rating ones (the shape of the largest
    // public data set this program reads; 779 MB of text, made once), and --many-movies the 87,585-movie catalogue
    // (a few minutes to make and train once); everything else stays short.
    bool large = false;
    bool huge = false;
    bool manyMovies = false;
    return quillory::bench::RunBenchmarks(
        "quillory-bench", argc, argv, {{"--large", &large}, {"--huge", &huge}, {"--many-movies", &manyMovies}}, [&] {
            std::vector<DataCase> cases;
            cases.push_back({"default", CopyBundledData("default"), false});
            cases.push_back({"gen100k", GeneratedData(943, 1682, 100000, "gen-100k"), false});
            cases.push_back({"gen1m", GeneratedData(6040, 3706, 1000000, "gen-1m"), false});
            if (large) {
                cases.push_back({"gen10m", GeneratedData(69878, 10677, 10000000, "gen-10m"), true});
            }
            if (huge) {
                cases.push_back({"gen32m", GeneratedData(200948, 87585, 32000204, "gen-32m", 7), true});
            }
            const fs::path refreshData = CopyBundledData("default-refresh");

            for (const DataCase& c : cases) {
                auto* cold = benchmark::RegisterBenchmark(("StartCold/" + c.name).c_str(), StartCold, c.manifest);
                auto* warm = benchmark::RegisterBenchmark(("StartWarm/" + c.name).c_str(), StartWarm, c.manifest);
                auto* training =
                    benchmark::RegisterBenchmark(("StartTraining/" + c.name).c_str(), StartTraining, c.manifest);
                for (auto* b : {cold, warm, training}) {
                    b->Unit(benchmark::kMillisecond);
                    if (c.large || c.name == "gen1m") {
                        b->Iterations(c.large ? 1 : 3);
                    }
                }
            }
            benchmark::RegisterBenchmark("GetPredictedRating/default", Predict, refreshData);
            benchmark::RegisterBenchmark("SetRefresh/default/15", Refresh, refreshData, false)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark("SetRefresh/default/500", Refresh, refreshData, true)
                ->Unit(benchmark::kMicrosecond);
            std::vector<std::pair<std::string, fs::path>> rankingData = {{"default", refreshData}};
            if (manyMovies) {
                // The catalogue of the largest public data set this program reads, with a tenth of its ratings and
                // users.
                rankingData.emplace_back("gen87k", GeneratedData(20000, 87585, 3000000, "gen-87k"));
            }
            for (const auto& [name, manifest] : rankingData) {
                for (const bool heavy : {false, true}) {
                    benchmark::RegisterBenchmark(("GetTopPicks/" + name + (heavy ? "/500" : "/15")).c_str(), TopPicks,
                                                 manifest, heavy, false)
                        ->Unit(benchmark::kMicrosecond);
                }
                benchmark::RegisterBenchmark(("GetTopPicksWithReasons/" + name + "/500").c_str(), TopPicks, manifest,
                                             true, true)
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(("GetTopPicks/" + name + "/500/hidden50").c_str(), TopPicksHiding,
                                             manifest)
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(("GetSimilarMovies/" + name).c_str(), SimilarMovies, manifest)
                    ->Unit(benchmark::kMicrosecond);
            }
        });
}
