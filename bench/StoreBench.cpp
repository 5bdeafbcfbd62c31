// Benchmarks of the store: the look for other programs' changes when nothing changed (asked before nearly every
// answer of the engine, so it must not be felt while clicking through the window), GetRating through the engine
// with that look included, and one rating written and acknowledged, for the SQLite file and for a PostgreSQL server.
// The server is a throwaway one started in the build folder (the tests' script), unless QUILLORY_BENCH_STORE_URI
// names a database to use instead.

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include "BenchProgram.h"
#include "MovieTable.h"
#include "PostgresStore.h"
#include "SqliteStore.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFolder = QUILLORY_BENCH_STORE_DIR;
const std::string kServerFolder = (kFolder / "server").string();

// Where the server's socket is: the script may have put it in a short folder the server folder links to.
std::string SocketFolder() {
    std::error_code error;
    const fs::path folder = fs::weakly_canonical(kServerFolder, error);
    return error ? kServerFolder : folder.string();
}

std::string g_serverUri;

bool RunServerScript(const std::string& action) {
    const std::string command = std::string(QUILLORY_PG_TEST_SCRIPT) + " " + action + " " + kServerFolder;
    return std::system(command.c_str()) == 0;
}

// A fresh database on the server for one benchmark.
std::string FreshDatabase(const std::string& name) {
    if (const char* given = std::getenv("QUILLORY_BENCH_STORE_URI")) {
        return given;
    }
    const std::string admin = "postgresql:///postgres?host=" + SocketFolder() + "&user=quillory";
    const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(admin.c_str()), &PQfinish);
    PQsetNoticeProcessor(
        connection.get(), [](void*, const char*) {}, nullptr);
    for (const std::string& sql : {"DROP DATABASE IF EXISTS " + name + " WITH (FORCE)", "CREATE DATABASE " + name}) {
        PQclear(PQexec(connection.get(), sql.c_str()));
    }
    return "postgresql:///" + name + "?host=" + SocketFolder() + "&user=quillory";
}

// The bundled data in a folder of its own, its manifest naming `store` (a file name or a URI).
fs::path BundledDataWithStore(const std::string& name, const std::string& store) {
    const fs::path source = fs::path(QUILLORY_SOURCE_DIR) / "MovieData";
    const fs::path folder = kFolder / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const char* file : {"movies.dat", "ratings.dat"}) {
        fs::copy_file(source / file, folder / file);
    }
    std::FILE* manifest = std::fopen((folder / "files.txt").c_str(), "w");
    std::fprintf(manifest, "format = movietweetings\nmovies = movies.dat\nratings = ratings.dat\nstore = %s\n",
                 store.c_str());
    std::fclose(manifest);
    return folder / "files.txt";
}

std::unique_ptr<quillory::store::CRatingStore> OpenStore(bool server) {
    if (server) {
        return std::make_unique<quillory::store::CPostgresStore>(FreshDatabase("quillory_bench_store"));
    }
    fs::create_directories(kFolder);
    fs::remove(kFolder / "bench.sqlite");
    return std::make_unique<quillory::store::CSqliteStore>(kFolder / "bench.sqlite");
}

// The look when nothing changed: PRAGMA data_version, or one read of the server's change counter.
void LookNothingChanged(benchmark::State& state) {
    const auto store = OpenStore(state.range(0) == 1);
    store->ChangedSinceLastLook();
    for (auto _ : state) {
        benchmark::DoNotOptimize(store->ChangedSinceLastLook());
    }
}
BENCHMARK(LookNothingChanged)->ArgName("server")->Arg(0)->Arg(1);

// GetRating as the window asks it, the look included, with nothing changed elsewhere.
void GetRatingNothingChanged(benchmark::State& state) {
    const bool server = state.range(0) == 1;
    CMovieTable table;
    table.Init(BundledDataWithStore(server ? "get-rating-server" : "get-rating-file",
                                    server ? FreshDatabase("quillory_bench_engine") : "quillory.sqlite")
                   .string());
    const long movie = table.GetMovieDetails(1).id;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.GetRating(movie, 1, ""));
    }
}
BENCHMARK(GetRatingNothingChanged)->ArgName("server")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// GetRating right after another program committed one rating, on a store that already holds 10000 entered
// ratings: the look finds the change and the engine takes in what it does not hold yet.
void GetRatingAfterAChange(benchmark::State& state) {
    const bool server = state.range(0) == 1;
    const std::string uri = server ? FreshDatabase("quillory_bench_change") : "";
    const fs::path manifest =
        BundledDataWithStore(server ? "change-server" : "change-file", server ? uri : "quillory.sqlite");
    CMovieTable table;
    table.Init(manifest.string());
    std::unique_ptr<quillory::store::CRatingStore> writer;
    if (server) {
        writer = std::make_unique<quillory::store::CPostgresStore>(uri);
    } else {
        writer = std::make_unique<quillory::store::CSqliteStore>(manifest.parent_path() / "quillory.sqlite");
    }
    const long movie = table.GetMovieDetails(1).id;
    long user = 2000000000;
    for (int k = 0; k < 10000; ++k) {
        writer->InsertRating({user++, static_cast<int>(movie), 4, 0});
    }
    table.GetRating(movie, 1, "");
    for (auto _ : state) {
        state.PauseTiming();
        writer->InsertRating({user++, static_cast<int>(movie), 4, 0});
        state.ResumeTiming();
        benchmark::DoNotOptimize(table.GetRating(movie, 1, ""));
    }
}
BENCHMARK(GetRatingAfterAChange)->ArgName("server")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One rating written and acknowledged (committed, and for the file synced), each a new user and movie pair.
void RatingRoundTrip(benchmark::State& state) {
    const auto store = OpenStore(state.range(0) == 1);
    long user = 1;
    for (auto _ : state) {
        store->InsertRating({user++, 42, 3, 0});
    }
}
BENCHMARK(RatingRoundTrip)->ArgName("server")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    const bool ownServer = std::getenv("QUILLORY_BENCH_STORE_URI") == nullptr;
    bool started = false;
    const int status = quillory::bench::RunBenchmarks("quillory-store-bench", argc, argv, {}, [&] {
        if (ownServer) {
            started = RunServerScript("start");
            if (!started) {
                throw std::runtime_error("the PostgreSQL server could not be started");
            }
        }
    });
    if (started) {
        RunServerScript("stop");
    }
    return status;
}
