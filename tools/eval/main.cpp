// quillory-eval: trains the prediction model on a manifest's ratings and reports its accuracy beside the bias
// baseline's, either on a separate test file or by K-fold cross-validation; with --topn it measures instead how
// well the ranking model puts the movies a user will like at the top of his list (TopN.cpp), and with --newcomers how
// fast a newcomer's list finds the movies he has seen and how good his picks are after his first ratings
// (Newcomers.cpp). It trains and scores on the 1..5 stars that the program itself stores and reports, so the figures
// measure what users see.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <numeric>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DataSet.h"
#include "MovieTable.h"
#include "Newcomers.h"
#include "Random.h"
#include "RatingModel.h"
#include "TopN.h"

namespace {

using quillory::model::CRatingModel;
using quillory::model::ModelSettings;
using quillory::model::Rating;
using Clock = std::chrono::steady_clock;

struct Scores {
    double rmse = 0.0;
    double mae = 0.0;
    double baselineRmse = 0.0;
    double baselineMae = 0.0;
    double trainSeconds = 0.0;
    double nanosPerPrediction = 0.0;
    std::size_t tests = 0;
    std::string summary;
};

// A test rating: the user as a model index (possibly beyond the trained users), the item, and the value.
using TestSet = std::vector<Rating>;

Scores Evaluate(const std::vector<Rating>& train, const TestSet& test, std::uint32_t numUsers, std::uint32_t numItems,
                const ModelSettings& settings) {
    Scores scores;
    CRatingModel model(settings);
    const auto start = Clock::now();
    model.Train(train, numUsers, numItems);
    scores.trainSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    scores.summary = model.Summary();

    std::vector<double> predictions(test.size());
    const auto predictStart = Clock::now();
    for (std::size_t j = 0; j < test.size(); ++j) {
        predictions[j] = model.Predict(test[j].user, test[j].item);
    }
    const double predictSeconds = std::chrono::duration<double>(Clock::now() - predictStart).count();
    scores.nanosPerPrediction = test.empty() ? 0.0 : predictSeconds * 1e9 / static_cast<double>(test.size());

    double se = 0.0, ae = 0.0, baseSe = 0.0, baseAe = 0.0;
    for (std::size_t j = 0; j < test.size(); ++j) {
        const double error = predictions[j] - test[j].value;
        const double baseError = model.PredictBaseline(test[j].user, test[j].item) - test[j].value;
        se += error * error;
        ae += std::abs(error);
        baseSe += baseError * baseError;
        baseAe += std::abs(baseError);
    }
    const double n = std::max<double>(1.0, static_cast<double>(test.size()));
    scores.rmse = std::sqrt(se / n);
    scores.mae = ae / n;
    scores.baselineRmse = std::sqrt(baseSe / n);
    scores.baselineMae = baseAe / n;
    scores.tests = test.size();
    return scores;
}

void Print(const char* label, const Scores& s) {
    std::printf("%-8s model RMSE %.4f MAE %.4f | baseline RMSE %.4f MAE %.4f | train %.3f s | predict %.0f ns | "
                "%zu tests\n",
                label, s.rmse, s.mae, s.baselineRmse, s.baselineMae, s.trainSeconds, s.nanosPerPrediction, s.tests);
    if (!s.summary.empty()) {
        std::printf("         %s\n", s.summary.c_str());
    }
}

void Usage() {
    std::fputs(
        "usage: quillory-eval <manifest> [--test <ratings file>] [--folds K] [--seed S]\n"
        "                    [--model-seed S] [--factors F] [--burn-in B] [--samples N] [--implicit 0|1]\n"
        "                    [--validate 0|1] [--neighbours K] [--shrink S] [--damping D]\n"
        "                    [--budget W]\n"
        "       quillory-eval <manifest> --topn [--splits N] [--seed S] [--lambdas L1,L2,...] [--no-ease]\n"
        "                    [--links-alone]\n"
        "                    [--users N] [--rank-neighbours K,...] [--rank-alpha A,...] [--rank-beta B,...]\n"
        "                    [--rank-low W,...] [--rank-factors F,...] [--rank-a0 A,...] [--rank-penalty L,...]\n"
        "                    [--rank-share S,...] [--rank-epochs E,...]\n"
        "                    [--rank-factor-min N,...] [--rank-pool P] [--rank-blend G] "
        "[--rank-newcomer-blend G]\n"
        "                    [--rank-shrink S] [--ials-factors K,...] [--ials-a0 A,...] [--ials-lambda L,...]\n"
        "                    [--ials-epochs E,...] [--ials-blend G,...]\n"
        "       quillory-eval <manifest> --newcomers [--splits N] [--seed S] [--lambdas L1,L2,...] [--no-ease]\n"
        "                    [--ease-items N] [--on-validation] [--rank-... as for --topn]\n"
        "Trains the prediction model on the manifest's ratings and prints RMSE and MAE of the model and of\n"
        "the bias baseline, the training time and the time per prediction. --test scores a ratings file in\n"
        "the manifest's ratings layout; --folds K (default 5 without --test) cross-validates instead.\n"
        "--topn prints precision, recall and NDCG at 10 of the most popular movies, EASE and the ranking\n"
        "model over N random 80/20 splits (default 5), each method's settings chosen on a validation split\n"
        "cut from each split's training ratings among the lists given (the ranking model tries every\n"
        "combination of its lists; without them, the settings it ships with). --users N scores a sample of\n"
        "at most N users in each validation and test. --links-alone adds the ranking model without its factors.\n"
        "Any --ials- list adds implicit ALS, over every combination;\n"
        "for users of personal lists, its scores mixed with the ranking model's by G, the newcomers' list for\n"
        "the others.\n"
        "--newcomers leaves one in ten of the users with at least 20 ratings out of training (N of ten\n"
        "seeded groups, default 5), walks each down the newcomers' list, the most-rated list and the list\n"
        "of popularity times entropy until 15 ratings or 400 movies looked at, and scores the engine's\n"
        "picks, EASE's (on the N most-rated movies, default 2500; penalty chosen on validation users) and\n"
        "the most popular after 5, 10 and 15 of those ratings. --on-validation measures on the validation\n"
        "users instead, for choosing settings without the test.\n",
        stderr);
}

bool ParseInt(const char* text, long long& value) {
    if (!text || !*text) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && *end == '\0';
}

// A finite number, at least `least`.
bool ParseNumber(const char* text, double& value, double least = 0.0) {
    if (!text || !*text) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && *end == '\0' && std::isfinite(value) && value >= least;
}

// A comma-separated list of numbers, each at least `least`.
bool ParseList(const char* text, std::vector<double>& values, double least = 0.0) {
    values.clear();
    std::string all = text ? text : "";
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = std::min(all.find(',', start), all.size());
        double value = 0.0;
        if (!ParseNumber(all.substr(start, end - start).c_str(), value, least)) {
            return false;
        }
        values.push_back(value);
        start = end + 1;
    }
    return !values.empty();
}

