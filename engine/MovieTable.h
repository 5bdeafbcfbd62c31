#pragma once

#include <memory>

#include "CString.h"

// A user id that means "no such user": the answer of GetUserID and InsertUser when they refuse.
inline constexpr long NO_USER = -1;

// The manifest the program starts on; relative, so the engine looks for it where data is kept (see Init).
inline constexpr const char* kDefaultDataPath = "MovieData\\files.txt";

// One movie of the catalogue.
struct MovieItem {
    CString title;       // the title as listed, e.g. "Toy Story (1995)"
    int id = 0;          // the movie identifier that ratings and predictions use
    CString name;        // the title without its year, leading article restored
    CString releaseDate; // release date as the data gives it, else the year
};

// Every failure of the engine leaves as a CMException: a caption and a message text.
class CMException {
public:
    CMException() = default;
    CMException(CString caption, CString text) : m_caption(std::move(caption)), m_text(std::move(text)) {}
    CMException(const CMException&) = default;
    CMException& operator=(const CMException&) = default;
    virtual ~CMException() = default;

    CString GetCaption() const { return m_caption; }
    CString GetText() const { return m_text; }

private:
    CString m_caption;
    CString m_text;
};

// The operations behind CMovieTable. The real engine implements them; tests put a scripted engine in its place.
class IMovieEngine {
public:
    virtual ~IMovieEngine() = default;
    virtual void Init(const CString& path) = 0;
    virtual void InitMatrices() = 0;
    virtual long GetNumberOfMovies() = 0;
    virtual MovieItem GetMovieDetails(int number) const = 0;
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
};

// The recommendation engine: catalogue, accounts, durable ratings and predictions.
// Held by value; the engine stands behind it. Order of use: construct, Init, InitMatrices, then anything.
// Every operation may throw CMException.
class CMovieTable {
public:
    // The real engine.
    CMovieTable();
    // Another engine in its place (tests).
    explicit CMovieTable(std::unique_ptr<IMovieEngine> engine);
    CMovieTable(CMovieTable&&) noexcept;
    CMovieTable& operator=(CMovieTable&&) noexcept;
    ~CMovieTable();

    // Loads the catalogue and ratings named by the manifest at `path` and opens the store beside them. A manifest or
    // data file that is missing or malformed, or a store that cannot be opened: CMException naming the file (and the
    // line), and the engine stays unusable until an Init succeeds.
    void Init(const CString& path);
    // Makes the prediction model ready over every rating (loads the trained model when a valid cache exists).
    void InitMatrices();
    // The movie count + 1: catalogue numbers 1 to GetNumberOfMovies() - 1 are valid.
    long GetNumberOfMovies();
    // The movie with catalogue number `number`.
    MovieItem GetMovieDetails(int number) const;
    // The web address of the movie with catalogue number `number`.
    CString GetURLOfMovie(int number) const;
    // The id of the user with this name and password, else NO_USER. Users of the data files have no password.
    long GetUserID(const CString& name, const CString& password);
    // Registers a new user and returns the new id, above every user id of the data and the store; NO_USER for an
    // empty or taken name (compared exactly: case and blanks count) or an empty password. Committed before it returns.
    long InsertUser(const CString& name, const CString& password);
    // Makes `userId` the current user: any id, NO_USER for nobody. Throws only when the table has no engine.
    void SetCurrentUser(long userId);
    // The current user; NO_USER until SetCurrentUser.
    long GetCurrentUserID() const;
    // The user's rating of the movie (by id), 1 to 5; 0 when there is none. `text` is unused. A movie id the
    // catalogue lacks: CMException.
    long GetRating(long movieId, long userId, const CString& text) const;
    // Stores a rating 1 to 5 of an unrated movie (by id); committed before it returns. CMException for a rating outside
    // 1 to 5, a movie the catalogue lacks, a user neither the data nor the store holds, a movie the user has already
    // rated (nothing is ever overwritten) and a write the store cannot make.
    void SetNewRating(long movieId, long userId, long rating);
    // The user's average rating and number of ratings; 0 and 0 when he has none.
    void GetInfo(long userId, double& average, long& count) const;
    // True once the current user has enough ratings for a prediction.
    bool CanPredict() const;
    // The predicted rating of the movie (by id) for any user id, within 1 to 5; an unknown user, or one without
    // ratings, gets what the model expects of a typical user. A movie id the catalogue lacks: CMException.
    double GetPredictedRating(long movieId, long userId);
    // With true, folds every rating of the current user into the model; false does nothing.
    void SetRefresh(bool refresh);

private:
    std::unique_ptr<IMovieEngine> m_engine;
};
