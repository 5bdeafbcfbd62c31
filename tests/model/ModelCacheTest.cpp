#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Checksum.h"
#include "EngineFixtures.h"
#include "ModelTestData.h"
#include "RatingModel.h"

namespace quillory::model {
namespace {

namespace fs = std::filesystem;

// The value of `value`'s type at `offset` in a file's bytes, widened.
template <class T> std::uint64_t ValueAt(const std::vector<char>& bytes, std::size_t offset, T value) {
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return static_cast<std::uint64_t>(value);
}

class ModelCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_data = test::MakeLowRankData(30, 20);
        m_model = CRatingModel(test::QuickSettings());
        m_model.Train(m_data.train, m_data.users, m_data.items);
    }
    std::vector<char> ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void WriteBytes(const fs::path& path, const std::vector<char>& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    void ExpectSamePredictions(const CRatingModel& a, const CRatingModel& b) {
        for (std::uint32_t u = 0; u < m_data.users + 2; ++u) {
            for (std::uint32_t i = 0; i < m_data.items; ++i) {
                ASSERT_EQ(a.Predict(u, i), b.Predict(u, i)) << u << "," << i;
                ASSERT_EQ(a.PredictBaseline(u, i), b.PredictBaseline(u, i)) << u << "," << i;
            }
        }
    }

    quillory::test::CTempFolder m_temp;
    fs::path m_folder = m_temp.Path();
    test::LowRankData m_data;
    CRatingModel m_model;
};

TEST_F(ModelCacheTest, SavedModelLoadsWithIdenticalPredictionsAndFoldIns) {
    const fs::path file = m_folder / "model.cache";
    m_model.Save(file, "data-A");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1); // no temporary left

    CRatingModel loaded(test::QuickSettings());
    ASSERT_TRUE(loaded.Load(file, "data-A", m_data.train));
    ExpectSamePredictions(m_model, loaded);

    // Fold-in reads the averaged sample's parameters and prior, so it must work the same on a loaded model.
    const std::vector<std::pair<std::uint32_t, float>> ratings{{1, 5.0F}, {2, 4.0F}, {7, 1.0F}};
    m_model.FoldInUser(100, ratings);
    loaded.FoldInUser(100, ratings);
    m_model.FoldInUser(4, ratings);
    loaded.FoldInUser(4, ratings);
    for (std::uint32_t i = 0; i < m_data.items; ++i) {
        EXPECT_EQ(m_model.Predict(100, i), loaded.Predict(100, i));
        EXPECT_EQ(m_model.Predict(4, i), loaded.Predict(4, i));
    }
}