// What the command line asks for.
struct Options {
    std::string manifestPath;
    std::string testPath;
    long long folds = 0;
    long long seed = 1;
    ModelSettings settings = ModelSettings::Defaults();
    bool topN = false;
    quillory::eval::TopNOptions topNOptions;
    bool newcomers = false;
    quillory::eval::NewcomerOptions newcomerOptions;
    // The ranking model's grid: every combination of these lists (empty: the shipped value).
    std::vector<double> rankNeighbours, rankAlpha, rankBeta, rankLow, rankFactors, rankUnobserved, rankPenalty,
        rankShare, rankEpochs, rankFactorMin;
    // Implicit ALS's grid, likewise; it runs only when one of them is given.
    std::vector<double> ialsFactors, ialsUnobserved, ialsLambda, ialsEpochs;
    quillory::model::RankingSettings rankBase = quillory::model::RankingSettings::Defaults();
};

// The flags of the top-N mode; false when `arg` is none of them or its value is wrong.
bool ParseTopNFlag(std::string_view arg, const char* next, Options& o) {
    long long number = 0;
    double real = 0.0;
    quillory::model::RankingSettings& rank = o.rankBase;
    if (arg == "--splits" && ParseInt(next, number) && number >= 1 && number <= 100) {
        o.topNOptions.splits = static_cast<int>(number);
    } else if (arg == "--users" && ParseInt(next, number) && number >= 0 && number <= 0xffffffffLL) {
        o.topNOptions.scoredUsers = static_cast<std::uint32_t>(number);
    } else if (arg == "--lambdas") {
        return ParseList(next, o.topNOptions.easeLambdas);
    } else if (arg == "--rank-neighbours") {
        return ParseList(next, o.rankNeighbours, 1.0);
    } else if (arg == "--rank-alpha") {
        return ParseList(next, o.rankAlpha);
    } else if (arg == "--rank-beta") {
        return ParseList(next, o.rankBeta);
    } else if (arg == "--rank-low") {
        return ParseList(next, o.rankLow, -1.0);
    } else if (arg == "--rank-factors") {
        return ParseList(next, o.rankFactors);
    } else if (arg == "--rank-a0") {
        return ParseList(next, o.rankUnobserved);
    } else if (arg == "--rank-penalty") {
        return ParseList(next, o.rankPenalty);
    } else if (arg == "--rank-factor-min") {
        return ParseList(next, o.rankFactorMin);
    } else if (arg == "--rank-epochs") {
        return ParseList(next, o.rankEpochs, 1.0);
    } else if (arg == "--rank-share") {
        return ParseList(next, o.rankShare);
    } else if (arg == "--ials-factors") {
        return ParseList(next, o.ialsFactors, 1.0);
    } else if (arg == "--ials-a0") {
        return ParseList(next, o.ialsUnobserved);
    } else if (arg == "--ials-lambda") {
        return ParseList(next, o.ialsLambda);
    } else if (arg == "--ials-blend") {
        return ParseList(next, o.topNOptions.ialsBlends);
    } else if (arg == "--ials-epochs") {
        return ParseList(next, o.ialsEpochs, 1.0);
    } else if (arg == "--rank-pool" && ParseInt(next, number) && number >= 0 && number <= 1000000) {
        rank.newcomerPool = static_cast<std::size_t>(number);
    } else if (arg == "--rank-newcomer-blend" && ParseNumber(next, real) && real <= 1.0) {
        rank.newcomerBlend = real;
    } else if (arg == "--rank-blend" && ParseNumber(next, real) && real <= 1.0) {
        rank.popularityBlend = real;
    } else if (arg == "--rank-shrink" && ParseNumber(next, real)) {
        rank.newcomerShrink = real;
    } else {
        return false;
    }
    return true;
}

