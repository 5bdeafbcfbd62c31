// A file system error in words that name the place: a full disk says which disk, anything else keeps the system's
// own words.
#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "DiskErrors.h"

namespace quillory::test {
namespace {

TEST(DiskErrors, AFullDiskNamesTheFolderItHolds) {
    struct Case {
        int error;
        bool full;
        const char* text;
    } const cases[] = {
        {ENOSPC, true, "the disk that holds /srv/movie data is full"},
        {EDQUOT, true, "the disk that holds /srv/movie data is full for you: your disk quota there is used up"},
        {EACCES, false, "Permission denied"},
        {EIO, false, "Input/output error"},
        {EROFS, false, "Read-only file system"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(IsDiskFull(c.error), c.full);
        EXPECT_EQ(DiskErrorText(c.error, "/srv/movie data"), c.text);
    }
}

} // namespace
} // namespace quillory::test
