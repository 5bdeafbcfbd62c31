#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ModelTestData.h"
#include "RatingModel.h"

namespace quillory::model {
namespace {

using test::LowRankData;
using test::MakeLowRankData;
using test::QuickSettings;
using test::Rmse;

TEST(RatingModel, RecoversWithheldCellsOfALowRankMatrix) {
    const LowRankData data = MakeLowRankData(60, 40);
    CRatingModel model(QuickSettings());
    model.Train(data.train, data.users, data.items);

    const double modelRmse = Rmse(data.withheld, [&](auto u, auto i) { return model.Predict(u, i); });
    const double baselineRmse = Rmse(data.withheld, [&](auto u, auto i) { return model.PredictBaseline(u, i); });
    EXPECT_LT(modelRmse, 0.2);
    EXPECT_LT(modelRmse, 0.5 * baselineRmse);
}

TEST(RatingModel, SameRatingsGiveIdenticalPredictions) {
    const LowRankData data = MakeLowRankData(30, 20);
    CRatingModel first(QuickSettings()), second(QuickSettings());
    first.Train(data.train, data.users, data.items);
    second.Train(data.train, data.users, data.items);
    for (std::uint32_t u = 0; u < data.users; ++u) {
        for (std::uint32_t i = 0; i < data.items; ++i) {
            ASSERT_EQ(first.Predict(u, i), second.Predict(u, i)) << u << "," << i;
        }
    }

    // Another seed is another chain: the settings really reach the sampler.
    ModelSettings otherSeed = QuickSettings();
    otherSeed.seed += 1;
    CRatingModel third(otherSeed);
    third.Train(data.train, data.users, data.items);
    EXPECT_NE(first.Predict(0, 0), third.Predict(0, 0));
    EXPECT_NE(first.Settings().Describe(), third.Settings().Describe());
}

TEST(RatingModel, FoldInMovesPredictionsTowardTheNewRatings) {
    const LowRankData data = MakeLowRankData(60, 40);
    CRatingModel model(QuickSettings());
    model.Train(data.train, data.users, data.items);

    // A user the model has never seen gets the item's baseline, then follows his own ratings.
    const std::uint32_t newcomer = data.users + 1000;
    const double before = model.Predict(newcomer, 5);
    std::vector<std::pair<std::uint32_t, float>> high, low;
    for (std::uint32_t i = 0; i < 20; ++i) {
        high.emplace_back(i, 5.0F);
        low.emplace_back(i, 1.0F);
    }
    model.FoldInUser(newcomer, high);
    const double afterHigh = model.Predict(newcomer, 5);
    EXPECT_GT(afterHigh, before + 0.5);
    EXPECT_GT(model.Predict(newcomer, 30), before);
    model.FoldInUser(newcomer, low);
    EXPECT_LT(model.Predict(newcomer, 5), before - 0.5);

    // A trained user is solved again from his full list of ratings.
    const double trained = model.Predict(3, 5);
    model.FoldInUser(3, low);
    EXPECT_LT(model.Predict(3, 5), trained - 0.5);
    EXPECT_LT(model.PredictBaseline(3, 5), trained);

    // Folding a trained user in with his own training ratings reproduces what training gave him.
    CRatingModel again(QuickSettings());
    again.Train(data.train, data.users, data.items);
    std::vector<std::pair<std::uint32_t, float>> own;
    for (const Rating& r : data.train) {
        if (r.user == 7) {
            own.emplace_back(r.item, r.value);
        }
    }
    const double trainedSeven = again.Predict(7, 2);
    again.FoldInUser(7, own);
    EXPECT_NEAR(again.Predict(7, 2), trainedSeven, 1e-4);

    // Folding a user in with no ratings leaves him where a user nobody knows stands.
    model.FoldInUser(newcomer + 1, {});
    EXPECT_NEAR(model.Predict(newcomer + 1, 5), before, 1e-6);

    // Items the model does not know are ignored instead of read out of range.
    model.FoldInUser(newcomer, std::vector<std::pair<std::uint32_t, float>>{{data.items + 5, 5.0F}});
    EXPECT_TRUE(std::isfinite(model.Predict(newcomer, 0)));
}

TEST(RatingModel, PredictionsStayWithinTheScaleForAnyUserAndData) {
    auto checkAll = [](const CRatingModel& model, std::uint32_t users, std::uint32_t items) {
        for (std::uint32_t u : {0u, users, users + 1, 1000000u, std::numeric_limits<std::uint32_t>::max()}) {
            for (std::uint32_t i = 0; i < items; ++i) {
                const double p = model.Predict(u, i);
                const double b = model.PredictBaseline(u, i);
                ASSERT_TRUE(p >= 1.0 && p <= 5.0) << p;
                ASSERT_TRUE(b >= 1.0 && b <= 5.0) << b;
            }
        }
    };

    // Every rating 5, or every rating 1: the predictions stay on the scale.
    for (float value : {5.0F, 1.0F}) {
        std::vector<Rating> ratings;
        for (std::uint32_t u = 0; u < 20; ++u) {
            for (std::uint32_t i = 0; i < 10; ++i) {
                ratings.push_back({u, i, value});
            }
        }
        CRatingModel model(QuickSettings());
        model.Train(ratings, 20, 10);
        checkAll(model, 20, 10);
        EXPECT_NEAR(model.Predict(3, 3), value, 0.3);
    }

    // No ratings at all, one rating, and users or items without any.
    CRatingModel empty(QuickSettings());
    empty.Train({}, 5, 5);
    checkAll(empty, 5, 5);
    const std::vector<Rating> one{{0, 0, 4.0F}};
    CRatingModel single(QuickSettings());
    single.Train(one, 5, 5);
    checkAll(single, 5, 5);

    // An untrained model answers too.
    CRatingModel untrained;
    EXPECT_EQ(untrained.Predict(0, 0), untrained.PredictBaseline(0, 0));

    // A rating outside the stated counts is a caller's error, reported rather than written out of bounds.
    CRatingModel model(QuickSettings());
    const std::vector<Rating> outside{{7, 0, 3.0F}};
    EXPECT_THROW(model.Train(outside, 5, 5), std::invalid_argument);
}

TEST(RatingModel, NeverFallsBehindTheBaselineWhereOnlyBiasesCarrySignal) {
    // Ratings are user bias + item bias + heavy noise, and each user rates a few items: nothing for factors to find.
    std::vector<Rating> train, withheld;
    std::uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    for (std::uint32_t u = 0; u < 400; ++u) {
        for (int k = 0; k < 6; ++k) {
            const auto item = static_cast<std::uint32_t>(next() * 120);
            const double noise = (next() + next() + next() - 1.5) * 2.0;
            const double value =
                std::clamp(3.3 + 0.5 * std::sin(u * 1.7) + 0.6 * std::cos(item * 0.9) + noise, 1.0, 5.0);
            (k == 0 ? withheld : train).push_back({u, item, static_cast<float>(value)});
        }
    }
    CRatingModel model;
    model.Train(train, 400, 120);
    const double modelRmse = Rmse(withheld, [&](auto u, auto i) { return model.Predict(u, i); });
    const double baselineRmse = Rmse(withheld, [&](auto u, auto i) { return model.PredictBaseline(u, i); });
    EXPECT_LT(modelRmse, baselineRmse + 0.01);
    EXPECT_FALSE(model.Summary().empty());
}

TEST(RatingModel, ItemNeighbourhoodAddsWhatTheFactorsMissAndFoldsIn) {
    const LowRankData data = test::MakePairedItemData(200, 60);
    ModelSettings withoutSettings = QuickSettings();
    withoutSettings.neighbours = 0;
    CRatingModel without(withoutSettings);
    without.Train(data.train, data.users, data.items);
    CRatingModel model(QuickSettings());
    model.Train(data.train, data.users, data.items);
    EXPECT_NE(model.Summary().find("neighbours"), std::string::npos) << model.Summary();
    EXPECT_EQ(without.Summary().find("neighbours"), std::string::npos) << without.Summary();
    const double plainRmse = Rmse(data.withheld, [&](auto u, auto i) { return without.Predict(u, i); });
    const double blendRmse = Rmse(data.withheld, [&](auto u, auto i) { return model.Predict(u, i); });
    EXPECT_LT(blendRmse, plainRmse - 0.1) << plainRmse;

    // A trained user folded in with his own ratings predicts as before; a newcomer who rated one item of a pair
    // is steered by it on the other one, beyond what the factors alone give him.
    std::vector<std::pair<std::uint32_t, float>> own;
    for (const Rating& r : data.train) {
        if (r.user == 9) {
            own.emplace_back(r.item, r.value);
        }
    }
    std::vector<double> before;
    for (std::uint32_t i = 0; i < data.items; ++i) {
        before.push_back(model.Predict(9, i));
    }
    model.FoldInUser(9, own);
    for (std::uint32_t i = 0; i < data.items; ++i) {
        EXPECT_NEAR(model.Predict(9, i), before[i], 1e-4) << i;
    }

    // Whoever rated what a trained user rated, in any order, is predicted as he is: for light raters, whose
    // ratings are searched, and for heavy ones (64 and more), whose ratings are looked up in a bit set.
    std::vector<std::vector<std::pair<std::uint32_t, float>>> byUser(data.users);
    for (const Rating& r : data.train) {
        byUser[r.user].emplace_back(r.item, r.value);
    }
    std::uint32_t light = data.users, heavy = data.users;
    for (std::uint32_t u = 0; u < data.users; ++u) {
        (byUser[u].size() < 64 ? light : heavy) = u;
    }
    ASSERT_LT(light, data.users);
    ASSERT_LT(heavy, data.users);
    for (const std::uint32_t u : {light, heavy}) {
        std::vector<std::pair<std::uint32_t, float>> reversed(byUser[u].rbegin(), byUser[u].rend());
        const std::uint32_t twin = data.users + 100 + u;
        model.FoldInUser(twin, reversed);
        for (std::uint32_t i = 0; i < data.items; ++i) {
            ASSERT_NEAR(model.Predict(twin, i), model.Predict(u, i), 1e-4) << u << "," << i;
        }
    }

    // A newcomer who liked or disliked one item of a pair is steered by it on the other one, far beyond what the
    // factors alone give him: with few ratings (searched) and with many (looked up in a bit set).
    for (const std::uint32_t pairsRated : {10u, 32u}) {
        const std::uint32_t newcomer = data.users + 5;
        std::vector<std::pair<std::uint32_t, float>> likes, dislikes;
        for (std::uint32_t i = 0; i < 2 * pairsRated; ++i) {
            likes.emplace_back(i, 4.0F);
            dislikes.emplace_back(i, 4.0F);
        }
        likes.emplace_back(2 * 50, 5.0F);
        dislikes.emplace_back(2 * 50, 1.0F);
        model.FoldInUser(newcomer, likes);
        without.FoldInUser(newcomer, likes);
        const double liked = model.Predict(newcomer, 2 * 50 + 1);
        const double likedPlain = without.Predict(newcomer, 2 * 50 + 1);
        model.FoldInUser(newcomer, dislikes);
        without.FoldInUser(newcomer, dislikes);
        const double swing = liked - model.Predict(newcomer, 2 * 50 + 1);
        EXPECT_GT(swing, likedPlain - without.Predict(newcomer, 2 * 50 + 1) + 0.5) << pairsRated;
    }
}

TEST(RatingModel, BaselineOnlySettingsAndHeavyRatersWork) {
    const LowRankData data = MakeLowRankData(40, 120);
    ModelSettings baselineOnly = QuickSettings();
    baselineOnly.factors = 0;
    CRatingModel plain(baselineOnly);
    plain.Train(data.train, data.users, data.items);
    EXPECT_EQ(plain.Predict(3, 4), plain.PredictBaseline(3, 4));

    // Rows longer than the short-row kernel take the blocked path and give the same quality.
    CRatingModel model(QuickSettings());
    model.Train(data.train, data.users, data.items);
    EXPECT_LT(Rmse(data.withheld, [&](auto u, auto i) { return model.Predict(u, i); }), 0.2);
}

} // namespace
} // namespace quillory::model
