// The bias baseline: global mean plus ridge-regularised user and item biases, fitted by alternating sweeps. It is
// the answer while nothing else is trained, the yardstick of the held-out check, and the fold-in of a user's bias.

#include "RatingModelImpl.h"
#include "ThreadPool.h"

namespace quillory::model {

void CRatingModel::Impl::TrainBaseline(const GroupedRatings& grouped) {
    baseUserBias.assign(numUsers, 0.0f);
    baseItemBias.assign(numItems, 0.0f);
    // Each row's sum runs over its ratings in their input order, so the rows can go to any thread and the biases
    // come out the same.
    const auto fitSide = [&](const Rows& rows, const std::vector<float>& other, double reg, std::vector<float>& self) {
        constexpr std::size_t kRowsPerChunk = 1024;
        RunOverRows(threads, self.size(), kRowsPerChunk, [&](std::size_t first, std::size_t last) {
            for (std::size_t row = first; row < last; ++row) {
                double acc = 0.0;
                for (std::size_t k = rows.start[row]; k < rows.start[row + 1]; ++k) {
                    acc += rows.value[k] - mean - other[rows.index[k]];
                }
                self[row] = static_cast<float>(acc / (static_cast<double>(rows.Count(row)) + reg));
            }
        });
    };
    for (int sweep = 0; sweep < settings.biasSweeps; ++sweep) {
        fitSide(grouped.byItem, baseUserBias, settings.biasRegItem, baseItemBias);
        fitSide(grouped.byUser, baseItemBias, settings.biasRegUser, baseUserBias);
    }
}

float CRatingModel::Impl::SolveBaseBias(UserRatings ratings) const {
    double acc = 0.0;
    std::size_t count = 0;
    for (const auto& [item, value] : ratings) {
        if (item >= numItems) {
            continue;
        }
        acc += value - mean - baseItemBias[item];
        ++count;
    }
    return static_cast<float>(acc / (static_cast<double>(count) + settings.biasRegUser));
}

} // namespace quillory::model
