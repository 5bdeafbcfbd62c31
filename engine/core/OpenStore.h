#pragma once

#include <memory>

#include "Manifest.h"
#include "RatingStore.h"

namespace quillory {

// Opens the store the manifest names: the PostgreSQL server of `storeUri` when it is set, else the SQLite file
// `store`, which must lie in a folder of the user's own (WhyNotOwnFolder). A store that cannot be written is opened
// read-only (CRatingStore::WhyReadOnly), with one line on stderr. Every failure: CMException with the store caption,
// naming the store or its folder.
std::unique_ptr<store::CRatingStore> OpenStore(const data::Manifest& manifest);

} // namespace quillory
