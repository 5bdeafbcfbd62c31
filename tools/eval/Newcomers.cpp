// The newcomers' mode of quillory-eval: how fast a list finds the movies a newcomer has seen, and how good his picks
// are after his first ratings. Users are left out of training whole, as if they had just registered; each walks
// down a list as a person scrolls one (WalkRules), and the picks he would get after 5, 10 and 15 of the ratings he
// gave on the way are scored against his other ratings of 4 or 5.

#include "Newcomers.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>

#include "Ease.h"
#include "Random.h"

namespace quillory::eval {

namespace {

using model::Rating;
using Clock = std::chrono::steady_clock;

bool Holds(const UserList& rated, std::uint32_t item) {
    return std::any_of(rated.begin(), rated.end(), [&](const auto& entry) { return entry.first == item; });
}

// The user's rating of `item` in `truth` (sorted by item), or none.
const std::pair<std::uint32_t, float>* RatingOf(const UserList& truth, std::uint32_t item) {
    const auto it = std::lower_bound(truth.begin(), truth.end(), std::make_pair(item, -1e30F));
    return it != truth.end() && it->first == item ? &*it : nullptr;
}

// Replaces `list` with the first `count` items of `order` that `rated` does not hold.
void TakeUnrated(const std::vector<std::uint32_t>& order, const UserList& rated, std::size_t count,
                 std::vector<std::uint32_t>& list) {
    list.clear();
    for (std::uint32_t item : order) {
        if (list.size() >= count) {
            break;
        }
        if (!Holds(rated, item)) {
            list.push_back(item);
        }
    }
}

double Spread(const std::vector<double>& values) {
    if (values.size() < 2) {
        return 0.0;
    }
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
    double variance = 0.0;
    for (double v : values) {
        variance += (v - mean) * (v - mean);
    }
    return std::sqrt(variance / double(values.size() - 1));
}

// What one training set gives the lists: each user's ratings, the items by rating count, the static list of
// popularity times entropy, the ranking model, and EASE's Gram matrix.
struct Trained {
    std::vector<UserList> rated;
    std::vector<std::uint32_t> byCount;
    std::vector<std::uint32_t> popularityEntropy;
    model::CRankingModel ranking;
    std::unique_ptr<CEase> ease;
    double trainSeconds = 0.0;

    Trained(const std::vector<Rating>& ratings, std::uint32_t numUsers, std::uint32_t numItems,
            const NewcomerOptions& options)
        : ranking(options.ranking) {
        rated.resize(numUsers);
        std::vector<std::uint32_t> count(numItems, 0);
        for (const Rating& r : ratings) {
            rated[r.user].emplace_back(r.item, r.value);
            ++count[r.item];
        }
        byCount.resize(numItems);
        std::iota(byCount.begin(), byCount.end(), 0U);
        std::stable_sort(byCount.begin(), byCount.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return count[a] > count[b]; });
        popularityEntropy = PopularityEntropyOrder(ratings, numItems);
        const auto start = Clock::now();
        ranking.Train(ratings, numUsers, numItems);
        trainSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!options.easeLambdas.empty()) {
            ease = std::make_unique<CEase>(rated, byCount, options.easeItems);
        }
    }

    ListSource Engine() const {
        return [this](const UserList& mine, std::size_t count, std::vector<std::uint32_t>& list) {
            list.clear();
            for (const model::RankedItem& pick : ranking.Rank(mine, count)) {
                list.push_back(pick.item);
            }
        };
    }
    static ListSource Static(const std::vector<std::uint32_t>& order) {
        return [&order](const UserList& mine, std::size_t count, std::vector<std::uint32_t>& list) {
            TakeUnrated(order, mine, count, list);
        };
    }
    // EASE's list, filled up from the most rated beyond the items it covers.
    ListSource Ease() const {
        return [this](const UserList& mine, std::size_t count, std::vector<std::uint32_t>& list) {
            ease->Rank(
                mine, [&](std::uint32_t item) { return Holds(mine, item); }, count, list);
            for (std::uint32_t item : byCount) {
                if (list.size() >= count) {
                    break;
                }
                if (!Holds(mine, item) && std::find(list.begin(), list.end(), item) == list.end()) {
                    list.push_back(item);
                }
            }
        };
    }
};

