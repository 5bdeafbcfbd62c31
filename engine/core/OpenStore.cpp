#include "OpenStore.h"

#include "PostgresStore.h"
#include "SqliteStore.h"

namespace quillory {

std::unique_ptr<store::CRatingStore> OpenStore(const data::Manifest& manifest) {
    if (!manifest.storeUri.empty()) {
        return std::make_unique<store::CPostgresStore>(manifest.storeUri);
    }
    return std::make_unique<store::CSqliteStore>(manifest.store);
}

} // namespace quillory
