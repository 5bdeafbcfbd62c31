// Benchmarks of the main window's movie list with the catalogue of the largest public data set the program reads
// (87,585 movies), through the window operations the main window uses, on real Qt widgets: the fill (from the
// first item to the list painted on the screen), the old fill of one insertion a movie beside it, and a search by
// prefix as the search box makes it (select after position 0, then read the selection back). Titles are made up
// from a fixed word list, of the length and the spread of first letters real titles have.
//
// LaunchToLogin runs the real main window over the real engine on generated data of 87,585 movies, warm (the derived
// files made by one untimed start first), from the window's construction to the moment the login dialog opens;
// the benchmark's window system ends that dialog's run, and the main window's, right there.
//
// Lists/<data>/<list> fills and shows Top picks, More like this or Your ratings over the real engine (warm), from the
// engine calls to the dialog painted, for a user with 30 ratings: on the bundled data (a copy of MovieData) and on the
// generated 87,585 movies. RateFromTopPicks rates the selected pick with a key's command and times it to the refilled
// list on the screen.

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "AfxTypes.h"
#include "BenchProgram.h"
#include "CString.h"
#include "Dialog.h"
#include "ListBox.h"
#include "MovieListDlg.h"
#include "PicksDlg.h"
#include "QtWindowSystem.h"
#include "RatingsDlg.h"
#include "SimilarDlg.h"
#include "SyntheticData.h"
#include "TollivexDlg.h"
#include "WindowSystem.h"
#include "resource.h"

namespace {

constexpr int kMovies = 87585;

// Titles such as "The Silent River of Kings (1987)": one to five words, a third of them after an article.
std::vector<CString> MakeTitles(int count) {
    static const char* const kWords[] = {
        "Silent", "River", "Kings", "Night", "Love",    "Story",   "Dark",     "City",    "Last",   "Summer",
        "Return", "Man",   "Woman", "Heart", "Blood",   "Game",    "Shadow",   "Winter",  "Island", "Dream",
        "Lost",   "Star",  "Wild",  "House", "Secret",  "Road",    "Golden",   "Empire",  "Ghost",  "Stranger",
        "Fire",   "Dead",  "Young", "Sea",   "Journey", "Angel",   "Mountain", "Brother", "Broken", "Paris",
        "Zero",   "Ocean", "Quiet", "Edge",  "Velvet",  "Harbour", "Iron",     "Kiss",    "Under",  "Yellow"};
    static const char* const kArticles[] = {"The ", "A ", "An "};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> wordCount(1, 5);
    std::uniform_int_distribution<std::size_t> word(0, std::size(kWords) - 1);
    std::uniform_int_distribution<int> article(0, 8);
    std::uniform_int_distribution<int> year(1915, 2023);
    std::vector<CString> titles;
    titles.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        CString title;
        const int a = article(random);
        if (a < 3) {
            title += kArticles[a];
        }
        const int words = wordCount(random);
        for (int w = 0; w < words; ++w) {
            title += kWords[word(random)];
            title += w + 1 < words ? " " : "";
        }
        title += " (" + std::to_string(year(random)) + ")";
        titles.push_back(std::move(title));
    }
    return titles;
}

const std::vector<CString>& Titles() {
    static const std::vector<CString> titles = MakeTitles(kMovies);
    return titles;
}

// The main window's template with nothing behind it but its controls.
class CListWindow : public CDialog {
public:
    CListWindow() : CDialog(IDD_TOLLIVEX_DIALOG) {}
};

// One main window on the screen, with its movie list bound as the main window binds it.
class CWindowOnScreen {
public:
    CWindowOnScreen() {
        AfxSetWindowSystem(&m_system);
        m_window.CreateModeless(IDD_TOLLIVEX_DIALOG, nullptr);
        m_system.ShowWindow(m_window.GetSafeHwnd(), SW_SHOW);
        m_list.Attach(m_window.GetDlgItem(IDC_MOVIE_LIST));
        QApplication::processEvents();
    }
    ~CWindowOnScreen() {
        m_system.DestroyWindow(m_window.GetSafeHwnd());
        AfxSetWindowSystem(nullptr);
    }
    CWindowOnScreen(const CWindowOnScreen&) = delete;
    CWindowOnScreen& operator=(const CWindowOnScreen&) = delete;

    CListBox& List() { return m_list; }

    // Repaints the list as the main window does after its fill, and lets the window system draw it.
    void Show() {
        m_list.RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        QApplication::processEvents();
    }

private:
    CQtWindowSystem m_system;
    CListWindow m_window;
    CListBox m_list;
};

template <typename Fill> void RunFill(benchmark::State& state, Fill fill) {
    const std::vector<CString>& titles = Titles();
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<CWindowOnScreen>();
        state.ResumeTiming();
        const int count = fill(window->List(), titles);
        window->Show();
        state.PauseTiming();
        if (count != kMovies) {
            state.SkipWithError("the list does not hold every title");
        }
        window.reset();
        state.ResumeTiming();
    }
    state.counters["items"] = static_cast<double>(titles.size());
}

