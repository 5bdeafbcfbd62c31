#include "DiskErrors.h"

#include <cerrno>
#include <cstring>

namespace quillory {

bool IsDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

std::string DiskErrorText(int error, const std::filesystem::path& folder) {
    if (error == ENOSPC) {
        return "the disk that holds " + folder.string() + " is full";
    }
    if (error == EDQUOT) {
        return "the disk that holds " + folder.string() + " is full for you: your disk quota there is used up";
    }
    return std::strerror(error);
}

} // namespace quillory
