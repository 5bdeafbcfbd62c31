#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CString.h"
#include "MovieTable.h"

// An engine in memory for window tests: it answers from what the test puts in it, records every call in order
// (into its own log or a log shared with the scripted toolkit), and throws at a chosen call.
class CScriptedEngine : public IMovieEngine {
public:
    // Call log entries look like "Init(MovieData\files.txt)", "GetMovieDetails(3)", "GetRating(7,2,)",
    // "SetNewRating(7,2,5)", "GetInfo(2)", "SetRefresh(1)", "GetPredictedRating(7,2)", "CanPredict()",
    // "GetCurrentUserID()", "SetCurrentUser(2)", "GetUserID(guest,pw)", "InsertUser(guest,pw)",
    // "GetNumberOfMovies()", "GetURLOfMovie(1)", "InitMatrices()", "GetMovieNumber(7)", "GetTopPicks(2,20)",
    // "GetTopPicksWithReasons(2,20)", "GetSimilarMovies(7,20)", "GetUserRatings(2)", "GetMovieGenres(3)",
    // "SetNotInterested(7,2,1)", "GetNotInterested(2)".
    explicit CScriptedEngine(std::vector<std::string>* log = nullptr);
    // Not copied: the log pointer may point into the object itself.
    CScriptedEngine(const CScriptedEngine&) = delete;
    CScriptedEngine& operator=(const CScriptedEngine&) = delete;

    // --- what the test puts in ---
    std::vector<MovieItem> movies;                             // catalogue number i is movies[i - 1]
    std::optional<long> numberOfMovies;                        // GetNumberOfMovies answer; default movies.size() + 1
    std::map<int, std::string> urls;                           // by catalogue number; default "url<number>"
    std::map<std::pair<std::string, std::string>, long> users; // (name, password) -> id for GetUserID
    long nextInsertedUserId = 100;                             // InsertUser answers this (then increments) ...
    std::optional<long> insertUserAnswer;                      // ... unless this is set (e.g. NO_USER)
    std::map<std::pair<long, long>, long> ratings;             // (movie id, user id) -> rating; SetNewRating adds here
    std::optional<bool> canPredict;                            // default: the current user's count >= 15
    std::optional<double> prediction;                          // GetPredictedRating answer; default 3.0
    std::optional<std::pair<double, long>> info;               // GetInfo answer; default computed from `ratings`
    long currentUser = NO_USER;
    // GetTopPicks(WithReasons) answers the first `count` of these that the user has neither rated nor hidden.
    std::vector<MoviePick> picks;
    std::map<int, std::string> genres;               // by catalogue number; default none
    std::map<long, std::vector<long>> notInterested; // user id -> hidden movie ids, most recently hidden first
    std::map<long, std::vector<long>> similar;       // movie id -> GetSimilarMovies answer (then cut to `count`)
    std::vector<UserRating> userRatings;             // GetUserRatings answer, as given
    // Run inside Init after it is recorded, with the progress callback set then (SetProgress is not recorded).
    std::function<void(const StartProgressCallback&)> duringInit;

    // Throw `exception` at the n-th call (1-based) of `call` ("GetMovieDetails", "Init", ...).
    void ThrowAt(const std::string& call, int nth, CMException exception);
    // Throw something that is not a CMException (a std::runtime_error) at the n-th call of `call`.
    void ThrowOtherAt(const std::string& call, int nth);

    std::vector<std::string>& Log() { return *m_log; }
    // The calls of the log that are engine calls (the log may be shared with the toolkit).
    std::vector<std::string> Calls() const;

    // --- IMovieEngine ---
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
    int GetMovieNumber(long movieId) const override;
    std::vector<long> GetTopPicks(long userId, int count) override;
    std::vector<MoviePick> GetTopPicksWithReasons(long userId, int count) override;
    std::vector<long> GetSimilarMovies(long movieId, int count) override;
    std::vector<UserRating> GetUserRatings(long userId) override;
    CString GetMovieGenres(int number) const override;
    void SetNotInterested(long movieId, long userId, bool notInterested) override;
    std::vector<long> GetNotInterested(long userId) override;
    void SetProgress(StartProgressCallback callback) override { m_progress = std::move(callback); }

private:
    // Picks the user has neither rated nor hidden, at most `count`.
    std::vector<MoviePick> OpenPicks(long userId, int count) const;
    StartProgressCallback m_progress;
    void Record(const std::string& call, const std::string& entry) const;
    std::vector<std::string> m_ownLog;
    std::vector<std::string>* m_log;
    mutable std::map<std::string, int> m_callCounts;
    std::map<std::pair<std::string, int>, std::function<void()>> m_throws;
};