// The fill as the main window makes it: one call with every title.
void BM_FillMovieList(benchmark::State& state) {
    RunFill(state, [](CListBox& list, const std::vector<CString>& titles) {
        list.InitStorage(static_cast<int>(titles.size()), 50);
        return list.AddStrings(titles);
    });
}
BENCHMARK(BM_FillMovieList)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The fill of one insertion a title, as it was made before.
void BM_FillMovieListOneByOne(benchmark::State& state) {
    RunFill(state, [](CListBox& list, const std::vector<CString>& titles) {
        list.InitStorage(static_cast<int>(titles.size()), 50);
        int position = LB_ERR;
        for (const CString& title : titles) {
            position = list.InsertString(-1, title);
        }
        return position + 1;
    });
}
BENCHMARK(BM_FillMovieListOneByOne)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The search box's prefixes: a common first word (the match is near the top), a whole title near the end, the
// same in other letter cases, and one that matches nothing (the whole list is examined).
struct Search {
    const char* name;
    CString prefix;
    int expected;
};

std::vector<Search> Searches() {
    const int late = kMovies - 12;
    CString upper = Titles()[late];
    for (char& c : upper) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return {{"common", "the ", -2},
            {"late_title", Titles()[late], late},
            {"late_title_upper_case", upper, late},
            {"single_letter", "q", -2},
            {"no_match", "Zebra Crossing", LB_ERR}};
}

void BM_SearchByPrefix(benchmark::State& state) {
    const Search search = Searches()[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(search.name);
    CWindowOnScreen window;
    window.List().AddStrings(Titles());
    window.Show();
    int found = LB_ERR;
    for (auto _ : state) {
        window.List().SelectString(0, search.prefix);
        found = window.List().GetCurSel();
        benchmark::DoNotOptimize(found);
    }
    const bool right = search.expected == -2 ? found > 0 : (search.expected == LB_ERR || found == search.expected);
    if (!right) {
        state.SkipWithError("the search selected another row");
    }
}
BENCHMARK(BM_SearchByPrefix)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond)->UseRealTime();

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The Qt toolkit, except that the login dialog's run ends as it begins, and the main window's with it.
class CLaunchWindowSystem : public CQtWindowSystem {
public:
    INT_PTR RunModalDialog(CDialog& dialog, HWND owner) override {
        if (dialog.GetTemplateId() == IDD_LOGIN_DIALOG && m_main != nullptr) {
            m_loginOpened = Clock::now();
            EndDialog(m_main->GetSafeHwnd(), IDCANCEL);
            return IDCANCEL;
        }
        return CQtWindowSystem::RunModalDialog(dialog, owner);
    }
    // The main window asks for room in its list once the engine has started and before it reads the titles.
    int ListInitStorage(HWND list, int items, int bytes) override {
        m_fillStarted = Clock::now();
        return CQtWindowSystem::ListInitStorage(list, items, bytes);
    }

    // The seconds from the main window's construction to its login dialog, and of those the share from the
    // engine's start to the list's fill (the titles read and listed, the notice taken down).
    struct Times {
        double launch;
        double list;
    };
    Times Launch() {
        const Clock::time_point start = Clock::now();
        m_loginOpened = start;
        m_fillStarted = start;
        {
            CTollivexDlg main;
            m_main = &main;
            main.DoModal();
            m_main = nullptr;
        }
        return {std::chrono::duration<double>(m_loginOpened - start).count(),
                std::chrono::duration<double>(m_loginOpened - m_fillStarted).count()};
    }

private:
    CDialog* m_main = nullptr;
    Clock::time_point m_fillStarted;
    Clock::time_point m_loginOpened;
};

// Generated data in the layout and the place the main window reads: MovieData/files.txt under the working folder.
fs::path LaunchFolder(std::uint32_t users, std::uint64_t ratings) {
    const fs::path folder = fs::path(QUILLORY_BENCH_DATA_DIR) / ("launch-87k-" + std::to_string(ratings));
    if (!fs::exists(folder / "MovieData" / "files.txt")) {
        quillory::tools::SyntheticDataSettings settings;
        settings.users = users;
        settings.movies = kMovies;
        settings.ratings = ratings;
        settings.seed = 7;
        fs::remove_all(folder);
        quillory::tools::GenerateSyntheticData(settings, folder / "MovieData");
    }
    return folder;
}

void BM_LaunchToLogin(benchmark::State& state, std::uint32_t users, std::uint64_t ratings) {
    const fs::path before = fs::current_path();
    fs::current_path(LaunchFolder(users, ratings));
    CLaunchWindowSystem system;
    AfxSetWindowSystem(&system);
    system.Launch(); // makes the derived files when they are missing
    double list = 0.0;
    for (auto _ : state) {
        const CLaunchWindowSystem::Times times = system.Launch();
        state.SetIterationTime(times.launch);
        list += times.list;
    }
    // The list's share, milliseconds a launch: the rest is the engine's start.
    state.counters["list_ms"] = benchmark::Counter(list * 1000.0, benchmark::Counter::kAvgIterations);
    AfxSetWindowSystem(nullptr);
    fs::current_path(before);
}

