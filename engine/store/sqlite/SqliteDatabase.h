#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>

struct sqlite3;

namespace quillory::store {

// An open SQLite database file. Owns the connection; closing cannot fail visibly (destructors never throw).
// Every failure throws CMException with the store caption, naming the file and SQLite's own message.
class CSqliteDatabase {
public:
    // How the file is opened: for reading and writing (created when missing); for reading only; or for reading a
    // file nothing will change while it is open (SQLite then takes no lock and looks for no write-ahead log, so it
    // needs nothing but the file itself: for a read-only folder that holds no write-ahead log).
    enum class Mode { ReadWrite, ReadOnly, Immutable };

    // Opens `path` as `mode` says. `whyReadOnly` (for the read-only modes) is what a refused write says.
    explicit CSqliteDatabase(const std::filesystem::path& path, Mode mode = Mode::ReadWrite,
                             std::string whyReadOnly = {});

    // Runs one or more statements that return no rows. `what` says what was being done, for the message.
    void Execute(const char* sql, const std::string& what);

    // How long a statement waits for another program's lock before it fails with "busy".
    void SetBusyTimeout(int milliseconds);

    // The number of rows the last INSERT, UPDATE or DELETE changed.
    int Changes() const;

    // SQLite's primary result code of the last failed call (SQLITE_NOTADB, SQLITE_BUSY ...).
    int ErrorCode() const;

    // Throws CMException: "<what> in the store <file> failed: <SQLite's message>." A full disk says so, naming the
    // store's folder (SQLite would say "disk I/O error" for some of its writes).
    [[noreturn]] void Fail(const std::string& what) const;

    // Why the file cannot be written (empty when it can), and the refusal of a write (`what`) when it cannot.
    const std::string& WhyReadOnly() const { return m_whyReadOnly; }
    void RequireWritable(const std::string& what) const;

    // Whether SQLite's result (extended code) and the system error behind it (errno) mean that the disk is full.
    static bool IsDiskFull(int extendedCode, int systemError);

    // Throws CMException when the path no longer leads to the file that is open (moved, replaced or deleted): a
    // write would then go where the next start cannot see it. One stat, a microsecond beside a commit's sync.
    void RequireInPlace(const std::string& what) const;

    sqlite3* Handle() const { return m_db.get(); }
    const std::filesystem::path& Path() const { return m_path; }

private:
    struct Closer {
        void operator()(sqlite3* db) const noexcept;
    };

    std::filesystem::path m_path;
    std::string m_whyReadOnly;
    std::unique_ptr<sqlite3, Closer> m_db;
    // The open file, as the file system names it.
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace quillory::store
