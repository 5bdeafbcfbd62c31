// Benchmarks of the ranking model alone: training, one list for a newcomer and for a user with his own list, similar
// items, and loading its cache file, on the bundled data and (with --large) on 27 million generated ratings of
// 87,585 movies. The bundled data is only read; the cache file goes into the build folder.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchProgram.h"
#include "DataSet.h"
#include "Random.h"
#include "RankingModel.h"

namespace {

namespace fs = std::filesystem;
using quillory::model::CRankingModel;
using quillory::model::Rating;
using Ratings = std::vector<std::pair<std::uint32_t, float>>;

struct Data {
    std::string name;
    std::vector<Rating> ratings;
    std::uint32_t users = 0;
    std::uint32_t items = 0;
    std::vector<Ratings> byUser;
    CRankingModel model;
};

void Group(Data& data) {
    data.byUser.assign(data.users, {});
    for (const Rating& r : data.ratings) {
        data.byUser[r.user].emplace_back(r.item, r.value);
    }
    data.model.Train(data.ratings, data.users, data.items);
}

std::unique_ptr<Data> Bundled() {
    auto data = std::make_unique<Data>();
    data->name = "default";
    const auto set = quillory::data::LoadDataSet(
        quillory::data::ReadManifest((fs::path(QUILLORY_SOURCE_DIR) / "MovieData" / "files.txt").string()));
    data->users = static_cast<std::uint32_t>(set.users.size());
    data->items = static_cast<std::uint32_t>(set.movies.size());
    for (const auto& r : set.ratings) {
        data->ratings.push_back({r.userIndex, r.item, static_cast<float>(r.stars)});
    }
    Group(*data);
    return data;
}

// Ratings of the size of the largest public data we serve: movie popularity and user activity heavy-tailed, the
// values leaning on a per-movie mean. A user may rate a movie twice here, which only makes the work larger.
std::unique_ptr<Data> Large() {
    auto data = std::make_unique<Data>();
    data->name = "large";
    data->users = 200948;
    data->items = 87585;
    quillory::model::CRandom random(7);
    std::vector<float> itemMean(data->items);
    for (float& mean : itemMean) {
        mean = static_cast<float>(2.5 + 2.0 * random.Uniform());
    }
    const std::uint64_t total = 32000000;
    data->ratings.reserve(total);
    for (std::uint32_t u = 0; u < data->users && data->ratings.size() < total; ++u) {
        // One user in ten a newcomer (1 to 14 ratings), the rest heavy-tailed from 51 up.
        const auto count = u % 10 == 0 ? 1 + random.Next() % 14
                                       : static_cast<std::uint64_t>(3.0 + 48.0 / std::pow(random.Uniform(), 0.7));
        for (std::uint64_t k = 0; k < std::min<std::uint64_t>(count, 5000); ++k) {
            const auto item = static_cast<std::uint32_t>(double(data->items) * std::pow(random.Uniform(), 3.0));
            const double value = std::clamp(std::round(itemMean[item] + random.Normal()), 1.0, 5.0);
            data->ratings.push_back({u, std::min(item, data->items - 1), static_cast<float>(value)});
        }
    }
    Group(*data);
    return data;
}

// Training as the engine does it, or (`links`) without the taste factors, to show their share.
void Train(benchmark::State& state, Data* data, bool links) {
    quillory::model::RankingSettings settings;
    if (links) {
        settings.factors = 0;
    }
    for (auto _ : state) {
        CRankingModel model(settings);
        model.Train(data->ratings, data->users, data->items);
        benchmark::DoNotOptimize(model);
    }
    state.counters["ratings"] = static_cast<double>(data->ratings.size());
}

// One list of ten for users in turn: those with `least` to `most` ratings (the newcomers below 15; the heaviest
// users from 500), or the heaviest alone where none has that many (on the bundled data, 320 ratings).
void Rank(benchmark::State& state, Data* data, std::size_t least, std::size_t most) {
    std::vector<std::uint32_t> users;
    std::uint32_t heaviest = 0;
    for (std::uint32_t u = 0; u < data->users; ++u) {
        const std::size_t n = data->byUser[u].size();
        if (n >= least && n <= most) {
            users.push_back(u);
        }
        heaviest = n > data->byUser[heaviest].size() ? u : heaviest;
    }
    if (users.empty()) {
        users.push_back(heaviest);
    }
    std::size_t next = 0;
    double rated = 0.0;
    for (auto _ : state) {
        const Ratings& mine = data->byUser[users[next++ % users.size()]];
        rated += static_cast<double>(mine.size());
        benchmark::DoNotOptimize(data->model.Rank(mine, 10));
    }
    state.counters["ratings_per_user"] = rated / static_cast<double>(state.iterations());
}

void Similar(benchmark::State& state, Data* data) {
    std::uint32_t item = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(data->model.Similar(item, 10));
        item = (item + 7919) % data->items;
    }
}

void Load(benchmark::State& state, Data* data) {
    const fs::path file = fs::path(QUILLORY_BENCH_DATA_DIR) / ("ranking-" + data->name + ".cache");
    fs::create_directories(file.parent_path());
    data->model.Save(file, "bench");
    for (auto _ : state) {
        CRankingModel model;
        if (!model.Load(file, "bench")) {
            state.SkipWithError("the cache file did not load");
        }
    }
    fs::remove(file);
}

} // namespace

int main(int argc, char** argv) {
    bool large = false;
    // The data sets live until every benchmark has run.
    std::vector<std::unique_ptr<Data>> sets;
    return quillory::bench::RunBenchmarks("quillory-ranking-bench", argc, argv, {{"--large", &large}}, [&] {
        sets.push_back(Bundled());
        if (large) {
            sets.push_back(Large());
        }
        for (const auto& set : sets) {
            Data* data = set.get();
            const std::string name = data->name;
            benchmark::RegisterBenchmark(("RankTrain/" + name).c_str(), Train, data, false)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(name == "large" ? 1 : 5);
            benchmark::RegisterBenchmark(("RankTrain/" + name + "/links").c_str(), Train, data, true)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(name == "large" ? 1 : 5);
            benchmark::RegisterBenchmark(("Rank/" + name + "/newcomer").c_str(), Rank, data, 0, 14)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("Rank/" + name + "/personal").c_str(), Rank, data, 15, 499)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("Rank/" + name + "/heavy").c_str(), Rank, data, 500, 1000000)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("Similar/" + name).c_str(), Similar, data)->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("RankLoad/" + name).c_str(), Load, data)->Unit(benchmark::kMillisecond);
        }
    });
}
