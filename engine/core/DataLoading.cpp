#include "DataLoading.h"

#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

#include "DataSet.h"
#include "Fingerprint.h"
#include "OwnFolder.h"

namespace quillory {

data::Snapshot LoadData(const data::Manifest& manifest, std::string& fingerprint) {
    std::filesystem::path snapshotPath = manifest.cacheBase;
    snapshotPath += ".snapshot";
    // The snapshot is trusted on its checksum, which anyone who can write it can make right: it is read and kept only
    // in a folder of the user's own. ReadManifest chose such a folder; checked again here, where it is used.
    const std::optional<std::string> notOwn = WhyNotOwnFolder(snapshotPath.parent_path());
    // The snapshot is derived data: a missing, stale or damaged one is ignored, and the text is read instead. The
    // files are hashed only where a snapshot exists, so a first start reads them once.
    std::error_code error;
    if (!notOwn && std::filesystem::is_regular_file(std::filesystem::symlink_status(snapshotPath, error))) {
        if (const std::optional<data::DataFingerprint> hashed = data::FingerprintDataFiles(manifest)) {
            data::Snapshot snapshot;
            if (data::LoadSnapshot(snapshotPath, *hashed, snapshot)) {
                fingerprint = hashed->text;
                return snapshot;
            }
        }
    }

    data::DataSet data = data::LoadDataSet(manifest);
    fingerprint = data.fingerprint;
    data::Snapshot snapshot = data::BuildSnapshot(std::move(data));
    if (notOwn) {
        std::cerr << "Quillory: the parsed data is not kept in " << snapshotPath.string() << ": " << *notOwn << '\n';
        return snapshot;
    }
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