// The walks and the picks after them, in the order the table prints them.
enum WalkKind { kEngineWalk, kMostRatedWalk, kEntropyWalk, kWalkKinds };
enum PickKind { kEnginePicks, kEasePicks, kPopularPicks, kPickKinds };
const char* const kWalkNames[kWalkKinds] = {"newcomers' list", "most-rated list", "popularity x entropy"};
const char* const kPickNames[kPickKinds] = {"engine's picks", "EASE", "most popular"};
struct Row {
    WalkKind walk;
    PickKind picks;
};
const Row kRows[] = {{kEngineWalk, kEnginePicks},  {kEngineWalk, kEasePicks},       {kMostRatedWalk, kEnginePicks},
                     {kMostRatedWalk, kEasePicks}, {kMostRatedWalk, kPopularPicks}, {kEntropyWalk, kEnginePicks},
                     {kEntropyWalk, kEasePicks}};
constexpr std::size_t kRowCount = sizeof kRows / sizeof kRows[0];

// A mean built up user by user.
struct Mean {
    double sum = 0.0;
    std::size_t count = 0;
    void Add(std::optional<double> value) {
        if (value) {
            sum += *value;
            ++count;
        }
    }
    double Value() const { return count ? sum / double(count) : 0.0; }
};

// Chooses EASE's penalty on the validation users, fitted to the ratings of the users left: their walks down the
// most-rated list, and the NDCG after the last checkpoint.
double ChooseLambda(const Trained& fitting, const std::vector<UserList>& truth,
                    const std::vector<std::uint32_t>& validation, const NewcomerOptions& options, double& best) {
    std::vector<UserList> entered;
    entered.reserve(validation.size());
    for (std::uint32_t u : validation) {
        entered.push_back(EnteredAfter(WalkDown(truth[u], Trained::Static(fitting.byCount), options.walk),
                                       options.checkpoints.back()));
    }
    double chosen = options.easeLambdas.front();
    best = -1.0;
    const ListSource ease = fitting.Ease();
    std::vector<std::uint32_t> list;
    for (double lambda : options.easeLambdas) {
        fitting.ease->Fit(lambda);
        Mean ndcg;
        for (std::size_t k = 0; k < validation.size(); ++k) {
            ease(entered[k], options.depth, list);
            ndcg.Add(NewcomerNdcg(list, truth[validation[k]], entered[k], options.depth));
        }
        if (ndcg.Value() > best) {
            best = ndcg.Value();
            chosen = lambda;
        }
    }
    return chosen;
}

// What each row scored at each checkpoint on one split, and each walk's looks.
struct SplitOutcome {
    std::vector<std::vector<Mean>> ndcg; // row, checkpoint
    std::vector<std::vector<Walk>> walks;
};

SplitOutcome MeasureSplit(const Trained& trained, const std::vector<UserList>& truth,
                          const std::vector<std::uint32_t>& users, const NewcomerOptions& options) {
    SplitOutcome outcome;
    outcome.ndcg.assign(kRowCount, std::vector<Mean>(options.checkpoints.size()));
    outcome.walks.resize(kWalkKinds);
    const ListSource walkLists[kWalkKinds] = {trained.Engine(), Trained::Static(trained.byCount),
                                              Trained::Static(trained.popularityEntropy)};
    ListSource pickLists[kPickKinds] = {trained.Engine(), nullptr, Trained::Static(trained.byCount)};
    if (trained.ease) {
        pickLists[kEasePicks] = trained.Ease();
    }
    std::vector<std::uint32_t> list;
    for (std::uint32_t u : users) {
        Walk walks[kWalkKinds];
        for (int w = 0; w < kWalkKinds; ++w) {
            walks[w] = WalkDown(truth[u], walkLists[w], options.walk);
            outcome.walks[w].push_back(walks[w]);
        }
        for (std::size_t r = 0; r < kRowCount; ++r) {
            if (!pickLists[kRows[r].picks]) {
                continue;
            }
            for (std::size_t c = 0; c < options.checkpoints.size(); ++c) {
                const UserList entered = EnteredAfter(walks[kRows[r].walk], options.checkpoints[c]);
                pickLists[kRows[r].picks](entered, options.depth, list);
                outcome.ndcg[r][c].Add(NewcomerNdcg(list, truth[u], entered, options.depth));
            }
        }
    }
    return outcome;
}

