#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "EngineFixtures.h"
#include "ModelTestData.h"
#include "RatingModel.h"

namespace quillory::model {
namespace {

namespace fs = std::filesystem;

// The model cache among files it must not harm: symlinks, other programs' files, FIFOs, files of absurd sizes.
class CacheSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_data = test::MakeLowRankData(30, 20);
        m_model = CRatingModel(test::QuickSettings());
        m_model.Train(m_data.train, m_data.users, m_data.items);
        m_cache = m_folder / "model.cache";
    }
    std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Write(const fs::path& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    quillory::test::CTempFolder m_temp;
    fs::path m_folder = m_temp.Path();
    fs::path m_cache;
    test::LowRankData m_data;
    CRatingModel m_model;
};

TEST_F(CacheSafetyTest, SymlinksAreNeverFollowedNorReplaced) {
    // A symlink at the cache's name, to a file of the user's: saving leaves both alone and says why.
    const fs::path victim = m_folder / "victim.txt";
    Write(victim, "precious");
    fs::create_symlink(victim, m_cache);
    try {
        m_model.Save(m_cache, "data-A");
        ADD_FAILURE() << "saved over a symlink";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("left alone"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_symlink(m_cache));
    EXPECT_EQ(Read(victim), "precious");

    // Nor is a valid cache read through a symlink.
    const fs::path real = m_folder / "real.cache";
    m_model.Save(real, "data-A");
    fs::remove(m_cache);
    fs::create_symlink(real, m_cache);
    CRatingModel loaded(test::QuickSettings());
    EXPECT_FALSE(loaded.Load(m_cache, "data-A", m_data.train));
    EXPECT_TRUE(loaded.Load(real, "data-A", m_data.train));

    // Symlinks at the temporary names an attacker could guess (the old fixed name, this process's id) are not
    // written through either: the save goes to a fresh name and succeeds.
    fs::remove(m_cache);
    fs::create_symlink(victim, m_folder / "model.cache.tmp");
    fs::create_symlink(victim, m_folder / ("model.cache." + std::to_string(::getpid()) + ".0.0.0.tmp"));
    fs::create_symlink(victim, m_folder / ("model.cache." + std::to_string(::getpid()) + ".1.0.0.tmp"));
    m_model.Save(m_cache, "data-A");
    EXPECT_EQ(Read(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(m_cache));
    EXPECT_TRUE(loaded.Load(m_cache, "data-A", m_data.train));
    EXPECT_TRUE(fs::is_symlink(m_folder / "model.cache.tmp"));
    // The written file is the user's alone.
    EXPECT_EQ(fs::status(m_cache).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

// What is at the cache's name when the model is saved. A regular file of the user's, in a folder of his own, is the
// program's to replace whatever it holds: one left empty, cut short or foreign by a crash between create and write
// would otherwise stand in the way of every later save. Anything else is left alone, and the save says so.
TEST_F(CacheSafetyTest, ARegularFileOfTheUsersAtTheNameIsReplacedAndNothingElse) {
    const fs::path victim = m_folder / "victim.txt";
    const fs::perms mine = fs::perms::owner_read | fs::perms::owner_write;
    const auto file = [this](const std::string& bytes, fs::perms mode) {
        return [=, this](const fs::path& path) {
            Write(path, bytes);
            fs::permissions(path, mode);
        };
    };
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> put; // puts it at the name
        bool replaced;
        bool asRoot = false; // only root can give a file to another user
        bool shared = false; // in a folder others may write, instead of the test's own
    };
    const Case cases[] = {
        {"nothing", [](const fs::path&) {}, true},
        {"an empty file", file("", mine), true},
        {"a file shorter than any header", file("QLR", mine), true},
        {"a file whose first bytes are not ours", file("a note kept under this name\n", mine), true},
        {"a file of ours cut short", file(std::string("QLRMODEL\x08\0", 10), mine), true},
        {"a file of the user's that others may write", file("not ours", mine | fs::perms::others_write), true},
        {"a symbolic link", [&](const fs::path& path) { fs::create_symlink(victim, path); }, false},
        {"a FIFO", [](const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, false},
        {"a folder", [](const fs::path& path) { fs::create_directory(path); }, false},
        {"another user's file",
         [&](const fs::path& path) {
             Write(path, "theirs");
             ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0) << std::strerror(errno);
         },
         false, true},
        {"a file of ours in a folder others may write", file(std::string("QLRMODEL\x08\0", 10), mine), false, false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.asRoot && ::geteuid() != 0) {
            continue;
        }
        const fs::path folder = c.shared ? m_folder / "shared" : m_folder;
        fs::create_directories(folder);
        if (c.shared) {
            fs::permissions(folder, fs::perms::all);
        }
        const fs::path path = folder / "model.cache";
        Write(victim, "precious");
        c.put(path);
        const fs::file_type kind = fs::symlink_status(path).type();
        const std::string held = kind == fs::file_type::regular ? Read(path) : std::string();
        std::string said;
        try {
            m_model.Save(path, "data-A");
        } catch (const std::runtime_error& e) {
            said = e.what();
        }
        CRatingModel loaded(test::QuickSettings());
        if (c.replaced) {
            EXPECT_EQ(said, "");
            EXPECT_TRUE(loaded.Load(path, "data-A", m_data.train));
            EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, mine);
        } else {
            EXPECT_NE(said.find(path.string() + " is left alone: "), std::string::npos) << said;
            EXPECT_EQ(fs::symlink_status(path).type(), kind);
            EXPECT_TRUE(kind != fs::file_type::regular || Read(path) == held);
        }
        EXPECT_EQ(Read(victim), "precious");
        fs::remove_all(c.shared ? folder : path);
    }
    // Nothing is left beside them.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}

TEST_F(CacheSafetyTest, AFifoAtTheCachePathNeitherBlocksNorIsReplaced) {
    ASSERT_EQ(::mkfifo(m_cache.c_str(), 0600), 0) << std::strerror(errno);
    CRatingModel loaded(test::QuickSettings());
    // Were the open to wait for a writer, this would hang until the test's time limit.
    EXPECT_FALSE(loaded.Load(m_cache, "data-A", m_data.train));
    EXPECT_THROW(m_model.Save(m_cache, "data-A"), std::runtime_error);
    EXPECT_TRUE(fs::is_fifo(m_cache));
}

TEST_F(CacheSafetyTest, ImpossibleSizesAndHugeSparseFilesAreRefusedWithoutAllocating) {
    m_model.Save(m_cache, "data-A");
    const std::string good = Read(m_cache);
    // The header: magic (8), version (4), fingerprint length (8), "data-A", then users and items (u32 each).
    constexpr std::size_t kUsersAt = 8 + 4 + 8 + 6;
    std::uint32_t users = 0;
    std::memcpy(&users, good.data() + kUsersAt, sizeof users);
    ASSERT_EQ(users, m_data.users);

    CRatingModel loaded(test::QuickSettings());
    for (const std::uint32_t claimed : {0xffffffffu, 0x40000000u, m_data.users + 1}) {
        std::string bad = good;
        std::memcpy(bad.data() + kUsersAt, &claimed, sizeof claimed);
        Write(m_cache, bad);
        EXPECT_NO_THROW(EXPECT_FALSE(loaded.Load(m_cache, "data-A", m_data.train))) << claimed;
    }
    // Factors and sweeps beyond any model of ours, and packed lists in a model that has none.
    for (const std::size_t field : {kUsersAt + 8, kUsersAt + 12, kUsersAt + 26, kUsersAt + 34}) {
        std::string bad = good;
        const std::uint32_t huge = 0x7fffffffu;
        std::memcpy(bad.data() + field, &huge, sizeof huge);
        Write(m_cache, bad);
        EXPECT_NO_THROW(EXPECT_FALSE(loaded.Load(m_cache, "data-A", m_data.train))) << field;
    }

    // The right header over a sparse file of 100 GB: refused on its length, without reading it.
    Write(m_cache, good);
    ASSERT_EQ(::truncate(m_cache.c_str(), static_cast<off_t>(100) << 30), 0) << std::strerror(errno);
    EXPECT_NO_THROW(EXPECT_FALSE(loaded.Load(m_cache, "data-A", m_data.train)));
    EXPECT_NO_THROW(EXPECT_FALSE(loaded.Load(m_cache, "data-A", m_data.train, ModelShape{m_data.users, m_data.items})));

    // The model's own shape must match the data's where the caller knows it.
    Write(m_cache, good);
    EXPECT_FALSE(loaded.Load(m_cache, "data-A", m_data.train, ModelShape{m_data.users + 1, m_data.items}));
    EXPECT_FALSE(loaded.Load(m_cache, "data-A", m_data.train, ModelShape{m_data.users, m_data.items - 1}));
    EXPECT_TRUE(loaded.Load(m_cache, "data-A", m_data.train, ModelShape{m_data.users, m_data.items}));
}

TEST_F(CacheSafetyTest, AModelOfNoRatingsAndNoUsersRoundTrips) {
    // Empty tables throughout: what a warm start on an empty ratings file reads.
    CRatingModel empty(test::QuickSettings());
    empty.Train({}, 0, 4);
    empty.Save(m_cache, "empty");
    CRatingModel loaded(test::QuickSettings());
    ASSERT_TRUE(loaded.Load(m_cache, "empty", std::span<const Rating>(), ModelShape{0, 4}));
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(loaded.Predict(0, i), 3.0);
        EXPECT_EQ(loaded.Predict(7, i), empty.Predict(7, i));
    }
}

} // namespace
} // namespace quillory::model
