#pragma once

#include <string>

#include "DataSnapshot.h"
#include "Manifest.h"
#include "ProgressReport.h"
#include "RatingTimes.h"

namespace quillory {

// The data of the manifest's files: from the data snapshot when it matches the files, else from the text, keeping
// a snapshot for the next start (a snapshot that cannot be kept is reported on stderr, never fatal). `fingerprint`
// receives the data's fingerprint, and `times` when each rating was made (kept beside the snapshot from text, read
// when first needed from a snapshot). A data file that cannot be read or is malformed, or a ratings file with a user
// id in the accounts' range (CRatingStore::kFirstAccountId up): CMException naming it. The snapshot is read and kept
// only in a folder of the user's own (WhyNotOwnFolder); elsewhere the text is read, with one line on stderr. Nothing
// is read or kept when the manifest's cacheBase is empty.
// `report` follows it as the stage "Reading ratings", in percent.
data::Snapshot LoadData(const data::Manifest& manifest, std::string& fingerprint, CRatingTimes& times,
                        CProgressReport& report);

} // namespace quillory
