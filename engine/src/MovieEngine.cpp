#include "MovieEngine.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <exception>
#include <iostream>
#include <limits>
#include <new>
#include <optional>

#include <fmt/format.h>

#include "AccountName.h"
#include "DataSnapshot.h"
#include "EngineErrors.h"
#include "PasswordHash.h"
#include "RatingModel.h"
#include "RatingStore.h"

namespace quillory {

namespace {

constexpr std::uint32_t kNoIndex = std::numeric_limits<std::uint32_t>::max();

// The data ratings are packed as (catalogue index << 3) | stars, so that sorting a user's entries sorts by movie.
constexpr std::uint32_t Pack(std::uint32_t item, int stars) {
    return (item << 3) | static_cast<std::uint32_t>(stars);
}
constexpr std::uint32_t ItemOfEntry(std::uint32_t entry) {
    return entry >> 3;
}
constexpr int StarsOfEntry(std::uint32_t entry) {
    return static_cast<int>(entry & 7U);
}

} // namespace

CMovieEngine::CMovieEngine() = default;
CMovieEngine::~CMovieEngine() = default;

void CMovieEngine::Init(const CString& path) {
    // Whatever happens below, the engine is usable only once everything has loaded.
    m_initialised = false;
    m_model.reset();
    m_store.reset();
    m_stale.clear();
    m_storedRatings.clear();
    m_indexOfUser.clear();
    m_userIds.clear();

    m_manifest = data::ReadManifest(path);
    data::Snapshot snapshot;
    try {
        snapshot = LoadData();
    } catch (const std::bad_alloc&) {
        ThrowDataError("The data files of " + m_manifest.file.string() + " need more memory than there is.");
    }
    m_movies = std::move(snapshot.movies);
    m_itemOfMovie.clear();
    m_itemOfMovie.reserve(m_movies.size());
    for (std::size_t i = 0; i < m_movies.size(); ++i) {
        m_itemOfMovie.emplace(m_movies[i].id, static_cast<std::uint32_t>(i));
    }

    // Data users keep the loader's numbering (order of first appearance).
    m_dataUsers = static_cast<std::uint32_t>(snapshot.users.size());
    long highestDataUser = 0;
    m_userIds.assign(snapshot.users.begin(), snapshot.users.end());
    m_indexOfUser.reserve(snapshot.users.size());
    for (std::uint32_t u = 0; u < m_dataUsers; ++u) {
        m_indexOfUser.emplace(snapshot.users[u], u);
        highestDataUser = std::max<long>(highestDataUser, snapshot.users[u]);
    }
    // Accounts own the ids from kFirstAccountId up: a data user there would silently take over an account.
    if (highestDataUser >= store::CRatingStore::kFirstAccountId) {
        ThrowDataError(fmt::format("The ratings file {} holds user id {}; the ids from {} up belong to the accounts of "
                                   "the store, so the data's user ids must stay below it.",
                                   m_manifest.ratings.string(), highestDataUser, store::CRatingStore::kFirstAccountId));
    }
    m_offsets = std::move(snapshot.offsets);
    m_entries = std::move(snapshot.entries);

    // Accounts and ratings entered earlier. Store-only users get indices after the data users, in id order.
    m_store = store::OpenStore(m_manifest);
    TakeInChanges();
    m_initialised = true;
}

std::filesystem::path CMovieEngine::CacheBase() const {
    return m_manifest.cacheBase;
}

data::Snapshot CMovieEngine::LoadData() {
    std::filesystem::path snapshotPath = CacheBase();
    snapshotPath += ".snapshot";
    // The snapshot is derived data: a missing, stale or damaged one is ignored, and the text is read instead. The
    // files are hashed only where a snapshot exists, so a first start reads them once.
    std::error_code error;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(snapshotPath, error))) {
        if (const std::optional<data::DataFingerprint> fingerprint = data::FingerprintDataFiles(m_manifest)) {
            data::Snapshot snapshot;
            if (data::LoadSnapshot(snapshotPath, *fingerprint, snapshot)) {
                m_fingerprint = fingerprint->text;
                return snapshot;
            }
        }
    }

    data::DataSet data = data::LoadDataSet(m_manifest);
    if (data.movies.size() >= data::kMaxMovies) {
        ThrowDataError("The movies file " + data.manifest.movies.string() +
                       " lists more movies than Quillory can hold.");
    }
    m_fingerprint = std::move(data.fingerprint);
    data::Snapshot snapshot;
    snapshot.movies = std::move(data.movies);
    snapshot.users = std::move(data.users);
    // Group the data ratings by user, each user's sorted by movie (the loader has refused duplicates).
    const auto users = static_cast<std::uint32_t>(snapshot.users.size());
    snapshot.offsets.assign(std::size_t{users} + 1, 0);
    for (const data::RatingRecord& r : data.ratings) {
        ++snapshot.offsets[r.userIndex + 1];
    }
    for (std::uint32_t u = 0; u < users; ++u) {
        snapshot.offsets[u + 1] += snapshot.offsets[u];
    }
    snapshot.entries.assign(data.ratings.size(), 0);
    {
        std::vector<std::uint64_t> next(snapshot.offsets.begin(), snapshot.offsets.end() - 1);
        for (const data::RatingRecord& r : data.ratings) {
            snapshot.entries[next[r.userIndex]++] = Pack(r.item, r.stars);
        }
    }
    std::vector<data::RatingRecord>().swap(data.ratings);
    for (std::uint32_t u = 0; u < users; ++u) {
        std::sort(snapshot.entries.begin() + static_cast<std::ptrdiff_t>(snapshot.offsets[u]),
                  snapshot.entries.begin() + static_cast<std::ptrdiff_t>(snapshot.offsets[u + 1]));
    }
    try {
        data::SaveSnapshot(snapshotPath, m_fingerprint, snapshot);
    } catch (const std::exception& e) {
        // Not fatal: the next start reads the text again. One line, so the reason can be found.
        std::cerr << "Quillory: the parsed data could not be kept in " << snapshotPath.string() << ": " << e.what()
                  << '\n';
    }
    return snapshot;
}

