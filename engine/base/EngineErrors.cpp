#include "EngineErrors.h"

#include "MException.h"

namespace quillory {

void ThrowDataError(const std::string& text) {
    throw CMException(kDataErrorCaption, text);
}

void ThrowStoreError(const std::string& text) {
    throw CMException(kStoreErrorCaption, text);
}

void ThrowModelError(const std::string& text) {
    throw CMException(kModelErrorCaption, text);
}

void ThrowUsageError(const std::string& text) {
    throw CMException(kUsageErrorCaption, text);
}

void ThrowNobodyLoggedIn() {
    throw CMException(kUsageErrorCaption, kNobodyLoggedInText);
}

} // namespace quillory
