#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "CString.h"
#include "EngineRules.h"
#include "MException.h"

// A user id that means "no such user": the answer of GetUserID and InsertUser when they refuse.
inline constexpr long NO_USER = -1;

// The number of ratings a user needs before predictions are offered to him (CanPredict); the main window asks the
// engine to refresh when the user's count reaches it.
inline constexpr int MIN_RATINGS_TO_PREDICT = quillory::kMinRatingsToPredict;

// The manifest the program starts on; relative, so the engine looks for it where data is kept (see Init).
inline constexpr const char* kDefaultDataPath = "MovieData\\files.txt";

// One movie of the catalogue.
struct MovieItem {
    CString title;       // the title as listed, e.g. "Toy Story (1995)"
    int id = 0;          // the movie identifier that ratings and predictions use
    CString name;        // the title without its year, leading article restored
    CString releaseDate; // release date as the data gives it, else the year
};

// A movie the engine recommends to a user, and why.
struct MoviePick {
    long movieId = 0;        // the movie recommended
    double predicted = 0.0;  // the user's predicted rating of it, 1 to 5 (GetPredictedRating)
    long becauseMovieId = 0; // the movie the user rated highly that supports the pick most; 0 for none
    long becauseStars = 0;   // his stars for that movie; 0 for none
};

// A rating a user gave.
struct UserRating {
    long movieId = 0;
    long stars = 0;          // 1 to 5
    long long timestamp = 0; // seconds since 1970 as the data files or the store keep it
};

// How far a long start has come: one step of Init or InitMatrices. Within a stage `done` runs from 0 to `total`
// and never goes back; the stage's first report has done 0 and its last done == total.
struct StartProgress {
    const char* stage = ""; // "Reading ratings", then "Training" (only when a model is trained)
    std::uint64_t done = 0;
    std::uint64_t total = 0; // reading: percent (100); training: the model's steps
};

// Receives StartProgress on the thread that called Init or InitMatrices, at most about every 100 ms besides each
// stage's first and last report. It may run the window system's pending events; it must not call the engine.
using StartProgressCallback = std::function<void(const StartProgress&)>;

// The operations behind CMovieTable. The real engine implements them; tests put a scripted engine in its place.
class IMovieEngine {
public:
    virtual ~IMovieEngine() = default;
    virtual void Init(const CString& path) = 0;
    virtual void InitMatrices() = 0;
    virtual long GetNumberOfMovies() = 0;
    virtual MovieItem GetMovieDetails(int number) const = 0;
    virtual CString GetMovieGenres(int number) const = 0;
    virtual CString GetURLOfMovie(int number) const = 0;
    virtual long GetUserID(const CString& name, const CString& password) = 0;
    virtual long InsertUser(const CString& name, const CString& password) = 0;
    virtual void SetCurrentUser(long userId) = 0;
    virtual long GetCurrentUserID() const = 0;
    virtual long GetRating(long movieId, long userId, const CString& text) const = 0;
    virtual void SetNewRating(long movieId, long userId, long rating) = 0;
    virtual void GetInfo(long userId, double& average, long& count) const = 0;
    virtual bool CanPredict() const = 0;
    virtual double GetPredictedRating(long movieId, long userId) = 0;
    virtual void SetRefresh(bool refresh) = 0;
    virtual int GetMovieNumber(long movieId) const = 0;
    virtual std::vector<long> GetTopPicks(long userId, int count) = 0;
    virtual std::vector<MoviePick> GetTopPicksWithReasons(long userId, int count) = 0;
    virtual std::vector<long> GetSimilarMovies(long movieId, int count) = 0;
    virtual std::vector<UserRating> GetUserRatings(long userId) = 0;
    virtual void SetNotInterested(long movieId, long userId, bool notInterested) = 0;
    virtual std::vector<long> GetNotInterested(long userId) = 0;
    virtual void SetProgress(StartProgressCallback callback) = 0;
};

// The recommendation engine: catalogue, accounts, durable ratings and predictions.
// Held by value; the engine stands behind it. Order of use: construct, Init, InitMatrices, then anything; a call
// that needs what Init or InitMatrices prepares, made before they succeeded, throws CMException saying so.
// Every failure leaves as CMException with a caption and a text that name what failed; none ends the program.
// Every answer that depends on the store first takes in what other programs committed to it.
class CMovieTable {
public:
    // The real engine.
    CMovieTable();
    // Another engine in its place (tests).
    explicit CMovieTable(std::unique_ptr<IMovieEngine> engine);
    CMovieTable(CMovieTable&&) noexcept;
    CMovieTable& operator=(CMovieTable&&) noexcept;
    ~CMovieTable();

