#include "DataLoading.h"

#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

#include "DataSet.h"
#include "Fingerprint.h"

namespace quillory {

data::Snapshot LoadData(const data::Manifest& manifest, std::string& fingerprint, CRatingTimes& times) {
    std::filesystem::path snapshotPath = manifest.cacheBase;
    snapshotPath += ".snapshot";
    // The snapshot is derived data: a missing, stale or damaged one is ignored, and the text is read instead. The
    // files are hashed only where a snapshot exists, so a first start reads them once.
    std::error_code error;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(snapshotPath, error))) {
        if (const std::optional<data::DataFingerprint> hashed = data::FingerprintDataFiles(manifest)) {
            data::Snapshot snapshot;
            if (data::LoadSnapshot(snapshotPath, *hashed, snapshot)) {
                fingerprint = hashed->text;
                times = CRatingTimes(manifest.cacheBase, fingerprint);
                return snapshot;
            }
        }
    }

    data::DataSet data = data::LoadDataSet(manifest);
    fingerprint = data.fingerprint;
    times = CRatingTimes(manifest.cacheBase, fingerprint);
    times.KeepFresh(data.ratings); // the snapshot keeps no times
    data::Snapshot snapshot = data::BuildSnapshot(std::move(data));
    try {
        data::SaveSnapshot(snapshotPath, fingerprint, snapshot);
    } catch (const std::exception& e) {
        // Not fatal: the next start reads the text again. One line, so the reason can be found.
        std::cerr << "Quillory: the parsed data could not be kept in " << snapshotPath.string() << ": " << e.what()
                  << '\n';
    }
    return snapshot;
}

} // namespace quillory
