#include "ScriptedEngine.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace {

const std::set<std::string> kEngineCalls = {
    "Init",
    "InitMatrices",
    "GetNumberOfMovies",
    "GetMovieDetails",
    "GetURLOfMovie",
    "GetUserID",
    "InsertUser",
    "SetCurrentUser",
    "GetCurrentUserID",
    "GetRating",
    "SetNewRating",
    "GetInfo",
    "CanPredict",
    "GetPredictedRating",
    "SetRefresh",
    "GetMovieNumber",
    "GetTopPicks",
    "GetTopPicksWithReasons",
    "GetSimilarMovies",
    "GetUserRatings",
    "GetMovieGenres",
    "SetNotInterested",
    "GetNotInterested",
};

std::string CallName(const std::string& entry) {
    return entry.substr(0, entry.find('('));
}

} // namespace

CScriptedEngine::CScriptedEngine(std::vector<std::string>* log) : m_log(log != nullptr ? log : &m_ownLog) {}

void CScriptedEngine::ThrowAt(const std::string& call, int nth, CMException exception) {
    m_throws[{call, nth}] = [exception] { throw exception; };
}

void CScriptedEngine::ThrowOtherAt(const std::string& call, int nth) {
    m_throws[{call, nth}] = [call] { throw std::runtime_error("scripted failure in " + call); };
}

std::vector<std::string> CScriptedEngine::Calls() const {
    std::vector<std::string> calls;
    for (const std::string& entry : *m_log) {
        if (kEngineCalls.count(CallName(entry)) != 0) {
            calls.push_back(entry);
        }
    }
    return calls;
}

// Every call is logged first, so a call that throws still shows in the order of calls.
void CScriptedEngine::Record(const std::string& call, const std::string& entry) const {
    m_log->push_back(entry);
    const int nth = ++m_callCounts[call];
    if (auto it = m_throws.find({call, nth}); it != m_throws.end()) {
        it->second();
    }
}

void CScriptedEngine::Init(const CString& path) {
    Record("Init", "Init(" + path + ")");
    if (duringInit) {
        duringInit(m_progress);
    }
}

void CScriptedEngine::InitMatrices() {
    Record("InitMatrices", "InitMatrices()");
}

long CScriptedEngine::GetNumberOfMovies() {
    Record("GetNumberOfMovies", "GetNumberOfMovies()");
    return numberOfMovies.value_or(static_cast<long>(movies.size()) + 1);
}

MovieItem CScriptedEngine::GetMovieDetails(int number) const {
    Record("GetMovieDetails", FormatString("GetMovieDetails(%d)", number));
    if (number < 1 || number > static_cast<int>(movies.size())) {
        throw CMException("Scripted engine", FormatString("No movie with catalogue number %d", number));
    }
    return movies[static_cast<std::size_t>(number - 1)];
}

CString CScriptedEngine::GetURLOfMovie(int number) const {
    Record("GetURLOfMovie", FormatString("GetURLOfMovie(%d)", number));
    if (auto it = urls.find(number); it != urls.end()) {
        return it->second;
    }
    return FormatString("url%d", number);
}

long CScriptedEngine::GetUserID(const CString& name, const CString& password) {
    Record("GetUserID", "GetUserID(" + name + "," + password + ")");
    auto it = users.find({name, password});
    return it != users.end() ? it->second : NO_USER;
}

long CScriptedEngine::InsertUser(const CString& name, const CString& password) {
    Record("InsertUser", "InsertUser(" + name + "," + password + ")");
    if (insertUserAnswer) {
        if (*insertUserAnswer != NO_USER) {
            users[{name, password}] = *insertUserAnswer;
        }
        return *insertUserAnswer;
    }
    const long id = nextInsertedUserId++;
    users[{name, password}] = id;
    return id;
}

void CScriptedEngine::SetCurrentUser(long userId) {
    Record("SetCurrentUser", FormatString("SetCurrentUser(%d)", userId));
    currentUser = userId;
}

long CScriptedEngine::GetCurrentUserID() const {
    Record("GetCurrentUserID", "GetCurrentUserID()");
    return currentUser;
}

long CScriptedEngine::GetRating(long movieId, long userId, const CString& text) const {
    Record("GetRating", FormatString("GetRating(%d,%d,%s)", movieId, userId, text));
    auto it = ratings.find({movieId, userId});
    return it != ratings.end() ? it->second : 0;
}

void CScriptedEngine::SetNewRating(long movieId, long userId, long rating) {
    Record("SetNewRating", FormatString("SetNewRating(%d,%d,%d)", movieId, userId, rating));
    ratings[{movieId, userId}] = rating;
}