void CMovieEngine::InitMatrices() {
    RequireInit();
    m_model.reset();
    std::unique_ptr<model::CRatingModel> model;
    try {
        model = std::make_unique<model::CRatingModel>();
        const std::string fingerprint = m_fingerprint + "model:" + model->Settings().Describe();
        std::filesystem::path cache = CacheBase();
        cache += ".model";
        // The cache is derived data: the model refuses a missing, stale or damaged file, and then we train afresh.
        const model::ModelShape shape{m_dataUsers, static_cast<std::uint32_t>(m_movies.size())};
        if (!model->Load(cache, fingerprint, shape)) {
            std::vector<model::Rating> ratings;
            ratings.reserve(m_entries.size());
            for (std::uint32_t u = 0; u < m_dataUsers; ++u) {
                for (std::uint64_t k = m_offsets[u]; k < m_offsets[u + 1]; ++k) {
                    ratings.push_back(
                        model::Rating{u, ItemOfEntry(m_entries[k]), static_cast<float>(StarsOfEntry(m_entries[k]))});
                }
            }
            model->Train(ratings, shape.users, shape.items);
            std::vector<model::Rating>().swap(ratings);
            try {
                model->Save(cache, fingerprint);
            } catch (const std::bad_alloc&) {
                std::cerr << "Quillory: the trained model could not be kept in " << cache.string()
                          << ": out of memory\n";
            } catch (const std::exception& e) {
                // Not fatal: the next start trains again. One line, so the reason can be found.
                std::cerr << "Quillory: the trained model could not be kept in " << cache.string() << ": " << e.what()
                          << '\n';
            }
        }
    } catch (const CMException&) {
        throw;
    } catch (const std::bad_alloc&) {
        ThrowModelError(fmt::format("Training the prediction model on {} ratings of {} users and {} movies failed: "
                                    "there is not enough memory.",
                                    m_entries.size(), m_dataUsers, m_movies.size()));
    } catch (const std::exception& e) {
        ThrowModelError(std::string("Preparing the predictions from the ratings failed: ") + e.what());
    }
    m_model = std::move(model);
    // The model holds the data ratings only; every user with ratings in the store is solved again from all of his
    // ratings, on a cold start and a warm one alike, so both predict the same.
    std::vector<std::uint32_t> users;
    users.reserve(m_storedRatings.size());
    for (const auto& entry : m_storedRatings) {
        users.push_back(entry.first);
    }
    std::sort(users.begin(), users.end());
    for (const std::uint32_t user : users) {
        FoldIn(user);
    }
    m_stale.clear();
}

