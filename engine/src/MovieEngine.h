#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "DataSet.h"
#include "DataSnapshot.h"
#include "MovieTable.h"
#include "RatingStore.h"

namespace quillory::model {
class CRatingModel;
}

namespace quillory {

// The real engine behind CMovieTable: the catalogue and ratings of the data files (read-only), accounts and
// entered ratings in the store beside them, and the prediction model trained on the data ratings.
//
// Users have two numbers: their id (from the data files, or handed out by InsertUser) and a dense index for the
// model. Data users are indexed 0.. in order of first appearance in the ratings file; users who exist only in the
// store follow them.
class CMovieEngine final : public IMovieEngine {
public:
    CMovieEngine();
    ~CMovieEngine() override;

    void Init(const CString& path) override;
    void InitMatrices() override;
    long GetNumberOfMovies() override;
    MovieItem GetMovieDetails(int number) const override;
    CString GetURLOfMovie(int number) const override;
    long GetUserID(const CString& name, const CString& password) override;
    long InsertUser(const CString& name, const CString& password) override;
    void SetCurrentUser(long userId) override;
    long GetCurrentUserID() const override;
    long GetRating(long movieId, long userId, const CString& text) const override;
    void SetNewRating(long movieId, long userId, long rating) override;
    void GetInfo(long userId, double& average, long& count) const override;
    bool CanPredict() const override;
    double GetPredictedRating(long movieId, long userId) override;
    void SetRefresh(bool refresh) override;

    // The rating count at which CanPredict becomes true.
    static constexpr long kMinRatingsToPredict = 15;

private:
    using ItemStars = std::pair<std::uint32_t, std::uint8_t>; // catalogue index, stars

    // Where the derived files live: the model cache is CacheBase() + ".model", the data snapshot + ".snapshot".
    std::filesystem::path CacheBase() const;
    // The data of m_manifest, from the snapshot when it matches the files, else from the text (keeping a snapshot).
    // Sets m_fingerprint.
    data::Snapshot LoadData();
    void RequireInit() const;
    void RequireModel() const;
    const data::MovieRecord& MovieAt(int number) const;
    // The catalogue index of a movie id; CMException for an id the catalogue lacks.
    std::uint32_t ItemOf(long movieId) const;
    // The dense index of a user id, or kNoIndex.
    std::uint32_t IndexOf(long userId) const;
    // The dense index of a user the store holds, adding him (and his stored ratings) when another program created
    // him after this one loaded the store. kNoIndex when neither the data nor the store holds him.
    std::uint32_t FindOrLoadUser(long userId);
    std::uint32_t AddUser(long userId);
    // Adds a rating read from or written to the store (skipped when the catalogue lacks the movie or the data
    // files hold the pair themselves).
    void AddStoredRating(const store::CRatingStore::Rating& rating);
    // The user's stars for the movie, data or store; 0 when he has not rated it.
    int StarsOf(std::uint32_t user, std::uint32_t item) const;
    // Every rating of the user, data and store: (item, stars).
    std::vector<ItemStars> RatingsOf(std::uint32_t user) const;
    void FoldIn(std::uint32_t user);
    // Takes in what other programs committed to the store since the last look: a cheap look when nothing changed.
    void TakeInChanges();
    void TakeInChanges() const;
    // GetInfo without the look.
    void CountRatings(long userId, double& average, long& count) const;

    // Data
    data::Manifest m_manifest;
    std::vector<data::MovieRecord> m_movies;
    std::unordered_map<int, std::uint32_t> m_itemOfMovie;
    std::string m_fingerprint;
    std::uint32_t m_dataUsers = 0;
    // The data ratings grouped by user index, each user's sorted by movie: m_entries[m_offsets[u] .. m_offsets[u+1]).
    std::vector<std::uint64_t> m_offsets;
    // An entry packs (catalogue index << 3) | stars.
    std::vector<std::uint32_t> m_entries;

    // Users of data and store
    std::unordered_map<long, std::uint32_t> m_indexOfUser;
    std::vector<long> m_userIds;
    // Ratings entered in the program (from the store), by user index, sorted by item.
    std::unordered_map<std::uint32_t, std::vector<ItemStars>> m_storedRatings;

    std::unique_ptr<store::CRatingStore> m_store;
    std::unique_ptr<model::CRatingModel> m_model;
    // Users whose ratings changed since the model last saw them: folded in at their next prediction.
    std::unordered_set<std::uint32_t> m_stale;

    long m_currentUser = NO_USER;
    bool m_initialised = false;
};

} // namespace quillory