void PrintTable(const std::vector<SplitOutcome>& splits, const NewcomerOptions& options) {
    const std::size_t target = options.walk.target;
    std::printf("\n%-22s movies looked at until %zu ratings: median, mean (never there, of walks); mean per split\n",
                "walk", target);
    for (int w = 0; w < kWalkKinds; ++w) {
        std::vector<Walk> all;
        std::vector<double> means;
        for (const SplitOutcome& s : splits) {
            all.insert(all.end(), s.walks[w].begin(), s.walks[w].end());
            means.push_back(SummariseLooked(s.walks[w], target).mean);
        }
        const LookedSummary sum = SummariseLooked(all, target);
        std::printf("%-22s %6.1f %7.1f  (%zu of %zu)   sd %.1f  ", kWalkNames[w], sum.median, sum.mean, sum.never,
                    sum.walks, Spread(means));
        for (double m : means) {
            std::printf(" %.1f", m);
        }
        std::printf("\n");
    }
    std::printf("\n%-42s", "walk -> picks: NDCG@10 after");
    for (std::size_t c : options.checkpoints) {
        std::printf("   %2zu ratings (sd) ", c);
    }
    std::printf("  after %zu, per split\n", options.checkpoints.back());
    for (std::size_t r = 0; r < kRowCount; ++r) {
        if (kRows[r].picks == kEasePicks && options.easeLambdas.empty()) {
            continue;
        }
        const std::string name = std::string(kWalkNames[kRows[r].walk]) + " -> " + kPickNames[kRows[r].picks];
        std::printf("%-42s", name.c_str());
        std::vector<double> last;
        for (std::size_t c = 0; c < options.checkpoints.size(); ++c) {
            std::vector<double> values;
            values.reserve(splits.size());
            for (const SplitOutcome& s : splits) {
                values.push_back(s.ndcg[r][c].Value());
            }
            const double mean = std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
            std::printf("   %.4f (%.4f)   ", mean, Spread(values));
            last = values;
        }
        std::printf(" ");
        for (double v : last) {
            std::printf(" %.4f", v);
        }
        std::printf("\n");
    }
}

} // namespace

Walk WalkDown(const UserList& truth, const ListSource& list, const WalkRules& rules) {
    Walk walk;
    std::vector<std::uint32_t> passed; // sorted
    std::vector<std::uint32_t> items;
    while (walk.rated.size() < rules.target && walk.looked < rules.maxLooked) {
        const std::size_t count = passed.size() + rules.fetch;
        list(walk.rated, count, items);
        bool rated = false;
        bool lookedAtOne = false;
        for (std::uint32_t item : items) {
            if (std::binary_search(passed.begin(), passed.end(), item) || Holds(walk.rated, item)) {
                continue;
            }
            ++walk.looked;
            lookedAtOne = true;
            if (const auto* mine = RatingOf(truth, item)) {
                walk.rated.push_back(*mine);
                walk.lookedAt.push_back(walk.looked);
                rated = true;
                break;
            }
            passed.insert(std::upper_bound(passed.begin(), passed.end(), item), item);
            if (walk.looked >= rules.maxLooked) {
                break;
            }
        }
        // A list shorter than asked for has run out; one that showed nothing new never will.
        if (!rated && (items.size() < count || !lookedAtOne)) {
            break;
        }
    }
    return walk;
}