    // Loads the catalogue and ratings named by the manifest at `path` and opens the store. A relative `path` (a
    // backslash is a separator) is looked for in the working directory, the program's folder, the user's and the
    // system's XDG data folders and the installation's share/quillory. The store is the SQLite file the manifest
    // names, beside the data where that folder is writable and not installed data, else in the user's XDG data
    // folder; or the PostgreSQL server whose URI the manifest gives. Unchanged data starts from a snapshot of the
    // parsed files (kept beside the store or in the user's XDG cache folder). A manifest or data file that is
    // missing or malformed, data that needs more memory than there is, or a store that cannot be opened:
    // CMException naming the file (and the line), and the engine stays unusable until an Init succeeds.
    void Init(const CString& path);
    // Makes the prediction model ready: loads the trained model when the model cache matches the data, else trains
    // it on every core and keeps it in the cache; then folds in every user's ratings from the store.
    void InitMatrices();
    // The movie count + 1: catalogue numbers 1 to GetNumberOfMovies() - 1 are valid.
    long GetNumberOfMovies();
    // The movie with catalogue number `number`; CMException for a number outside the catalogue.
    MovieItem GetMovieDetails(int number) const;
    // The genres of the movie with catalogue number `number`, as the data names them, joined by ", " in the data's
    // order (e.g. "Animation, Children's, Comedy"); empty for a movie without genres. CMException for a number
    // outside the catalogue.
    CString GetMovieGenres(int number) const;
    // The web address of the movie with catalogue number `number`; CMException for a number outside the catalogue.
    CString GetURLOfMovie(int number) const;
    // The id of the account with this name and password, else NO_USER (also for an empty name or password). Names
    // compare as registration compares them (see InsertUser); an account's exact name always matches. Users of the
    // data files have no password and cannot log in.
    long GetUserID(const CString& name, const CString& password);
    // Registers a new account and returns its id, handed out by the store in the accounts' own range (from
    // 2,000,000,000 up, above every data user) so that two programs never give out the same id. The name is kept as
    // typed and compared in Unicode NFC with the blanks at both ends removed (case counts): NO_USER for a name that
    // is taken, empty once trimmed, not UTF-8 or holding a control character, and for an empty password. The
    // password is kept only as an Argon2id hash. Committed before it returns.
    long InsertUser(const CString& name, const CString& password);
    // Makes `userId` the current user: any id, NO_USER for nobody. Never throws but when the table has no engine: a
    // store that cannot be read now is reported by the next call that needs it.
    void SetCurrentUser(long userId);
    // The current user; NO_USER until SetCurrentUser.
    long GetCurrentUserID() const;
    // The user's rating of the movie (by id), 1 to 5, from the data files or the store; 0 when there is none or the
    // user is unknown. `text` is unused. CMException for a movie id the catalogue lacks, and "Nobody is logged in"
    // for NO_USER.
    long GetRating(long movieId, long userId, const CString& text) const;
    // Stores a rating 1 to 5 of an unrated movie (by id); committed before it returns. CMException for NO_USER
    // (nobody is logged in), a rating outside 1 to 5, a movie the catalogue lacks, a user neither the data nor the
    // store holds, a movie the user has already rated, here or meanwhile in another program (nothing is ever
    // overwritten), and a write the store cannot make.
    void SetNewRating(long movieId, long userId, long rating);
    // The user's average rating and number of ratings, data files and store together; 0 and 0 when he has none or
    // is unknown. CMException "Nobody is logged in" for NO_USER.
    void GetInfo(long userId, double& average, long& count) const;
    // True once the current user has MIN_RATINGS_TO_PREDICT ratings or more. CMException "Nobody is logged in" while
    // the current user is NO_USER.
    bool CanPredict() const;
    // The predicted rating of the movie (by id) for the user, within 1 to 5, reflecting every rating he has entered,
    // also just now or in another program. A user the engine does not know, or one without ratings, gets what the
    // model expects of anyone for that movie. CMException for a movie id the catalogue lacks, "Nobody is logged in"
    // for NO_USER, and a prediction the model cannot compute.
    double GetPredictedRating(long movieId, long userId);
    // With true, folds every rating of the current user into the model now (nothing while nobody is logged in);
    // false does nothing.
    void SetRefresh(bool refresh);

    // The catalogue number (1 to GetNumberOfMovies() - 1) of the movie with this id; CMException for an id the
    // catalogue lacks.
    int GetMovieNumber(long movieId) const;
    // Up to `count` movies for the user to watch next, best first: never one he has rated (in the data files or the
    // store, here or in another program), never one he marked not interested (SetNotInterested), never one twice,
    // and `count` of them while that many such movies exist. A user with fewer than MIN_RATINGS_TO_PREDICT ratings,
    // even none, gets movies that are widely seen and well liked. A rating just entered changes the next answer.
    // Empty for a count of 0 or less; CMException "Nobody is logged in" for NO_USER and CMException for a user
    // neither the data nor the store holds, whatever the count.
    std::vector<long> GetTopPicks(long userId, int count);
    // GetTopPicks with the user's predicted rating of each pick and its reason: the movie he rated highly that
    // supports the pick most (none for a newcomer's picks). The same movies in the same order.
    std::vector<MoviePick> GetTopPicksWithReasons(long userId, int count);
    // Up to `count` movies most alike the movie (by id) by who likes them in the data files, most alike first; never
    // the movie itself. Empty for a count of 0 or less; CMException for a movie id the catalogue lacks, whatever the
    // count.
    std::vector<long> GetSimilarMovies(long movieId, int count);
    // Every rating of the user, data files and store, newest first; ratings of the same second by movie id, lowest
    // first. CMException "Nobody is logged in" for NO_USER; an unknown user has none.
    std::vector<UserRating> GetUserRatings(long userId);
    // With true, hides the movie (by id) from the user's top picks for good; with false, shows it there again. Kept
    // in the store and committed before it returns, so that another program on the same store sees it at once;
    // setting what is already set does nothing. CMException "Nobody is logged in" for NO_USER, and CMException for a
    // movie id the catalogue lacks, a user neither the data nor the store holds, and a write the store cannot make.
    void SetNotInterested(long movieId, long userId, bool notInterested);
    // The movies (by id) the user has hidden with SetNotInterested, most recently hidden first. CMException "Nobody
    // is logged in" for NO_USER; an unknown user has none.
    std::vector<long> GetNotInterested(long userId);

    // The callback that Init and InitMatrices report their progress to (see StartProgress); an empty one reports
    // nothing. It changes nothing of what is loaded or trained.
    void SetProgress(StartProgressCallback callback);

private:
    std::unique_ptr<IMovieEngine> m_engine;
};