TEST_F(ModelCacheTest, ItemNeighbourhoodIsSavedAndFoldsInAlikeAfterLoading) {
    const test::LowRankData data = test::MakePairedItemData(200, 60);
    CRatingModel model(test::QuickSettings());
    model.Train(data.train, data.users, data.items);
    ASSERT_NE(model.Summary().find("neighbours"), std::string::npos) << model.Summary();
    const fs::path file = m_folder / "model.cache";
    model.Save(file, "data-B");
    CRatingModel loaded(test::QuickSettings());
    ASSERT_TRUE(loaded.Load(file, "data-B", data.train));

    const std::vector<std::pair<std::uint32_t, float>> ratings{{0, 5.0F}, {2, 1.0F}, {4, 4.0F}, {40, 2.0F}};
    for (CRatingModel* each : {&model, &loaded}) {
        each->FoldInUser(data.users + 3, ratings);
        each->FoldInUser(6, ratings);
    }
    for (std::uint32_t u : {0u, 6u, 17u, data.users + 3, data.users + 4}) {
        for (std::uint32_t i = 0; i < data.items; ++i) {
            ASSERT_EQ(model.Predict(u, i), loaded.Predict(u, i)) << u << "," << i;
        }
    }

    // The rated lists come from the ratings handed to the load, which must be those the model was trained on.
    const auto changed = [&](const std::function<void(std::vector<Rating>&)>& change) {
        std::vector<Rating> ratings = data.train;
        change(ratings);
        return ratings;
    };
    const std::pair<const char*, std::vector<Rating>> handed[] = {
        {"one rating fewer", changed([](std::vector<Rating>& r) { r.pop_back(); })},
        {"an item beyond the items", changed([&](std::vector<Rating>& r) { r[5].item = data.items; })},
        {"a user beyond the users", changed([&](std::vector<Rating>& r) { r.back().user = data.users; })},
        {"none", {}},
    };
    for (const auto& [what, ratings] : handed) {
        CRatingModel refused(test::QuickSettings());
        EXPECT_FALSE(refused.Load(file, "data-B", ratings)) << what;
    }
    CRatingModel reordered(test::QuickSettings());
    ASSERT_TRUE(
        reordered.Load(file, "data-B", changed([](std::vector<Rating>& r) { std::reverse(r.begin(), r.end()); })));
    for (std::uint32_t i = 0; i < data.items; ++i) {
        ASSERT_EQ(reordered.Predict(17, i), model.Predict(17, i)) << i; // user 17 is not folded in above
    }

    // Where the held-out check's chain is the model (a held-out sample rather than a tenth), the trained model
    // lists every rating too, so that loading it gives the same predictions.
    ModelSettings sampled = test::QuickSettings();
    sampled.heldOutLimit = 100;
    CRatingModel checked(sampled);
    checked.Train(data.train, data.users, data.items);
    ASSERT_NE(checked.Summary().find("neighbours"), std::string::npos) << checked.Summary();
    checked.Save(file, "data-S");
    CRatingModel checkedLoaded(sampled);
    ASSERT_TRUE(checkedLoaded.Load(file, "data-S", data.train));
    for (std::uint32_t u = 0; u < data.users; ++u) {
        for (std::uint32_t i = 0; i < data.items; ++i) {
            ASSERT_EQ(checked.Predict(u, i), checkedLoaded.Predict(u, i)) << u << "," << i;
        }
    }

    // The file of a model with a neighbourhood is checked as strictly as any: cut short, it is refused.
    model.Save(file, "data-B");
    std::vector<char> bytes = ReadBytes(file);
    bytes.resize(bytes.size() - 100);
    WriteBytes(file, bytes);
    CRatingModel truncated(test::QuickSettings());
    EXPECT_FALSE(truncated.Load(file, "data-B", data.train));
}