// The flags of the prediction model's modes; false when `arg` is none of them or its value is wrong.
bool ParseRatingFlag(std::string_view arg, const char* next, Options& o) {
    long long number = 0;
    double real = 0.0;
    ModelSettings& settings = o.settings;
    if (arg == "--test" && next) {
        o.testPath = next;
    } else if (arg == "--folds" && ParseInt(next, number) && number >= 2 && number <= 100) {
        o.folds = number;
    } else if (arg == "--seed" && ParseInt(next, number)) {
        o.seed = number;
    } else if (arg == "--model-seed" && ParseInt(next, number) && number >= 0) {
        settings.seed = static_cast<std::uint64_t>(number);
    } else if (arg == "--factors" && ParseInt(next, number) && number >= 0 && number <= 1000) {
        settings.factors = static_cast<int>(number);
    } else if (arg == "--burn-in" && ParseInt(next, number) && number >= 0 && number <= 100000) {
        settings.burnIn = static_cast<int>(number);
    } else if (arg == "--samples" && ParseInt(next, number) && number >= 0 && number <= 100000) {
        settings.samples = static_cast<int>(number);
    } else if (arg == "--implicit" && ParseInt(next, number) && (number == 0 || number == 1)) {
        settings.implicitFeedback = number == 1;
    } else if (arg == "--validate" && ParseInt(next, number) && (number == 0 || number == 1)) {
        settings.validate = number == 1;
    } else if (arg == "--neighbours" && ParseInt(next, number) && number >= 0 && number <= 100000) {
        settings.neighbours = static_cast<int>(number);
    } else if (arg == "--shrink" && ParseNumber(next, real)) {
        settings.neighbourShrink = real;
    } else if (arg == "--damping" && ParseNumber(next, real)) {
        settings.neighbourDamping = real;
    } else if (arg == "--budget" && ParseInt(next, number) && number >= 0) {
        settings.workBudget = static_cast<std::size_t>(number);
    } else {
        return false;
    }
    return true;
}