long CMovieEngine::GetNumberOfMovies() {
    RequireInit();
    return static_cast<long>(m_movies.size()) + 1;
}

MovieItem CMovieEngine::GetMovieDetails(int number) const {
    const data::MovieRecord& movie = MovieAt(number);
    return MovieItem{movie.title, movie.id, movie.name, movie.releaseDate};
}

CString CMovieEngine::GetURLOfMovie(int number) const {
    return MovieAt(number).url;
}

long CMovieEngine::GetUserID(const CString& name, const CString& password) {
    RequireInit();
    if (name.empty() || password.empty()) {
        return NO_USER;
    }
    TakeInChanges();
    // A name no account may take can still be an old account's exact name: it logs in as it always did.
    const std::optional<std::string> key = store::AccountNameKey(name);
    const std::optional<store::CRatingStore::User> user = m_store->FindUser(name, key.value_or(std::string()));
    if (!user || !store::VerifyPassword(user->hash, password)) {
        return NO_USER;
    }
    FindOrLoadUser(user->id);
    return user->id;
}

long CMovieEngine::InsertUser(const CString& name, const CString& password) {
    RequireInit();
    const std::optional<std::string> key = store::AccountNameKey(name);
    if (!key || password.empty()) {
        return NO_USER;
    }
    TakeInChanges();
    if (m_store->FindUser(name, *key)) {
        return NO_USER;
    }
    const std::string hash = store::HashPassword(password);
    // The store chooses the id inside its write transaction, in the accounts' own range. The name is kept as
    // typed; its key decides whether it is taken.
    const std::optional<long> id = m_store->InsertUser(name, *key, hash);
    if (!id) {
        return NO_USER; // taken by another program between the check and the write
    }
    if (IndexOf(*id) == kNoIndex) {
        AddUser(*id);
    }
    return *id;
}

void CMovieEngine::SetCurrentUser(long userId) {
    m_currentUser = userId;
    if (!m_initialised || userId == NO_USER) {
        return;
    }
    // Picks up an account another program registered since we loaded the store, so that CanPredict and GetInfo
    // count his ratings. This call must not throw (the program calls it where no failure can be reported); if the
    // store cannot be read now, the next call that needs it reports that.
    try {
        TakeInChanges();
        FindOrLoadUser(userId);
    } catch (const CMException&) {
    }
}

long CMovieEngine::GetCurrentUserID() const {
    return m_currentUser;
}

long CMovieEngine::GetRating(long movieId, long userId, const CString& /*text*/) const {
    RequireInit();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    const std::uint32_t item = ItemOf(movieId);
    TakeInChanges();
    const std::uint32_t user = IndexOf(userId);
    return user == kNoIndex ? 0 : StarsOf(user, item);
}

void CMovieEngine::SetNewRating(long movieId, long userId, long rating) {
    RequireInit();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    if (rating < 1 || rating > 5) {
        ThrowUsageError(fmt::format("A rating is a whole number from 1 to 5; {} is not.", rating));
    }
    ItemOf(movieId); // refuses a movie the catalogue lacks, before anything else
    TakeInChanges();
    const std::uint32_t user = FindOrLoadUser(userId);
    if (user == kNoIndex) {
        ThrowUsageError(fmt::format("No user with the id {} is known. Log in again.", userId));
    }
    if (const int existing = StarsOf(user, ItemOf(movieId)); existing != 0) {
        ThrowUsageError(fmt::format("The movie is already rated ({} stars), and a rating is never changed. Pick a "
                                    "different movie please.",
                                    existing));
    }
    const store::CRatingStore::Rating stored{userId, static_cast<int>(movieId), static_cast<int>(rating),
                                             static_cast<long long>(std::time(nullptr))};
    if (!m_store->InsertRating(stored)) {
        ThrowUsageError("The movie was already rated meanwhile, in another program, and a rating is never changed. "
                        "Pick a different movie please.");
    }
    AddStoredRating(stored);
    // Folding in costs a small solve; doing it lazily at the user's next prediction keeps entering ratings instant
    // and still makes every prediction reflect every rating.
    m_stale.insert(user);
}