TEST_F(ModelCacheTest, FileLengthFollowsFromItsHeaderInEveryLayout) {
    // Format 8: magic, version (u32), fingerprint length (u64) and bytes, users, items, factors, sweeps (u32),
    // implicit, neighbours (u8), links, rated, packed link bytes (u64), mean (f32); then the parts those counts call
    // for, one averaged sample of factors; a checksum. Of the rated lists only their residuals: the ratings are handed
    // to the load. 30 users, 20 items, rank 4.
    struct Layout {
        const char* name;
        int factors;
        bool implicit;
        bool pairedData;     // the paired data keeps an item neighbourhood, the low-rank data none
        std::uint64_t bytes; // the whole file (0: depends on the neighbours found)
    };
    const Layout layouts[] = {
        {"baseline", 0, false, false, 276},
        {"factors", 4, false, false, 1944},
        {"implicit", 4, true, false, 2344},
        {"neighbours", 4, true, true, 0},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        ModelSettings settings = test::QuickSettings();
        settings.factors = layout.factors;
        settings.implicitFeedback = layout.implicit;
        const test::LowRankData data = layout.pairedData ? test::MakePairedItemData(200, 60) : m_data;
        CRatingModel model(settings);
        model.Train(data.train, data.users, data.items);
        const fs::path file = m_folder / "layout.cache";
        model.Save(file, "fp");
        const std::vector<char> bytes = ReadBytes(file);

        const auto at = [&](std::size_t offset, auto value) { return ValueAt(bytes, offset, value); };
        ASSERT_EQ(std::string(bytes.data(), 8), "QLRMODEL");
        EXPECT_EQ(at(8, std::uint32_t{}), 8u);
        ASSERT_EQ(at(12, std::uint64_t{}), 2u);
        const std::uint64_t users = at(22, std::uint32_t{}), items = at(26, std::uint32_t{});
        const std::uint64_t k = at(30, std::uint32_t{}), sweeps = at(34, std::uint32_t{});
        const std::uint64_t implicit = at(38, std::uint8_t{}), neighbours = at(39, std::uint8_t{});
        const std::uint64_t links = at(40, std::uint64_t{}), rated = at(48, std::uint64_t{});
        const std::uint64_t linkBytes = at(56, std::uint64_t{});
        EXPECT_EQ(k, static_cast<std::uint64_t>(layout.factors));
        EXPECT_EQ(sweeps, layout.factors > 0 ? 20u : 0u);
        EXPECT_EQ(implicit, layout.implicit ? 1u : 0u);
        ASSERT_EQ(neighbours, layout.pairedData ? 1u : 0u);
        if (!neighbours) {
            EXPECT_EQ(bytes.size(), layout.bytes);
            continue;
        }
        // Each list's count and each index gap take a byte or more; weights and residuals two bytes each.
        EXPECT_EQ(rated, data.train.size());
        EXPECT_GE(linkBytes, items + links);
        const std::uint64_t d = k + 1;
        EXPECT_EQ(bytes.size(), 68 + (users + items) * 4 * (2 + k) + (k + 1) * 4 + (d + d * d + 1) * 8 + items * d * 8 +
                                    4 + linkBytes + links * 2 + rated * 2 + 8);
    }
}

TEST_F(ModelCacheTest, PackedListsThatLeaveTheirArraysAreRefusedUnderAGoodChecksum) {
    // 200 users, 120 items: each list's count and its first index fit in one byte. The checksum finds damage, not
    // a file made to pass it, so each bad list below comes with a checksum that matches.
    const test::LowRankData data = test::MakePairedItemData(200, 60);
    CRatingModel model(test::QuickSettings());
    model.Train(data.train, data.users, data.items);
    const fs::path file = m_folder / "model.cache";
    model.Save(file, "fp");
    const std::vector<char> good = ReadBytes(file);
    const auto at = [&](std::size_t offset, auto value) { return ValueAt(good, offset, value); };
    const std::uint64_t users = at(22, std::uint32_t{}), items = at(26, std::uint32_t{}), k = at(30, std::uint32_t{});
    const std::uint64_t d = k + 1, links = at(40, std::uint64_t{}), linkBytes = at(56, std::uint64_t{});
    ASSERT_TRUE(k > 0 && at(38, std::uint8_t{}) == 1 && at(39, std::uint8_t{}) == 1);
    // Header, biases, factors, item spreads, prior, hyperparameters, implicit vectors, neighbour weight.
    const std::size_t linksAt =
        68 + (users + items) * 4 * (2 + k) + items * d * 4 + (k + 1) * 4 + (d + d * d + 1) * 8 + items * d * 4 + 4;
    ASSERT_EQ(good.size(), linksAt + linkBytes + links * 2 + at(48, std::uint64_t{}) * 2 + 8);
    ASSERT_GT(good[linksAt], 0);
    struct Change {
        const char* what;
        std::size_t offset;
        char byte;
        bool loads;
    };
    const Change changes[] = {
        {"the first link's own index, unchanged", linksAt + 1, good[linksAt + 1], true},
        {"a neighbour beyond the items", linksAt + 1, 0x7f, false},
        {"a neighbour count past the links", linksAt, 0x7f, false},
        {"a link number that never ends", linksAt + linkBytes - 1, char(0x81), false},
    };
    for (const Change& change : changes) {
        std::vector<char> bytes = good;
        bytes[change.offset] = change.byte;
        const std::size_t body = bytes.size() - 8;
        const std::uint64_t sum = Checksum(reinterpret_cast<const unsigned char*>(bytes.data()), body);
        std::memcpy(bytes.data() + body, &sum, sizeof sum);
        WriteBytes(file, bytes);
        CRatingModel loaded(test::QuickSettings());
        EXPECT_EQ(loaded.Load(file, "fp", data.train), change.loads) << change.what;
    }
}

