#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "Catalogue.h"
#include "Manifest.h"
#include "MovieTable.h"
#include "NotInterested.h"
#include "RatingStore.h"
#include "RatingTimes.h"
#include "UserRatings.h"
#include "UserTable.h"

namespace quillory::model {
class CRatingModel;
class CRankingModel;
} // namespace quillory::model

namespace quillory {

// The real engine behind CMovieTable: the catalogue and ratings of the data files (read-only), accounts and
// entered ratings in the store, and the prediction and ranking models trained on the data ratings. Every answer that
// depends on the store first takes in what other programs committed to it since the last look.
class CMovieEngine final : public IMovieEngine {
public:
    CMovieEngine();
    ~CMovieEngine() override;

    void Init(const CString& path) override;
    void InitMatrices() override;
    long GetNumberOfMovies() override;
    MovieItem GetMovieDetails(int number) const override;
    CString GetMovieGenres(int number) const override;
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
    int GetMovieNumber(long movieId) const override;
    std::vector<long> GetTopPicks(long userId, int count) override;
    std::vector<MoviePick> GetTopPicksWithReasons(long userId, int count) override;
    std::vector<long> GetSimilarMovies(long movieId, int count) override;
    std::vector<UserRating> GetUserRatings(long userId) override;
    void SetNotInterested(long movieId, long userId, bool notInterested) override;
    std::vector<long> GetNotInterested(long userId) override;
    void SetProgress(StartProgressCallback callback) override;

private:
    void RequireInit() const;
    void RequireModel() const;
    const data::MovieRecord& MovieAt(int number) const;
    // The dense index of a user the store holds, adding him (and his stored ratings) when another program created
    // him after this one loaded the store. kNoIndex when neither the data nor the store holds him.
    std::uint32_t FindOrLoadUser(long userId);
    // Takes in a rating read from or written to the store, marking its user for fold-in (skipped when the catalogue
    // lacks the movie or the user has rated it already).
    void AddStoredRating(const store::CRatingStore::Rating& rating);
    // Takes in a not-interested mark read from or written to the store (skipped when the catalogue lacks the movie).
    void ApplyMark(const store::CRatingStore::NotInterested& mark);
    void FoldIn(std::uint32_t user);
    // The index of a user the data or the store holds, after taking in others' changes; CMException for NO_USER and
    // for anyone else the engine does not know.
    std::uint32_t KnownUser(long userId);
    // Takes in what other programs committed to the store since the last look: a cheap look when nothing changed.
    void TakeInChanges();
    void TakeInChanges() const;
    // GetInfo without the look.
    void CountRatings(long userId, double& average, long& count) const;

    data::Manifest m_manifest;
    std::string m_fingerprint; // of the data files, which the model cache is keyed by
    CCatalogue m_catalogue;
    CUserTable m_users;
    CUserRatings m_ratings;
    CNotInterested m_notInterested; // as the store holds it
    std::unique_ptr<store::CRatingStore> m_store;
    CRatingTimes m_times; // of the data ratings
    std::unique_ptr<model::CRatingModel> m_model;
    std::unique_ptr<model::CRankingModel> m_ranking;
    // Users whose ratings changed since the model last saw them: folded in at their next prediction.
    std::unordered_set<std::uint32_t> m_stale;

    StartProgressCallback m_progress; // of Init and InitMatrices
    long m_currentUser = NO_USER;
    bool m_initialised = false;
};

} // namespace quillory
