#include "MovieEngine.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <exception>
#include <new>
#include <optional>
#include <utility>

#include <fmt/format.h>

#include "AccountName.h"
#include "DataLoading.h"
#include "EngineErrors.h"
#include "Login.h"
#include "ModelLoading.h"
#include "OpenStore.h"
#include "RankingModel.h"
#include "RatingHistory.h"
#include "RatingModel.h"
#include "TopPicks.h"

namespace quillory {

namespace {

constexpr std::uint32_t kNoIndex = CUserTable::kNoIndex;

// What the calls for a given user answer for an id that neither the data nor the store holds.
[[noreturn]] void ThrowUnknownUser(long userId) {
    ThrowUsageError(fmt::format("No user with the id {} is known. Log in again.", userId));
}

} // namespace

CMovieEngine::CMovieEngine() = default;
CMovieEngine::~CMovieEngine() = default;

void CMovieEngine::Init(const CString& path) {
    // Whatever happens below, the engine is usable only once everything has loaded.
    m_initialised = false;
    m_model.reset();
    m_ranking.reset();
    m_store.reset();
    m_stale.clear();
    m_ratings = CUserRatings();
    m_notInterested = CNotInterested();
    m_users = CUserTable();
    m_times = CRatingTimes();

    m_manifest = data::ReadManifest(path);
    data::Snapshot snapshot;
    try {
        CProgressReport report(m_progress);
        snapshot = LoadData(m_manifest, m_fingerprint, m_times, report);
    } catch (const std::bad_alloc&) {
        ThrowDataError("The data files of " + m_manifest.file.string() + " need more memory than there is.");
    }
    // LoadData saw to it that every data user id lies below the accounts' (kFirstAccountId).
    m_catalogue = CCatalogue(std::move(snapshot.movies), std::move(snapshot.genres));
    // Data users keep the loader's numbering (order of first appearance).
    m_users = CUserTable(snapshot.users);
    m_ratings = CUserRatings(std::move(snapshot.ratings));

    // Accounts, ratings and not-interested marks entered earlier. Store-only users get indices after the data users, in
    // id order.
    m_store = OpenStore(m_manifest);
    TakeInChanges();
    m_initialised = true;
}

void CMovieEngine::InitMatrices() {
    RequireInit();
    m_model.reset();
    m_ranking.reset();
    CProgressReport report(m_progress);
    TrainedModels models = LoadOrTrainModels(m_manifest.cacheBase, m_fingerprint, m_ratings.DataRatings(),
                                             static_cast<std::uint32_t>(m_catalogue.Count()), report);
    m_model = std::move(models.rating);
    m_ranking = std::move(models.ranking);
    // The models hold the data ratings only. The ranking model takes a user's ratings as they are at each call; the
    // prediction model solves every user with ratings in the store again from all of his ratings, on a cold start
    // and a warm one alike, so that both predict the same.
    for (const std::uint32_t user : m_ratings.UsersWithEnteredRatings()) {
        FoldIn(user);
    }
    m_stale.clear();
}

long CMovieEngine::GetNumberOfMovies() {
    RequireInit();
    return static_cast<long>(m_catalogue.Count()) + 1;
}

MovieItem CMovieEngine::GetMovieDetails(int number) const {
    const data::MovieRecord& movie = MovieAt(number);
    return MovieItem{movie.title, movie.id, movie.name, movie.releaseDate};
}

CString CMovieEngine::GetMovieGenres(int number) const {
    RequireInit();
    return m_catalogue.GenresOf(number);
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
    const std::optional<long> id = LogIn(*m_store, name, password);
    if (!id) {
        return NO_USER;
    }
    FindOrLoadUser(*id);
    return *id;
}

long CMovieEngine::InsertUser(const CString& name, const CString& password) {
    RequireInit();
    const std::optional<std::string> key = store::AccountNameKey(name);
    if (!key || password.empty()) {
        return NO_USER;
    }
    TakeInChanges();
    const std::optional<long> id = Register(*m_store, name, *key, password);
    if (!id) {
        return NO_USER;
    }
    if (m_users.IndexOf(*id) == kNoIndex) {
        m_users.Add(*id);
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
    const std::uint32_t item = m_catalogue.ItemOf(movieId);
    TakeInChanges();
    const std::uint32_t user = m_users.IndexOf(userId);
    return user == kNoIndex ? 0 : m_ratings.Stars(user, item);
}

void CMovieEngine::SetNewRating(long movieId, long userId, long rating) {
    RequireInit();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    if (rating < 1 || rating > 5) {
        ThrowUsageError(fmt::format("A rating is a whole number from 1 to 5; {} is not.", rating));
    }
    const std::uint32_t item = m_catalogue.ItemOf(movieId); // refuses a movie the catalogue lacks, before anything
    TakeInChanges();
    const std::uint32_t user = FindOrLoadUser(userId);
    if (user == kNoIndex) {
        ThrowUnknownUser(userId);
    }
    if (const int existing = m_ratings.Stars(user, item); existing != 0) {
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
    // Folding in costs a small solve; doing it lazily at the user's next prediction (AddStoredRating marks him)
    // keeps entering ratings instant and still makes every prediction reflect every rating.
    AddStoredRating(stored);
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
    const std::uint32_t user = m_users.IndexOf(userId);
    if (user == kNoIndex) {
        return;
    }
    long long sum = 0;
    for (const CUserRatings::ItemStars& rating : m_ratings.Of(user)) {
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
    return count >= MIN_RATINGS_TO_PREDICT;
}

double CMovieEngine::GetPredictedRating(long movieId, long userId) {
    RequireModel();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    const std::uint32_t item = m_catalogue.ItemOf(movieId);
    TakeInChanges();
    const std::uint32_t user = FindOrLoadUser(userId);
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

int CMovieEngine::GetMovieNumber(long movieId) const {
    RequireInit();
    return static_cast<int>(m_catalogue.ItemOf(movieId)) + 1;
}

std::vector<long> CMovieEngine::GetTopPicks(long userId, int count) {
    RequireModel();
    const std::uint32_t user = KnownUser(userId);
    std::vector<long> movies;
    for (const MoviePick& pick :
         RankPicks(*m_ranking, nullptr, m_catalogue, m_ratings, user, m_notInterested.Hidden(userId), count)) {
        movies.push_back(pick.movieId);
    }
    return movies;
}

std::vector<MoviePick> CMovieEngine::GetTopPicksWithReasons(long userId, int count) {
    RequireModel();
    const std::uint32_t user = KnownUser(userId);
    if (count > 0 && m_stale.count(user) != 0) {
        FoldIn(user); // each pick's prediction reflects every rating, as GetPredictedRating's does
    }
    return RankPicks(*m_ranking, m_model.get(), m_catalogue, m_ratings, user, m_notInterested.Hidden(userId), count);
}

std::vector<long> CMovieEngine::GetSimilarMovies(long movieId, int count) {
    RequireModel();
    // Alike by the data's ratings alone, which the store never changes: no look at the store.
    return SimilarMovies(*m_ranking, m_catalogue, m_catalogue.ItemOf(movieId), count);
}

std::vector<UserRating> CMovieEngine::GetUserRatings(long userId) {
    RequireInit();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    TakeInChanges();
    const std::uint32_t user = m_users.IndexOf(userId);
    if (user == kNoIndex) {
        return {};
    }
    return RatingsNewestFirst(m_ratings, user, m_times.OfUser(user, m_ratings.DataRatings(), m_manifest), m_catalogue);
}

void CMovieEngine::SetNotInterested(long movieId, long userId, bool notInterested) {
    RequireInit();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    const std::uint32_t item = m_catalogue.ItemOf(movieId); // refuses a movie the catalogue lacks, before anything
    TakeInChanges();
    if (FindOrLoadUser(userId) == kNoIndex) {
        ThrowUnknownUser(userId);
    }
    if (m_notInterested.IsHidden(userId, item) == notInterested) {
        return;
    }
    const std::optional<std::int64_t> sequence =
        m_store->SetNotInterested(userId, static_cast<int>(movieId), notInterested);
    if (sequence) {
        ApplyMark({userId, static_cast<int>(movieId), notInterested, *sequence});
    } else {
        TakeInChanges(); // another program set it so meanwhile: take in its mark, with its number
    }
}

std::vector<long> CMovieEngine::GetNotInterested(long userId) {
    RequireInit();
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    TakeInChanges();
    std::vector<long> movies;
    for (const std::uint32_t item : m_notInterested.NewestFirst(userId)) {
        movies.push_back(m_catalogue.At(static_cast<int>(item) + 1).id);
    }
    return movies;
}

void CMovieEngine::SetProgress(StartProgressCallback callback) {
    m_progress = std::move(callback);
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
    return m_catalogue.At(number);
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
    // user for fold-in), and the not-interested marks changed since, as they stand now. One already held (this
    // program's own, or a user loaded at login) is skipped.
    for (const store::CRatingStore::User& user : m_store->LoadNewUsers()) {
        if (m_users.IndexOf(user.id) == kNoIndex) {
            m_users.Add(user.id);
        }
    }
    for (const store::CRatingStore::Rating& rating : m_store->LoadNewRatings()) {
        AddStoredRating(rating);
    }
    for (const store::CRatingStore::NotInterested& mark : m_store->LoadNotInterestedChanges()) {
        ApplyMark(mark);
    }
}

std::uint32_t CMovieEngine::FindOrLoadUser(long userId) {
    // Every account committed before the last look is held already; one committed since then is found by a
    // second look.
    std::uint32_t user = m_users.IndexOf(userId);
    if (user == kNoIndex && userId != NO_USER) {
        TakeInChanges();
        user = m_users.IndexOf(userId);
    }
    return user;
}

void CMovieEngine::AddStoredRating(const store::CRatingStore::Rating& rating) {
    const std::uint32_t item = m_catalogue.FindItem(rating.movie);
    if (item == CCatalogue::kNoItem) {
        // A movie the data files no longer list (they were replaced): the rating stays in the store, unused.
        return;
    }
    std::uint32_t user = m_users.IndexOf(rating.user);
    if (user == kNoIndex) {
        user = m_users.Add(rating.user);
    }
    // Already held: the data files now hold this pair themselves (they win, and nothing is overwritten), or the
    // rating is this program's own, read back.
    if (m_ratings.AddEntered(user, item, rating.stars, rating.timestamp)) {
        m_stale.insert(user);
    }
}

void CMovieEngine::ApplyMark(const store::CRatingStore::NotInterested& mark) {
    const std::uint32_t item = m_catalogue.FindItem(mark.movie);
    if (item == CCatalogue::kNoItem) {
        // A movie the data files no longer list, as for ratings: the mark stays in the store, unused.
        return;
    }
    m_notInterested.Apply(mark.user, item, mark.hidden, mark.sequence);
}

std::uint32_t CMovieEngine::KnownUser(long userId) {
    if (userId == NO_USER) {
        ThrowNobodyLoggedIn();
    }
    TakeInChanges();
    const std::uint32_t user = FindOrLoadUser(userId);
    if (user == kNoIndex) {
        ThrowUnknownUser(userId);
    }
    return user;
}

void CMovieEngine::FoldIn(std::uint32_t user) {
    try {
        m_model->FoldInUser(user, ModelRatings(m_ratings, user));
    } catch (const std::exception& e) {
        ThrowModelError(std::string("Updating the predictions with the user's latest ratings failed: ") + e.what());
    }
    m_stale.erase(user);
}

} // namespace quillory
