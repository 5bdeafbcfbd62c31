#include "MovieTable.h"

#include <exception>
#include <new>
#include <utility>

#include "EngineErrors.h"
#include "MovieEngine.h"

namespace {

// A table whose engine has been moved away answers every call with this, never with a crash.
IMovieEngine& Require(const std::unique_ptr<IMovieEngine>& engine) {
    if (!engine) {
        throw CMException("Quillory engine error", "This movie table has no engine (it was moved from).");
    }
    return *engine;
}

} // namespace

CMovieTable::CMovieTable() : m_engine(std::make_unique<quillory::CMovieEngine>()) {}
CMovieTable::CMovieTable(std::unique_ptr<IMovieEngine> engine) : m_engine(std::move(engine)) {}
CMovieTable::CMovieTable(CMovieTable&&) noexcept = default;
CMovieTable& CMovieTable::operator=(CMovieTable&&) noexcept = default;
CMovieTable::~CMovieTable() = default;

void CMovieTable::Init(const CString& path) {
    // Loading allocates in proportion to the data, so it is where memory runs out. The engine names the file it was
    // reading where it can; whatever still leaves as another exception is reported against the manifest, so that the
    // window shows what was being loaded rather than an unknown error.
    try {
        Require(m_engine).Init(path);
    } catch (const std::bad_alloc&) {
        quillory::ThrowDataError("Not enough memory to load the data named by " + path + ".");
    } catch (const std::exception& failure) {
        quillory::ThrowDataError("Loading the data named by " + path + " failed: " + failure.what());
    }
}

void CMovieTable::InitMatrices() {
    Require(m_engine).InitMatrices();
}

long CMovieTable::GetNumberOfMovies() {
    return Require(m_engine).GetNumberOfMovies();
}

MovieItem CMovieTable::GetMovieDetails(int number) const {
    return Require(m_engine).GetMovieDetails(number);
}

CString CMovieTable::GetMovieGenres(int number) const {
    return Require(m_engine).GetMovieGenres(number);
}

CString CMovieTable::GetURLOfMovie(int number) const {
    return Require(m_engine).GetURLOfMovie(number);
}

long CMovieTable::GetUserID(const CString& name, const CString& password) {
    return Require(m_engine).GetUserID(name, password);
}

long CMovieTable::InsertUser(const CString& name, const CString& password) {
    return Require(m_engine).InsertUser(name, password);
}

void CMovieTable::SetCurrentUser(long userId) {
    Require(m_engine).SetCurrentUser(userId);
}

long CMovieTable::GetCurrentUserID() const {
    return Require(m_engine).GetCurrentUserID();
}

long CMovieTable::GetRating(long movieId, long userId, const CString& text) const {
    return Require(m_engine).GetRating(movieId, userId, text);
}

void CMovieTable::SetNewRating(long movieId, long userId, long rating) {
    Require(m_engine).SetNewRating(movieId, userId, rating);
}

void CMovieTable::GetInfo(long userId, double& average, long& count) const {
    Require(m_engine).GetInfo(userId, average, count);
}

bool CMovieTable::CanPredict() const {
    return Require(m_engine).CanPredict();
}

double CMovieTable::GetPredictedRating(long movieId, long userId) {
    return Require(m_engine).GetPredictedRating(movieId, userId);
}

void CMovieTable::SetRefresh(bool refresh) {
    Require(m_engine).SetRefresh(refresh);
}

int CMovieTable::GetMovieNumber(long movieId) const {
    return Require(m_engine).GetMovieNumber(movieId);
}

std::vector<long> CMovieTable::GetTopPicks(long userId, int count) {
    return Require(m_engine).GetTopPicks(userId, count);
}

std::vector<MoviePick> CMovieTable::GetTopPicksWithReasons(long userId, int count) {
    return Require(m_engine).GetTopPicksWithReasons(userId, count);
}

std::vector<long> CMovieTable::GetSimilarMovies(long movieId, int count) {
    return Require(m_engine).GetSimilarMovies(movieId, count);
}

std::vector<UserRating> CMovieTable::GetUserRatings(long userId) {
    return Require(m_engine).GetUserRatings(userId);
}

void CMovieTable::SetNotInterested(long movieId, long userId, bool notInterested) {
    Require(m_engine).SetNotInterested(movieId, userId, notInterested);
}

std::vector<long> CMovieTable::GetNotInterested(long userId) {
    return Require(m_engine).GetNotInterested(userId);
}

void CMovieTable::SetProgress(StartProgressCallback callback) {
    Require(m_engine).SetProgress(std::move(callback));
}
