// quillory-eval: trains the prediction model on a manifest's ratings and reports its accuracy beside the bias
// baseline's, either on a separate test file or by K-fold cross-validation; with --topn it measures instead how
// well the ranking model puts the movies a user will like at the top of his list (TopN.cpp). It trains and scores on
// the 1..5 stars that the program itself stores and reports, so the figures measure what users see.

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
    std::fputs("usage: quillory-eval <manifest> [--test <ratings file>] [--folds K] [--seed S]\n"
               "                    [--model-seed S] [--factors F] [--burn-in B] [--samples N] [--implicit 0|1]\n"
               "                    [--validate 0|1] [--neighbours K] [--shrink S] [--damping D]\n"
               "                    [--budget W]\n"
               "       quillory-eval <manifest> --topn [--splits N] [--seed S] [--lambdas L1,L2,...] [--no-ease]\n"
               "                    [--rank-neighbours K] [--rank-pool P] [--rank-alpha A] [--rank-beta B]\n"
               "                    [--rank-low W] [--rank-blend G] [--rank-newcomer-blend G] [--rank-shrink S]\n"
               "Trains the prediction model on the manifest's ratings and prints RMSE and MAE of the model and of\n"
               "the bias baseline, the training time and the time per prediction. --test scores a ratings file in\n"
               "the manifest's ratings layout; --folds K (default 5 without --test) cross-validates instead.\n"
               "--topn prints precision, recall and NDCG at 10 of the most popular movies, EASE and the ranking\n"
               "model over N random 80/20 splits (default 5).\n",
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

bool ParseNumber(const char* text, double& value);

// A comma-separated list of non-negative numbers.
bool ParseList(const char* text, std::vector<double>& values) {
    values.clear();
    std::string all = text ? text : "";
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = std::min(all.find(',', start), all.size());
        double value = 0.0;
        if (!ParseNumber(all.substr(start, end - start).c_str(), value)) {
            return false;
        }
        values.push_back(value);
        start = end + 1;
    }
    return !values.empty();
}

bool ParseNumber(const char* text, double& value) {
    if (!text || !*text) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && *end == '\0' && std::isfinite(value) && value >= 0.0;
}

} // namespace