void CScriptedEngine::GetInfo(long userId, double& average, long& count) const {
    Record("GetInfo", FormatString("GetInfo(%d)", userId));
    if (info) {
        average = info->first;
        count = info->second;
        return;
    }
    long sum = 0;
    count = 0;
    for (const auto& [key, rating] : ratings) {
        if (key.second == userId) {
            sum += rating;
            ++count;
        }
    }
    average = count > 0 ? static_cast<double>(sum) / static_cast<double>(count) : 0.0;
}

bool CScriptedEngine::CanPredict() const {
    Record("CanPredict", "CanPredict()");
    if (canPredict) {
        return *canPredict;
    }
    long count = 0;
    for (const auto& [key, rating] : ratings) {
        if (key.second == currentUser) {
            ++count;
        }
    }
    return count >= 15;
}

double CScriptedEngine::GetPredictedRating(long movieId, long userId) {
    Record("GetPredictedRating", FormatString("GetPredictedRating(%d,%d)", movieId, userId));
    return prediction.value_or(3.0);
}

void CScriptedEngine::SetRefresh(bool refresh) {
    Record("SetRefresh", FormatString("SetRefresh(%d)", refresh ? 1 : 0));
}

int CScriptedEngine::GetMovieNumber(long movieId) const {
    Record("GetMovieNumber", FormatString("GetMovieNumber(%d)", movieId));
    for (std::size_t i = 0; i < movies.size(); ++i) {
        if (movies[i].id == movieId) {
            return static_cast<int>(i) + 1;
        }
    }
    throw CMException("Scripted engine", FormatString("No movie with the id %d", movieId));
}

std::vector<MoviePick> CScriptedEngine::OpenPicks(long userId, int count) const {
    std::vector<MoviePick> open;
    const auto hidden = notInterested.find(userId);
    for (const MoviePick& pick : picks) {
        if (static_cast<int>(open.size()) >= count) {
            break;
        }
        const bool isHidden = hidden != notInterested.end() && std::find(hidden->second.begin(), hidden->second.end(),
                                                                         pick.movieId) != hidden->second.end();
        if (!isHidden && ratings.count({pick.movieId, userId}) == 0) {
            open.push_back(pick);
        }
    }
    return open;
}

std::vector<MoviePick> CScriptedEngine::GetTopPicksWithReasons(long userId, int count) {
    Record("GetTopPicksWithReasons", FormatString("GetTopPicksWithReasons(%d,%d)", userId, count));
    return OpenPicks(userId, count);
}

std::vector<long> CScriptedEngine::GetTopPicks(long userId, int count) {
    Record("GetTopPicks", FormatString("GetTopPicks(%d,%d)", userId, count));
    std::vector<long> ids;
    for (const MoviePick& pick : OpenPicks(userId, count)) {
        ids.push_back(pick.movieId);
    }
    return ids;
}

std::vector<long> CScriptedEngine::GetSimilarMovies(long movieId, int count) {
    Record("GetSimilarMovies", FormatString("GetSimilarMovies(%d,%d)", movieId, count));
    std::vector<long> ids;
    if (const auto it = similar.find(movieId); it != similar.end() && count > 0) {
        ids.assign(it->second.begin(), it->second.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                it->second.size(), static_cast<std::size_t>(count))));
    }
    return ids;
}

std::vector<UserRating> CScriptedEngine::GetUserRatings(long userId) {
    Record("GetUserRatings", FormatString("GetUserRatings(%d)", userId));
    return userRatings;
}

CString CScriptedEngine::GetMovieGenres(int number) const {
    Record("GetMovieGenres", FormatString("GetMovieGenres(%d)", number));
    if (number < 1 || number > static_cast<int>(movies.size())) {
        throw CMException("Scripted engine", FormatString("No movie with catalogue number %d", number));
    }
    const auto it = genres.find(number);
    return it != genres.end() ? it->second : CString();
}

void CScriptedEngine::SetNotInterested(long movieId, long userId, bool hide) {
    Record("SetNotInterested", FormatString("SetNotInterested(%d,%d,%d)", movieId, userId, hide ? 1 : 0));
    if (userId == NO_USER) {
        throw CMException("Scripted engine", "Nobody is logged in. Log in first.");
    }
    std::vector<long>& hidden = notInterested[userId];
    const auto it = std::find(hidden.begin(), hidden.end(), movieId);
    if (hide && it == hidden.end()) {
        hidden.insert(hidden.begin(), movieId);
    } else if (!hide && it != hidden.end()) {
        hidden.erase(it);
    }
}

std::vector<long> CScriptedEngine::GetNotInterested(long userId) {
    Record("GetNotInterested", FormatString("GetNotInterested(%d)", userId));
    if (userId == NO_USER) {
        throw CMException("Scripted engine", "Nobody is logged in. Log in first.");
    }
    const auto it = notInterested.find(userId);
    return it != notInterested.end() ? it->second : std::vector<long>();
}