UserList EnteredAfter(const Walk& walk, std::size_t count) {
    return UserList(walk.rated.begin(), walk.rated.begin() + std::ptrdiff_t(std::min(count, walk.rated.size())));
}

std::optional<double> NewcomerNdcg(const std::vector<std::uint32_t>& list, const UserList& truth,
                                   const UserList& entered, std::size_t depth) {
    auto hit = [&](std::uint32_t item) {
        const auto* mine = RatingOf(truth, item);
        return mine != nullptr && mine->second >= 4.0F && !Holds(entered, item);
    };
    std::size_t hits = 0;
    for (const auto& [item, value] : truth) {
        hits += hit(item) ? 1 : 0;
    }
    if (hits == 0) {
        return std::nullopt;
    }
    double dcg = 0.0, ideal = 0.0;
    for (std::size_t k = 0; k < std::min(depth, list.size()); ++k) {
        const auto before = list.begin() + std::ptrdiff_t(k);
        if (hit(list[k]) && std::find(list.begin(), before, list[k]) == before) {
            dcg += 1.0 / std::log2(double(k) + 2.0);
        }
    }
    for (std::size_t k = 0; k < std::min(depth, hits); ++k) {
        ideal += 1.0 / std::log2(double(k) + 2.0);
    }
    return dcg / ideal;
}

std::vector<std::vector<std::uint32_t>> HeldOutGroups(const std::vector<std::uint32_t>& ratingsPerUser,
                                                      std::size_t minRatings, std::uint64_t seed, int groups) {
    std::vector<std::uint32_t> users;
    for (std::uint32_t u = 0; u < ratingsPerUser.size(); ++u) {
        if (ratingsPerUser[u] >= minRatings) {
            users.push_back(u);
        }
    }
    model::CRandom random(seed);
    for (std::size_t i = users.size(); i > 1; --i) {
        std::swap(users[i - 1], users[random.Next() % i]);
    }
    std::vector<std::vector<std::uint32_t>> out(static_cast<std::size_t>(std::max(groups, 1)));
    for (std::size_t p = 0; p < users.size(); ++p) {
        out[p % out.size()].push_back(users[p]);
    }
    for (auto& group : out) {
        std::sort(group.begin(), group.end());
    }
    return out;
}

LookedSummary SummariseLooked(const std::vector<Walk>& walks, std::size_t target) {
    LookedSummary s;
    std::vector<double> looked;
    for (const Walk& walk : walks) {
        if (walk.rated.size() >= target && target > 0) {
            looked.push_back(double(walk.lookedAt[target - 1]));
        } else {
            looked.push_back(double(walk.looked));
            ++s.never;
        }
    }
    s.walks = looked.size();
    if (looked.empty()) {
        return s;
    }
    std::sort(looked.begin(), looked.end());
    const std::size_t half = looked.size() / 2;
    s.median = looked.size() % 2 ? looked[half] : (looked[half - 1] + looked[half]) / 2.0;
    s.mean = std::accumulate(looked.begin(), looked.end(), 0.0) / double(looked.size());
    return s;
}

std::vector<std::uint32_t> PopularityEntropyOrder(const std::vector<Rating>& ratings, std::uint32_t numItems) {
    std::vector<std::array<std::uint32_t, 5>> stars(numItems, std::array<std::uint32_t, 5>{});
    for (const Rating& r : ratings) {
        const auto star = static_cast<int>(std::lround(std::clamp(r.value, 1.0F, 5.0F)));
        ++stars[r.item][static_cast<std::size_t>(star - 1)];
    }
    std::vector<double> score(numItems, 0.0);
    for (std::uint32_t j = 0; j < numItems; ++j) {
        const double n = std::accumulate(stars[j].begin(), stars[j].end(), 0.0);
        double entropy = 0.0;
        for (std::uint32_t c : stars[j]) {
            if (c > 0) {
                entropy -= double(c) / n * std::log2(double(c) / n);
            }
        }
        score[j] = n * entropy;
    }
    std::vector<std::uint32_t> order(numItems);
    std::iota(order.begin(), order.end(), 0U);
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return score[a] > score[b]; });
    return order;
}