int main(int argc, char** argv) {
    std::string manifestPath, testPath;
    long long folds = 0, seed = 1;
    ModelSettings settings = ModelSettings::Defaults();
    bool topN = false;
    quillory::eval::TopNOptions topNOptions;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        long long number = 0;
        double real = 0.0;
        if (arg == "--topn") {
            topN = true;
            continue;
        }
        if (arg == "--no-ease") {
            topNOptions.easeLambdas.clear();
            continue;
        }
        quillory::model::RankingSettings& rank = topNOptions.ranking;
        if (arg == "--splits" && ParseInt(next, number) && number >= 1 && number <= 100) {
            topNOptions.splits = static_cast<int>(number);
        } else if (arg == "--lambdas" && next && !ParseList(next, topNOptions.easeLambdas)) {
            Usage();
            return 2;
        } else if (arg == "--lambdas" && next) {
            // parsed above
        } else if (arg == "--rank-neighbours" && ParseInt(next, number) && number >= 1 && number <= 100000) {
            rank.neighbours = static_cast<std::size_t>(number);
        } else if (arg == "--rank-pool" && ParseInt(next, number) && number >= 0 && number <= 1000000) {
            rank.newcomerPool = static_cast<std::size_t>(number);
        } else if (arg == "--rank-alpha" && ParseNumber(next, real)) {
            rank.alpha = real;
        } else if (arg == "--rank-beta" && ParseNumber(next, real)) {
            rank.beta = real;
        } else if (arg == "--rank-low" && next && std::isfinite(real = std::strtod(next, nullptr))) {
            rank.lowWeight = real;
        } else if (arg == "--rank-newcomer-blend" && ParseNumber(next, real) && real <= 1.0) {
            rank.newcomerBlend = real;
        } else if (arg == "--rank-blend" && ParseNumber(next, real) && real <= 1.0) {
            rank.popularityBlend = real;
        } else if (arg == "--rank-shrink" && ParseNumber(next, real)) {
            rank.newcomerShrink = real;
        } else if (arg == "--test" && next) {
            testPath = next;
        } else if (arg == "--folds" && ParseInt(next, number) && number >= 2 && number <= 100) {
            folds = number;
        } else if (arg == "--seed" && ParseInt(next, number)) {
            seed = number;
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
        } else if (!arg.starts_with("--") && manifestPath.empty()) {
            manifestPath = argv[i];
            continue;
        } else {
            Usage();
            return 2;
        }
        ++i;
    }
    if (manifestPath.empty()) {
        Usage();
        return 2;
    }
    if (topN && (!testPath.empty() || folds != 0)) {
        std::fputs("quillory-eval: --topn excludes --test and --folds\n", stderr);
        return 2;
    }
    if (testPath.empty() && folds == 0) {
        folds = 5;
    }
    if (!testPath.empty() && folds != 0) {
        std::fputs("quillory-eval: --test and --folds exclude each other\n", stderr);
        return 2;
    }

    try {
        const auto loadStart = Clock::now();
        const quillory::data::DataSet data = quillory::data::LoadDataSet(quillory::data::ReadManifest(manifestPath));
        const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();
        const auto numUsers = static_cast<std::uint32_t>(data.users.size());
        const auto numItems = static_cast<std::uint32_t>(data.movies.size());
        std::vector<Rating> all;
        all.reserve(data.ratings.size());
        for (const auto& r : data.ratings) {
            all.push_back({r.userIndex, r.item, static_cast<float>(r.stars)});
        }
        if (topN) {
            std::printf("data: %u users, %u movies, %zu ratings (loaded in %.2f s)\n", numUsers, numItems, all.size(),
                        loadSeconds);
            topNOptions.seed = seed;
            quillory::eval::RunTopN(all, numUsers, numItems, topNOptions);
            return 0;
        }
        std::printf("data: %u users, %u movies, %zu ratings (loaded in %.2f s); model: %s\n", numUsers, numItems,
                    all.size(), loadSeconds, settings.Describe().c_str());

        if (!testPath.empty()) {
            const auto records = quillory::data::LoadRatingsFile(testPath, data.manifest.format, data.movies);
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
            Print("test", Evaluate(all, test, numUsers, numItems, settings));
            return 0;
        }

        // Deterministic K-fold split: a seeded shuffle of the ratings, fold = position modulo K.
        std::vector<std::size_t> order(all.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        quillory::model::CRandom random(static_cast<std::uint64_t>(seed));
        for (std::size_t i = order.size(); i > 1; --i) {
            std::swap(order[i - 1], order[random.Next() % i]);
        }
        std::vector<int> foldOf(all.size());
        for (std::size_t p = 0; p < order.size(); ++p) {
            foldOf[order[p]] = static_cast<int>(p % static_cast<std::size_t>(folds));
        }

        Scores mean;
        for (int fold = 0; fold < folds; ++fold) {
            std::vector<Rating> train;
            TestSet test;
            for (std::size_t j = 0; j < all.size(); ++j) {
                (foldOf[j] == fold ? test : train).push_back(all[j]);
            }
            const Scores s = Evaluate(train, test, numUsers, numItems, settings);
            char label[32];
            std::snprintf(label, sizeof label, "fold %d", fold + 1);
            Print(label, s);
            std::fflush(stdout);
            mean.rmse += s.rmse / static_cast<double>(folds);
            mean.mae += s.mae / static_cast<double>(folds);
            mean.baselineRmse += s.baselineRmse / static_cast<double>(folds);
            mean.baselineMae += s.baselineMae / static_cast<double>(folds);
            mean.trainSeconds += s.trainSeconds / static_cast<double>(folds);
            mean.nanosPerPrediction += s.nanosPerPrediction / static_cast<double>(folds);
            mean.tests += s.tests;
        }
        Print("mean", mean);
    } catch (const CMException& e) {
        std::fprintf(stderr, "quillory-eval: %s: %s\n", e.GetCaption().c_str(), e.GetText().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillory-eval: %s\n", e.what());
        return 1;
    }
    return 0;
}
