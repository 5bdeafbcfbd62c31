#include "OpenStore.h"

#include <optional>
#include <string>

#include "EngineErrors.h"
#include "OwnFolder.h"
#include "PostgresStore.h"
#include "SqliteStore.h"

namespace quillory {

std::unique_ptr<store::CRatingStore> OpenStore(const data::Manifest& manifest) {
    if (!manifest.storeUri.empty()) {
        return std::make_unique<store::CPostgresStore>(manifest.storeUri);
    }
    // The store holds password hashes: only in a folder of the user's own. ReadManifest chose such a folder; checked
    // again here, where the store is opened.
    const std::filesystem::path folder = manifest.store.parent_path();
    if (const std::optional<std::string> why = WhyNotOwnFolder(folder)) {
        ThrowStoreError("Cannot use the folder " + folder.string() + " for your accounts, ratings and model: " + *why +
                        ".");
    }
    return std::make_unique<store::CSqliteStore>(manifest.store);
}

} // namespace quillory