void CMovieEngine::GetInfo(long userId, double& average, long& count) const {
    RequireInit();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    TakeInChanges();
    CountRatings(userId, average, count);
}

void CMovieEngine::CountRatings(long userId, double& average, long& count) const {
    average = 0.0;
    count = 0;
    const std::uint32_t user = IndexOf(userId);
    if (user == kNoIndex) {
        return;
    }
    long long sum = 0;
    for (const ItemStars& rating : RatingsOf(user)) {
        sum += rating.second;
        ++count;
    }
    if (count > 0) {
        average = static_cast<double>(sum) / static_cast<double>(count);
    }
}

bool CMovieEngine::CanPredict() const {
    RequireInit();
    if (m_currentUser == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    TakeInChanges();
    double average = 0.0;
    long count = 0;
    CountRatings(m_currentUser, average, count);
    return count >= kMinRatingsToPredict;
}

double CMovieEngine::GetPredictedRating(long movieId, long userId) {
    RequireModel();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    const std::uint32_t item = ItemOf(movieId);
    TakeInChanges();
    std::uint32_t user = FindOrLoadUser(userId);
    if (user != kNoIndex && m_stale.count(user) != 0) {
        FoldIn(user);
    }
    // An unknown user gets the model's fallback for a user without ratings.
    const double prediction = m_model->Predict(user, item);
    if (!std::isfinite(prediction)) {
        ThrowModelError("No prediction could be computed for this movie: the result was not a number.");
    }
    return std::clamp(prediction, 1.0, 5.0);
}

void CMovieEngine::SetRefresh(bool refresh) {
    if (!refresh) {
        return;
    }
    RequireModel();
    TakeInChanges();
    if (m_currentUser == NO_USER) {
        return;
    }
    const std::uint32_t user = FindOrLoadUser(m_currentUser);
    if (user != kNoIndex) {
        FoldIn(user);
    }
}

void CMovieEngine::RequireInit() const {
    if (!m_initialised) {
        ThrowUsageError("The movie data is not loaded: loading it failed or has not run.");
    }
}

void CMovieEngine::RequireModel() const {
    RequireInit();
    if (!m_model) {
        ThrowUsageError("Predictions are not ready: preparing them failed or has not run.");
    }
}

const data::MovieRecord& CMovieEngine::MovieAt(int number) const {
    RequireInit();
    if (number < 1 || static_cast<std::size_t>(number) > m_movies.size()) {
        ThrowUsageError(fmt::format("There is no movie number {} in the list: it numbers its movies 1 to {}.", number,
                                    m_movies.size()));
    }
    return m_movies[static_cast<std::size_t>(number) - 1];
}

std::uint32_t CMovieEngine::ItemOf(long movieId) const {
    const auto it =
        m_itemOfMovie.find(static_cast<int>(std::clamp<long>(movieId, -1, std::numeric_limits<int>::max())));
    if (movieId < 0 || movieId > std::numeric_limits<int>::max() || it == m_itemOfMovie.end()) {
        ThrowUsageError(
            fmt::format("There is no movie with the id {} in the list. Pick a movie from the list.", movieId));
    }
    return it->second;
}

std::uint32_t CMovieEngine::IndexOf(long userId) const {
    const auto it = m_indexOfUser.find(userId);
    return it == m_indexOfUser.end() ? kNoIndex : it->second;
}

void CMovieEngine::TakeInChanges() const {
    // The engine is only ever reached through CMovieTable, which owns it as a non-const object; the const answers
    // (GetRating, GetInfo, CanPredict) must show what other programs committed all the same.
    const_cast<CMovieEngine*>(this)->TakeInChanges();
}

void CMovieEngine::TakeInChanges() {
    if (!m_store->ChangedSinceLastLook()) {
        return;
    }
    // Whatever was committed since the last look: the accounts and the ratings added since (each rating marks its
    // user for fold-in). One already held (this program's own, or a user loaded at login) is skipped.
    for (const store::CRatingStore::User& user : m_store->LoadNewUsers()) {
        if (IndexOf(user.id) == kNoIndex) {
            AddUser(user.id);
        }
    }
    for (const store::CRatingStore::Rating& rating : m_store->LoadNewRatings()) {
        AddStoredRating(rating);
    }
}

std::uint32_t CMovieEngine::FindOrLoadUser(long userId) {
    // Every account committed before the last look is held already; one committed since then is found by a
    // second look.
    std::uint32_t user = IndexOf(userId);
    if (user == kNoIndex && userId != NO_USER) {
        TakeInChanges();
        user = IndexOf(userId);
    }
    return user;
}

std::uint32_t CMovieEngine::AddUser(long userId) {
    const auto user = static_cast<std::uint32_t>(m_userIds.size());
    m_userIds.push_back(userId);
    m_indexOfUser.emplace(userId, user);
    return user;
}

void CMovieEngine::AddStoredRating(const store::CRatingStore::Rating& rating) {
    const auto movie = m_itemOfMovie.find(rating.movie);
    if (movie == m_itemOfMovie.end()) {
        // A movie the data files no longer list (they were replaced): the rating stays in the store, unused.
        return;
    }
    std::uint32_t user = IndexOf(rating.user);
    if (user == kNoIndex) {
        user = AddUser(rating.user);
    }
    if (StarsOf(user, movie->second) != 0) {
        // The data files now hold this pair themselves; they win, and nothing is overwritten.
        return;
    }
    std::vector<ItemStars>& ratings = m_storedRatings[user];
    const ItemStars entry{movie->second, static_cast<std::uint8_t>(rating.stars)};
    ratings.insert(std::lower_bound(ratings.begin(), ratings.end(), entry), entry);
    m_stale.insert(user);
}

int CMovieEngine::StarsOf(std::uint32_t user, std::uint32_t item) const {
    if (user < m_dataUsers) {
        const auto begin = m_entries.begin() + static_cast<std::ptrdiff_t>(m_offsets[user]);
        const auto end = m_entries.begin() + static_cast<std::ptrdiff_t>(m_offsets[user + 1]);
        const auto it = std::lower_bound(begin, end, Pack(item, 0));
        if (it != end && ItemOfEntry(*it) == item) {
            return StarsOfEntry(*it);
        }
    }
    if (const auto stored = m_storedRatings.find(user); stored != m_storedRatings.end()) {
        const auto it = std::lower_bound(stored->second.begin(), stored->second.end(), ItemStars{item, 0});
        if (it != stored->second.end() && it->first == item) {
            return it->second;
        }
    }
    return 0;
}

std::vector<CMovieEngine::ItemStars> CMovieEngine::RatingsOf(std::uint32_t user) const {
    std::vector<ItemStars> ratings;
    if (user < m_dataUsers) {
        for (std::uint64_t k = m_offsets[user]; k < m_offsets[user + 1]; ++k) {
            ratings.emplace_back(ItemOfEntry(m_entries[k]), static_cast<std::uint8_t>(StarsOfEntry(m_entries[k])));
        }
    }
    if (const auto stored = m_storedRatings.find(user); stored != m_storedRatings.end()) {
        ratings.insert(ratings.end(), stored->second.begin(), stored->second.end());
    }
    return ratings;
}

void CMovieEngine::FoldIn(std::uint32_t user) {
    std::vector<std::pair<std::uint32_t, float>> ratings;
    for (const ItemStars& rating : RatingsOf(user)) {
        ratings.emplace_back(rating.first, static_cast<float>(rating.second));
    }
    try {
        m_model->FoldInUser(user, ratings);
    } catch (const std::exception& e) {
        ThrowModelError(std::string("Updating the predictions with the user's latest ratings failed: ") + e.what());
    }
    m_stale.erase(user);
}

} // namespace quillory