void RunNewcomers(const std::vector<Rating>& ratings, std::uint32_t numUsers, std::uint32_t numItems,
                  const NewcomerOptions& options) {
    std::vector<UserList> truth(numUsers);
    std::vector<std::uint32_t> perUser(numUsers, 0);
    for (const Rating& r : ratings) {
        truth[r.user].emplace_back(r.item, r.value);
        ++perUser[r.user];
    }
    for (UserList& mine : truth) {
        std::sort(mine.begin(), mine.end());
    }
    constexpr int kGroups = 10;
    std::uint64_t state = static_cast<std::uint64_t>(options.seed);
    const auto groups = HeldOutGroups(perUser, options.minRatings, model::SplitMix(state), kGroups);
    std::size_t eligible = 0;
    for (const auto& group : groups) {
        eligible += group.size();
    }
    std::printf("newcomers: the %zu users with at least %zu ratings in %d seeded groups (seed %lld); split k leaves "
                "group k out of training and walks its users down each list until %zu ratings or %zu movies looked "
                "at; a hit is one of his other ratings of 4 or 5; candidates are all movies he has not rated; EASE's "
                "penalty is chosen on validation users (one in ten of the training users with as many ratings)%s\n",
                eligible, options.minRatings, kGroups, options.seed, options.walk.target, options.walk.maxLooked,
                options.onValidation ? "; MEASURED ON THE VALIDATION USERS, for tuning" : "");
    std::fflush(stdout);
    std::vector<SplitOutcome> outcomes;
    const int splits = std::min(options.splits, kGroups);
    for (int s = 0; s < splits; ++s) {
        std::vector<char> heldOut(numUsers, 0);
        for (std::uint32_t u : groups[static_cast<std::size_t>(s)]) {
            heldOut[u] = 1;
        }
        std::vector<std::uint32_t> trainingCount(numUsers, 0);
        for (std::uint32_t u = 0; u < numUsers; ++u) {
            trainingCount[u] = heldOut[u] ? 0 : perUser[u];
        }
        const std::vector<std::uint32_t> validation =
            HeldOutGroups(trainingCount, options.minRatings, model::SplitMix(state), kGroups).front();
        std::vector<char> validating(numUsers, 0);
        for (std::uint32_t u : validation) {
            validating[u] = 1;
        }
        std::vector<Rating> training, fitting;
        for (const Rating& r : ratings) {
            if (!heldOut[r.user]) {
                training.push_back(r);
                if (!validating[r.user]) {
                    fitting.push_back(r);
                }
            }
        }
        const Trained fitted(fitting, numUsers, numItems, options);
        double lambda = 0.0, validationNdcg = 0.0;
        if (fitted.ease) {
            lambda = ChooseLambda(fitted, truth, validation, options, validationNdcg);
        }
        const std::vector<std::uint32_t>& users = options.onValidation ? validation : groups[std::size_t(s)];
        std::unique_ptr<Trained> owned;
        if (!options.onValidation) {
            owned = std::make_unique<Trained>(training, numUsers, numItems, options);
        }
        const Trained& trained = options.onValidation ? fitted : *owned;
        if (trained.ease) {
            trained.ease->Fit(lambda);
        }
        const auto start = Clock::now();
        outcomes.push_back(MeasureSplit(trained, truth, users, options));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("split %d: %zu users walked, %zu training ratings, %zu validation users; EASE lambda=%g "
                    "(validation NDCG@%zu %.4f); ranking model trained in %.2f s; walks and picks %.1f s; mean looked",
                    s + 1, users.size(), options.onValidation ? fitting.size() : training.size(), validation.size(),
                    lambda, options.depth, validationNdcg, trained.trainSeconds, seconds);
        for (int w = 0; w < kWalkKinds; ++w) {
            std::printf(" %.1f", SummariseLooked(outcomes.back().walks[w], options.walk.target).mean);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    PrintTable(outcomes, options);
}

} // namespace quillory::eval
