#include "OpenStore.h"

#include <iostream>
#include <optional>
#include <string>

#include "EngineErrors.h"
#include "OwnFolder.h"
#include "PostgresStore.h"
#include "SqliteStore.h"

namespace quillory {

namespace {

std::unique_ptr<store::CRatingStore> OpenNamedStore(const data::Manifest& manifest) {
    if (!manifest.storeUri.empty()) {
        return std::make_unique<store::CPostgresStore>(manifest.storeUri);
    }
    // The store holds password hashes: only in a folder of the user's own. ReadManifest chose such a folder; checked
    // again here, where the store is opened.
    const std::filesystem::path folder = manifest.store.parent_path();
    if (const std::optional<std::string> why = WhyNotOwnFolder(folder)) {
        ThrowStoreError("Cannot use the folder " + folder.string() + " for your accounts and ratings: " + *why + ".");
    }
    return std::make_unique<store::CSqliteStore>(manifest.store);
}

} // namespace

std::unique_ptr<store::CRatingStore> OpenStore(const data::Manifest& manifest) {
    std::unique_ptr<store::CRatingStore> store = OpenNamedStore(manifest);
    // The user's own store, even when it cannot be written: he logs in and sees his ratings; each write says why not.
    if (const std::string why = store->WhyReadOnly(); !why.empty()) {
        std::cerr << "Quillory: the store " << store->Describe() << " is read-only (" << why
                  << "): you can log in and see what it holds, but not register or rate.\n";
    }
    return store;
}

} // namespace quillory