// A warm engine on a data folder with a registered user who rated 30 movies, for the movie lists.
class CListsFixture {
public:
    explicit CListsFixture(const fs::path& folder) : m_previous(fs::current_path()) {
        fs::current_path(folder);
        m_table.Init(kDefaultDataPath);
        m_table.InitMatrices();
        const long user = m_table.InsertUser("bench " + std::to_string(Clock::now().time_since_epoch().count()), "pw");
        m_table.SetCurrentUser(user);
        const long movies = m_table.GetNumberOfMovies() - 1;
        for (int i = 0; i < 30; ++i) {
            const int number = 1 + static_cast<int>((static_cast<long>(i) * 7919) % movies);
            const long movieId = m_table.GetMovieDetails(number).id;
            if (m_table.GetRating(movieId, user, CString()) == 0) {
                m_table.SetNewRating(movieId, user, 1 + i % 5);
            }
        }
        m_similarTo = m_table.GetTopPicks(user, 1).front();
        AfxSetWindowSystem(&m_system);
    }
    ~CListsFixture() {
        AfxSetWindowSystem(nullptr);
        std::error_code ignored;
        fs::current_path(m_previous, ignored);
    }
    CListsFixture(const CListsFixture&) = delete;
    CListsFixture& operator=(const CListsFixture&) = delete;

    CMovieTable& Table() { return m_table; }
    long SimilarTo() const { return m_similarTo; }
    // Loads the dialog's rows, creates its window and paints it on the screen.
    void Show(CMovieListDlg& dialog) {
        dialog.Load();
        dialog.CreateModeless(dialog.GetTemplateId(), nullptr);
        m_system.ShowWindow(dialog.GetSafeHwnd(), SW_SHOW);
        QApplication::processEvents();
    }

private:
    fs::path m_previous;
    CMovieTable m_table;
    CQtWindowSystem m_system;
    long m_similarTo = 0;
};

// The bundled data, copied so that the benchmark's accounts and caches stay out of the source tree.
fs::path BundledFolder() {
    const fs::path folder = fs::path(QUILLORY_BENCH_DATA_DIR) / "lists-bundled";
    if (!fs::exists(folder / "MovieData" / "files.txt")) {
        fs::create_directories(folder / "MovieData");
        for (const char* name : {"files.txt", "movies.dat", "ratings.dat"}) {
            fs::copy_file(fs::path(QUILLORY_SOURCE_DIR) / "MovieData" / name, folder / "MovieData" / name,
                          fs::copy_options::overwrite_existing);
        }
    }
    return folder;
}

std::unique_ptr<CMovieListDlg> MakeList(CListsFixture& fixture, int which) {
    switch (which) {
    case 0:
        return std::make_unique<CPicksDlg>(fixture.Table());
    case 1:
        return std::make_unique<CSimilarDlg>(fixture.Table(), fixture.SimilarTo());
    default:
        return std::make_unique<CRatingsDlg>(fixture.Table());
    }
}

void BM_ListShown(benchmark::State& state, fs::path (*folder)()) {
    CListsFixture fixture(folder());
    const int which = static_cast<int>(state.range(0));
    state.SetLabel(which == 0 ? "top_picks" : which == 1 ? "more_like_this" : "your_ratings");
    for (auto _ : state) {
        auto dialog = MakeList(fixture, which);
        fixture.Show(*dialog);
        state.PauseTiming();
        dialog->DestroyWindow();
        dialog.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_RateFromTopPicks(benchmark::State& state) {
    CListsFixture fixture(BundledFolder());
    CPicksDlg picks(fixture.Table());
    fixture.Show(picks);
    for (auto _ : state) {
        // The key 3's command on the selected pick: stored, the list asked for again and painted.
        picks.OnCommandNotification(BN_CLICKED, IDC_RATE_3);
        QApplication::processEvents();
    }
    picks.DestroyWindow();
}
BENCHMARK(BM_RateFromTopPicks)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

fs::path GeneratedFolder() {
    return LaunchFolder(20000U, 1000000ULL);
}

} // namespace

int main(int argc, char** argv) {
    // Headless unless told otherwise.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    // --large launches on 32 million ratings of 200,948 users (minutes to make, 2 GiB for the one cold start);
    // without it on 1 million ratings of 20,000 users.
    bool large = false;
    return quillory::bench::RunBenchmarks("quillory-window-bench", argc, argv, {{"--large", &large}}, [&] {
        benchmark::RegisterBenchmark(large ? "LaunchToLogin/32m" : "LaunchToLogin/1m", BM_LaunchToLogin,
                                     large ? 200948U : 20000U, large ? 32000204ULL : 1000000ULL)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(5);
        benchmark::RegisterBenchmark("Lists/bundled", BM_ListShown, &BundledFolder)
            ->DenseRange(0, 2)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(10);
        benchmark::RegisterBenchmark("Lists/87k", BM_ListShown, &GeneratedFolder)
            ->DenseRange(0, 2)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(10);
    });
}
