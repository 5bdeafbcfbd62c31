#include "SqliteDatabase.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "CleanedText.h"
#include "DiskErrors.h"
#include "EngineErrors.h"
#include "StoreRefusals.h"

namespace quillory::store {

void CSqliteDatabase::Closer::operator()(sqlite3* db) const noexcept {
    // close_v2 defers the close until any statement still alive is finalised, so it never leaks or fails here.
    sqlite3_close_v2(db);
}

namespace {

// A path as an SQLite URI's file part: every byte but the unreserved ones and '/' percent-encoded, so that a '?', '#'
// or '%' in a folder's name stays a part of the name.
std::string UriPath(const std::filesystem::path& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const char c : std::filesystem::absolute(path).string()) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0xF];
        }
    }
    return uri;
}

} // namespace

CSqliteDatabase::CSqliteDatabase(const std::filesystem::path& path, Mode mode, std::string whyReadOnly)
    : m_path(path), m_whyReadOnly(mode == Mode::ReadWrite ? std::string() : std::move(whyReadOnly)) {
    sqlite3* db = nullptr;
    const std::string name = mode == Mode::Immutable ? UriPath(path) + "?immutable=1" : path.string();
    const int flags = mode == Mode::ReadWrite  ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                      : mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY
                                               : SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    m_db.reset(db);
    if (rc != SQLITE_OK) {
        const std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        ThrowStoreError("Cannot open the store " + path.string() + ": " + message + ".");
    }
    sqlite3_extended_result_codes(db, 1);

    // Remember which file is open, so that RequireInPlace can tell whether the path still leads to it. SQLite holds
    // the file it opened a moment ago; it confirms that the one found at the path now is that file.
    struct stat opened {};
    int moved = 0;
    if (::stat(path.c_str(), &opened) != 0 ||
        (sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0)) {
        ThrowStoreError("Cannot open the store " + path.string() +
                        ": it was moved or deleted while it was being opened. Start Quillory again.");
    }
    m_device = opened.st_dev;
    m_inode = opened.st_ino;
}

void CSqliteDatabase::Execute(const char* sql, const std::string& what) {
    if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        Fail(what);
    }
}

void CSqliteDatabase::SetBusyTimeout(int milliseconds) {
    if (sqlite3_busy_timeout(m_db.get(), milliseconds) != SQLITE_OK) {
        Fail("Setting the wait for other programs");
    }
}

int CSqliteDatabase::Changes() const {
    return sqlite3_changes(m_db.get());
}

int CSqliteDatabase::ErrorCode() const {
    return sqlite3_extended_errcode(m_db.get()) & 0xFF;
}

bool CSqliteDatabase::IsDiskFull(int extendedCode, int systemError) {
    // SQLITE_FULL is SQLite's own word for it; a write, a sync or the growth of the shared-memory file that fails
    // for want of room is an I/O error whose system error says why.
    return extendedCode == SQLITE_FULL || ((extendedCode & 0xFF) == SQLITE_IOERR && quillory::IsDiskFull(systemError));
}

void CSqliteDatabase::Fail(const std::string& what) const {
    const int code = sqlite3_extended_errcode(m_db.get());
    const int systemError = sqlite3_system_errno(m_db.get());
    const std::string message = CleanedText(sqlite3_errmsg(m_db.get()));
    std::string text = what + " in the store " + m_path.string() + " failed: ";
    if (IsDiskFull(code, systemError)) {
        const std::filesystem::path folder = m_path.has_parent_path() ? m_path.parent_path() : ".";
        text += DiskErrorText(systemError == EDQUOT ? EDQUOT : ENOSPC, folder) + " (" + message +
                "). Make room on it, then try again.";
    } else {
        text += message + ".";
    }
    if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) {
        text += " Another program is using the store; try again when it is done.";
    }
    ThrowStoreError(text);
}

void CSqliteDatabase::RequireWritable(const std::string& what) const {
    RefuseWriteWhenReadOnly(m_path.string(), m_whyReadOnly, what);
}

void CSqliteDatabase::RequireInPlace(const std::string& what) const {
    struct stat now {};
    const bool found = ::stat(m_path.c_str(), &now) == 0;
    const int error = errno;
    if (found && now.st_dev == m_device && now.st_ino == m_inode) {
        return;
    }
    // A deleted file stays open and takes every write without a complaint, and a moved one takes them wherever it
    // went; either way the next start, which opens the path, would not see them.
    const std::string reason = found ? "another file is at that path now"
                                     : std::string("its file is no longer at that path (") + std::strerror(error) + ")";
    ThrowStoreError(what + " in the store " + m_path.string() + " failed: " + reason +
                    ". The store was moved, replaced or deleted while Quillory ran, and a change written to it now "
                    "would not be seen by the next start. Restart Quillory to open the store that is at that path "
                    "now.");
}

} // namespace quillory::store