// Every combination of the ranking lists given, over the base settings.
std::vector<quillory::model::RankingSettings> RankingGrid(const Options& o) {
    using Settings = quillory::model::RankingSettings;
    using Setter = void (*)(Settings&, double);
    const std::vector<std::pair<const std::vector<double>*, Setter>> axes{
        {&o.rankNeighbours, [](Settings& s, double v) { s.neighbours = static_cast<std::size_t>(v); }},
        {&o.rankAlpha, [](Settings& s, double v) { s.alpha = v; }},
        {&o.rankBeta, [](Settings& s, double v) { s.beta = v; }},
        {&o.rankLow, [](Settings& s, double v) { s.lowWeight = v; }},
        {&o.rankFactors, [](Settings& s, double v) { s.factors = static_cast<std::size_t>(v); }},
        {&o.rankUnobserved, [](Settings& s, double v) { s.unobserved = v; }},
        {&o.rankPenalty, [](Settings& s, double v) { s.factorPenalty = v; }},
        {&o.rankShare, [](Settings& s, double v) { s.linkShare = std::min(v, 1.0); }},
        {&o.rankEpochs, [](Settings& s, double v) { s.factorEpochs = static_cast<int>(v); }},
        {&o.rankFactorMin, [](Settings& s, double v) { s.factorMinRatings = static_cast<std::size_t>(v); }},
    };
    std::vector<Settings> grid{o.rankBase};
    for (const auto& [values, set] : axes) {
        if (values->empty()) {
            continue;
        }
        std::vector<Settings> wider;
        for (const Settings& s : grid) {
            for (double v : *values) {
                wider.push_back(s);
                set(wider.back(), v);
            }
        }
        grid.swap(wider);
    }
    return grid;
}

// Every combination of implicit ALS's lists; none when no list is given.
std::vector<quillory::eval::ImplicitAlsSettings> ImplicitAlsGrid(const Options& o) {
    std::vector<quillory::eval::ImplicitAlsSettings> grid;
    if (o.ialsFactors.empty() && o.ialsUnobserved.empty() && o.ialsLambda.empty() && o.ialsEpochs.empty()) {
        return grid;
    }
    const quillory::eval::ImplicitAlsSettings base;
    auto orBase = [](const std::vector<double>& list, double value) {
        return list.empty() ? std::vector<double>{value} : list;
    };
    for (double k : orBase(o.ialsFactors, base.factors)) {
        for (double a0 : orBase(o.ialsUnobserved, base.unobserved)) {
            for (double lambda : orBase(o.ialsLambda, base.lambda)) {
                for (double epochs : orBase(o.ialsEpochs, base.epochs)) {
                    quillory::eval::ImplicitAlsSettings s = base;
                    s.factors = static_cast<int>(k);
                    s.unobserved = a0;
                    s.lambda = lambda;
                    s.epochs = static_cast<int>(epochs);
                    grid.push_back(s);
                }
            }
        }
    }
    return grid;
}

// Reads the command line into `o`; false (after the usage or a message) when it is not a valid one.
bool ParseArguments(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        long long number = 0;
        if (arg == "--topn") {
            o.topN = true;
        } else if (arg == "--newcomers") {
            o.newcomers = true;
        } else if (arg == "--on-validation") {
            o.newcomerOptions.onValidation = true;
        } else if (arg == "--ease-items" && ParseInt(next, number) && number >= 1 && number <= 20000) {
            o.newcomerOptions.easeItems = static_cast<std::uint32_t>(number);
            ++i;
        } else if (arg == "--no-ease") {
            o.topNOptions.easeLambdas.clear();
        } else if (arg == "--links-alone") {
            o.topNOptions.linksAlone = true;
        } else if (ParseTopNFlag(arg, next, o) || ParseRatingFlag(arg, next, o)) {
            ++i;
        } else if (!arg.starts_with("--") && o.manifestPath.empty()) {
            o.manifestPath = argv[i];
        } else {
            Usage();
            return false;
        }
    }
    if (o.manifestPath.empty()) {
        Usage();
        return false;
    }
    if ((o.topN || o.newcomers) && (!o.testPath.empty() || o.folds != 0)) {
        std::fputs("quillory-eval: --topn and --newcomers exclude --test and --folds\n", stderr);
        return false;
    }
    if (o.topN && o.newcomers) {
        std::fputs("quillory-eval: --topn and --newcomers exclude each other\n", stderr);
        return false;
    }
    if (!o.testPath.empty() && o.folds != 0) {
        std::fputs("quillory-eval: --test and --folds exclude each other\n", stderr);
        return false;
    }
    if (o.testPath.empty() && o.folds == 0) {
        o.folds = 5;
    }
    o.topNOptions.seed = o.seed;
    o.topNOptions.rankings = RankingGrid(o);
    o.topNOptions.ials = ImplicitAlsGrid(o);
    o.newcomerOptions.splits = o.topNOptions.splits;
    o.newcomerOptions.seed = o.seed;
    if (o.topNOptions.easeLambdas != quillory::eval::TopNOptions{}.easeLambdas) {
        o.newcomerOptions.easeLambdas = o.topNOptions.easeLambdas; // --lambdas or --no-ease
    }
    o.newcomerOptions.ranking = o.rankBase;
    return true;
}

