#pragma once

#include <string>

namespace quillory::store {

class CSqliteDatabase;

// A write transaction: BEGIN IMMEDIATE takes the store's write lock at once (waiting out the busy timeout), so that
// what is read inside it cannot change before the write. Rolled back in the destructor unless committed; the
// destructor never throws. The store must be writable (CSqliteDatabase::RequireWritable), and its file must still be
// at its path when the transaction begins and once it is committed (CSqliteDatabase::RequireInPlace): a write the
// next start cannot see is never acknowledged.
class CSqliteTransaction {
public:
    CSqliteTransaction(CSqliteDatabase& db, std::string what);
    ~CSqliteTransaction();
    CSqliteTransaction(const CSqliteTransaction&) = delete;
    CSqliteTransaction& operator=(const CSqliteTransaction&) = delete;

    // Makes every change of the transaction durable before it returns; throws CMException when it cannot, or when the
    // file was moved or deleted meanwhile (the change then went with it).
    void Commit();

private:
    CSqliteDatabase& m_db;
    std::string m_what;
    bool m_open = false;
};

} // namespace quillory::store
