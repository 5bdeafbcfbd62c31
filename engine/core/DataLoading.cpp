#include "DataLoading.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <future>
#include <iostream>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "DataSet.h"
#include "DerivedFileNames.h"
#include "EngineErrors.h"
#include "Fingerprint.h"
#include "OwnFolder.h"
#include "RatingStore.h"

namespace quillory {

namespace {

// Accounts own the ids from kFirstAccountId up: a data user there would silently take over an account. Checked on
// the text, before a snapshot of it is kept (a snapshot holding such an id is refused by LoadSnapshot).
void RequireDataUsersBelowAccounts(const data::DataSet& data) {
    const auto highest = std::max_element(data.users.begin(), data.users.end());
    if (highest != data.users.end() && *highest >= store::CRatingStore::kFirstAccountId) {
        ThrowDataError(fmt::format("The ratings file {} holds user id {}; the ids from {} up belong to the accounts of "
                                   "the store, so the data's user ids must stay below it.",
                                   data.manifest.ratings.string(), *highest, store::CRatingStore::kFirstAccountId));
    }
}

} // namespace

data::Snapshot LoadData(const data::Manifest& manifest, std::string& fingerprint, CRatingTimes& times,
                        CProgressReport& report) {
    report.Begin("Reading ratings", 100);
    const std::filesystem::path snapshotPath = DerivedFilePath(manifest.cacheBase, DerivedFile::Snapshot);
    // No derived file is kept where the manifest found no folder for them (ReadManifest said why). The snapshot is
    // trusted on its checksum, which anyone who can write it can make right: it is read and kept only in a folder of
    // the user's own. ReadManifest chose such a folder; checked again here, where it is used.
    const bool kept = !manifest.cacheBase.empty();
    const std::optional<std::string> notOwn = kept ? WhyNotOwnFolder(snapshotPath.parent_path()) : std::nullopt;
    // The snapshot is derived data: a missing, stale or damaged one is ignored, and the text is read instead. The
    // files are hashed only where a snapshot exists, so a first start reads them once; the hash is taken on a
    // thread of its own while the snapshot is read, and the snapshot kept only if it was made from what it finds.
    std::error_code error;
    const std::optional<data::DataFingerprint> sizes =
        kept && !notOwn && std::filesystem::is_regular_file(std::filesystem::symlink_status(snapshotPath, error))
            ? data::DataFileSizes(manifest)
            : std::nullopt;
    if (sizes) {
        std::future<std::optional<data::DataFingerprint>> hashing =
            std::async(std::launch::async, [&manifest] { return data::FingerprintDataFiles(manifest); });
        std::optional<data::DataFingerprint> hashed;
        data::Snapshot snapshot;
        const bool loaded = data::LoadSnapshot(
            snapshotPath, *sizes,
            [&](const std::string& saved) {
                hashed = hashing.get();
                return hashed && hashed->text == saved;
            },
            snapshot);
        if (loaded) {
            fingerprint = hashed->text;
            times = CRatingTimes(manifest.cacheBase, fingerprint);
            report.End();
            return snapshot;
        }
    }

    // The percentages follow the time each step takes on large data: reading and parsing the text a third, numbering
    // its users a sixth, the times of the ratings and the snapshot the rest.
    data::DataSet data;
    report.WhileReporting([&](std::atomic<std::uint64_t>& done) {
        data = data::LoadDataSet(manifest, [&done](std::size_t parsed, std::size_t total) {
            done.store(total == 0 ? 0 : 35 * parsed / total);
        });
    });
    report.Update(50);
    RequireDataUsersBelowAccounts(data);
    fingerprint = data.fingerprint;
    times = CRatingTimes(notOwn ? std::filesystem::path() : manifest.cacheBase, fingerprint);
    data::Snapshot snapshot;
    // The times (not in the snapshot) first, while the ratings' order is there to read them by; then the snapshot,
    // whose entries take the order's place. One after the other, so that no third copy of the ratings' order is
    // held beside the ratings: that would make this the start's largest moment on large data.
    report.WhileReporting([&](std::atomic<std::uint64_t>&) {
        times.KeepFresh(data);
        snapshot = data::BuildSnapshot(data);
    });
    std::vector<data::RatingRecord>().swap(data.ratings);
    report.Update(95);
    if (!kept || notOwn) {
        if (notOwn) {
            std::cerr << "Quillory: the parsed data is not kept in " << snapshotPath.string() << ": " << *notOwn
                      << '\n';
        }
        report.End();
        return snapshot;
    }
    try {
        data::SaveSnapshot(snapshotPath, fingerprint, snapshot);
    } catch (const std::exception& e) {
        // Not fatal: the next start reads the text again. One line, so the reason can be found.
        std::cerr << "Quillory: the parsed data could not be kept in " << snapshotPath.string() << ": " << e.what()
                  << '\n';
    }
    report.End();
    return snapshot;
}

} // namespace quillory