TEST_F(ModelCacheTest, MissingStaleTruncatedOrCorruptFilesAreRefused) {
    const fs::path file = m_folder / "model.cache";
    CRatingModel other(test::QuickSettings());
    EXPECT_FALSE(other.Load(file, "data-A", m_data.train));
    EXPECT_FALSE(other.Load(m_folder, "data-A", m_data.train)); // a folder, not a file

    m_model.Save(file, "data-A");
    EXPECT_FALSE(other.Load(file, "data-B", m_data.train));
    EXPECT_FALSE(other.Load(file, "data-A ", m_data.train));
    EXPECT_FALSE(other.Load(file, "", m_data.train));

    const std::vector<char> good = ReadBytes(file);
    ASSERT_GT(good.size(), 100u);
    for (std::size_t keep : {std::size_t{0}, std::size_t{7}, good.size() / 2, good.size() - 1}) {
        WriteBytes(file, std::vector<char>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(keep)));
        EXPECT_FALSE(other.Load(file, "data-A", m_data.train)) << "truncated to " << keep;
    }
    for (std::size_t at : {std::size_t{0}, std::size_t{12}, std::size_t{40}, good.size() / 3, good.size() - 3}) {
        std::vector<char> bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x10);
        WriteBytes(file, bad);
        EXPECT_FALSE(other.Load(file, "data-A", m_data.train)) << "byte " << at << " flipped";
    }
    std::vector<char> longer = good;
    longer.push_back('x');
    WriteBytes(file, longer);
    EXPECT_FALSE(other.Load(file, "data-A", m_data.train));

    // A refused load leaves the model as it was: untrained here, so it answers with the plain mean.
    EXPECT_EQ(other.Predict(0, 0), other.PredictBaseline(0, 0));

    WriteBytes(file, good);
    EXPECT_TRUE(other.Load(file, "data-A", m_data.train));
}

TEST_F(ModelCacheTest, CrashMidWriteLeavesTheOldCacheUsable) {
    const fs::path file = m_folder / "model.cache";
    m_model.Save(file, "data-A");
    const std::vector<char> good = ReadBytes(file);

    // What a crash during a later save leaves behind: a partial temporary file of a process that is gone (no
    // process id reaches 999999999) beside the intact cache.
    const fs::path abandoned = m_folder / "model.cache.999999999.0.0.0.tmp";
    WriteBytes(abandoned, std::vector<char>(good.begin(), good.begin() + 50));
    CRatingModel loaded(test::QuickSettings());
    ASSERT_TRUE(loaded.Load(file, "data-A", m_data.train));
    ExpectSamePredictions(m_model, loaded);

    // The next save replaces the cache and removes the abandoned temporary.
    m_model.Save(file, "data-B");
    EXPECT_FALSE(fs::exists(abandoned));
    EXPECT_TRUE(loaded.Load(file, "data-B", m_data.train));

    // A model without factors (the baseline alone) is kept just as well.
    ModelSettings baselineOnly = test::QuickSettings();
    baselineOnly.factors = 0;
    CRatingModel plain(baselineOnly);
    plain.Train(m_data.train, m_data.users, m_data.items);
    plain.Save(file, "data-C");
    CRatingModel plainLoaded;
    ASSERT_TRUE(plainLoaded.Load(file, "data-C", m_data.train));
    EXPECT_EQ(plainLoaded.Predict(2, 3), plain.Predict(2, 3));
    EXPECT_EQ(plainLoaded.PredictBaseline(2, 3), plain.PredictBaseline(2, 3));

    // Saving where nothing can be written reports it.
    EXPECT_THROW(m_model.Save(m_folder / "missing-folder" / "model.cache", "data-A"), std::runtime_error);
}

} // namespace
} // namespace quillory::model