// Trains on every rating of the data and scores the ratings of the test file; its unknown users are new users.
void RunTestFile(const quillory::data::DataSet& data, const std::vector<Rating>& all, const Options& o) {
    const auto numUsers = static_cast<std::uint32_t>(data.users.size());
    const auto records = quillory::data::LoadRatingsFile(o.testPath, data.manifest.layout, data.movies);
    std::unordered_map<int, std::uint32_t> userIndex;
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        userIndex.emplace(data.users[u], u);
    }
    TestSet test;
    std::uint32_t unknown = numUsers;
    for (const auto& r : records) {
        auto [it, added] = userIndex.emplace(r.user, unknown);
        if (added) {
            ++unknown;
        }
        test.push_back({it->second, r.item, static_cast<float>(r.stars)});
    }
    Print("test", Evaluate(all, test, numUsers, static_cast<std::uint32_t>(data.movies.size()), o.settings));
}

// K-fold cross-validation over a seeded shuffle of the ratings (fold = position modulo K), each fold and the mean.
void RunFolds(const std::vector<Rating>& all, std::uint32_t numUsers, std::uint32_t numItems, const Options& o) {
    std::vector<std::size_t> order(all.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    quillory::model::CRandom random(static_cast<std::uint64_t>(o.seed));
    for (std::size_t i = order.size(); i > 1; --i) {
        std::swap(order[i - 1], order[random.Next() % i]);
    }
    std::vector<int> foldOf(all.size());
    for (std::size_t p = 0; p < order.size(); ++p) {
        foldOf[order[p]] = static_cast<int>(p % static_cast<std::size_t>(o.folds));
    }
    const auto folds = static_cast<double>(o.folds);
    Scores mean;
    for (int fold = 0; fold < o.folds; ++fold) {
        std::vector<Rating> train;
        TestSet test;
        for (std::size_t j = 0; j < all.size(); ++j) {
            (foldOf[j] == fold ? test : train).push_back(all[j]);
        }
        const Scores s = Evaluate(train, test, numUsers, numItems, o.settings);
        char label[32];
        std::snprintf(label, sizeof label, "fold %d", fold + 1);
        Print(label, s);
        std::fflush(stdout);
        mean.rmse += s.rmse / folds;
        mean.mae += s.mae / folds;
        mean.baselineRmse += s.baselineRmse / folds;
        mean.baselineMae += s.baselineMae / folds;
        mean.trainSeconds += s.trainSeconds / folds;
        mean.nanosPerPrediction += s.nanosPerPrediction / folds;
        mean.tests += s.tests;
    }
    Print("mean", mean);
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArguments(argc, argv, o)) {
        return 2;
    }
    try {
        const auto loadStart = Clock::now();
        const quillory::data::DataSet data = quillory::data::LoadDataSet(quillory::data::ReadManifest(o.manifestPath));
        const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();
        const auto numUsers = static_cast<std::uint32_t>(data.users.size());
        const auto numItems = static_cast<std::uint32_t>(data.movies.size());
        std::vector<Rating> all;
        all.reserve(data.ratings.size());
        for (const auto& r : data.ratings) {
            all.push_back({r.userIndex, r.item, static_cast<float>(r.stars)});
        }
        std::printf("data: %u users, %u movies, %zu ratings (loaded in %.2f s)", numUsers, numItems, all.size(),
                    loadSeconds);
        if (o.topN) {
            std::printf("\n");
            quillory::eval::RunTopN(all, numUsers, numItems, o.topNOptions);
        } else if (o.newcomers) {
            std::printf("\n");
            quillory::eval::RunNewcomers(all, numUsers, numItems, o.newcomerOptions);
        } else {
            std::printf("; model: %s\n", o.settings.Describe().c_str());
            if (!o.testPath.empty()) {
                RunTestFile(data, all, o);
            } else {
                RunFolds(all, numUsers, numItems, o);
            }
        }
    } catch (const CMException& e) {
        std::fprintf(stderr, "quillory-eval: %s: %s\n", e.GetCaption().c_str(), e.GetText().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillory-eval: %s\n", e.what());
        return 1;
    }
    return 0;
}
