// What a prediction reads of one user (his vector, his biases, his rated list) and the prediction's two parts: the
// core (the factorisation, or the baseline where that stands alone) and the neighbour term on his residuals.

#include <algorithm>
#include <bit>

#include "RatingModelImpl.h"

namespace quillory::model {

CRatingModel::Impl::UserView CRatingModel::Impl::View(std::uint32_t user) const {
    UserView view;
    if (HasFactors()) {
        view.row = priorUserFactors.data();
        view.bias = priorUserBias;
    }
    if (user < numUsers) {
        view.baseBias = baseUserBias[user];
        if (HasFactors()) {
            view.row = &userFactors[std::size_t(user) * Width()];
            view.bias = userBias[user];
        }
        if (HasNeighbours()) {
            if (auto it = foldedRated.find(user); it != foldedRated.end()) {
                view.items = it->second.items.data();
                view.residuals = it->second.residuals.data();
                view.count = it->second.items.size();
                view.set = it->second.set.bits.empty() ? nullptr : &it->second.set;
            } else {
                view.items = ratedItem.data() + ratedStart[user];
                view.residuals = ratedResidual.data() + ratedStart[user];
                view.count = static_cast<std::size_t>(ratedStart[user + 1] - ratedStart[user]);
                view.set = heavyOf[user] == kNoSet ? nullptr : &heavySets[heavyOf[user]];
            }
        }
    } else if (auto it = extraUsers.find(user); it != extraUsers.end()) {
        view.baseBias = it->second.baseBias;
        if (HasFactors()) {
            view.row = it->second.factors.data();
            view.bias = it->second.bias;
        }
        view.items = it->second.rated.items.data();
        view.residuals = it->second.rated.residuals.data();
        view.count = it->second.rated.items.size();
        view.set = it->second.rated.set.bits.empty() ? nullptr : &it->second.rated.set;
    }
    return view;
}

double CRatingModel::Impl::Core(const UserView& user, std::uint32_t item) const {
    if (!HasFactors()) {
        return double(mean) + user.baseBias + baseItemBias[item];
    }
    const auto width = static_cast<Eigen::Index>(Width());
    const Eigen::Map<const Eigen::VectorXf> u(user.row, width);
    const Eigen::Map<const Eigen::VectorXf> v(&itemFactors[std::size_t(item) * Width()], width);
    return double(mean) + user.bias + itemBias[item] + u.dot(v);
}

double CRatingModel::Impl::NeighbourTerm(const UserView& user, std::uint32_t item) const {
    if (!HasNeighbours() || user.count == 0) {
        return 0.0;
    }
    const std::uint32_t* first = neighbourIndex.data() + neighbourStart[item];
    const std::uint32_t* last = neighbourIndex.data() + neighbourStart[item + 1];
    const float* weights = neighbourWeight.data() + neighbourStart[item];
    double weighted = 0.0, total = 0.0;
    if (user.set) {
        const std::uint64_t* bits = user.set->bits.data();
        const std::uint32_t* ranks = user.set->ranks.data();
        for (const std::uint32_t* n = first; n != last; ++n) {
            const std::uint64_t word = bits[*n >> 6];
            const std::uint64_t below = (std::uint64_t(1) << (*n & 63)) - 1;
            if ((word >> (*n & 63)) & 1) {
                const double w = weights[n - first];
                weighted += w * ResidualOf(user.residuals[ranks[*n >> 6] + std::popcount(word & below)]);
                total += w;
            }
        }
        return weighted / (total + settings.neighbourDamping);
    }
    // Both lists are sorted: walk the shorter one and search the other from where the last search ended.
    if (user.count <= static_cast<std::size_t>(last - first)) {
        const std::uint32_t* at = first;
        for (std::size_t k = 0; k < user.count && at != last; ++k) {
            at = std::lower_bound(at, last, user.items[k]);
            if (at != last && *at == user.items[k]) {
                const double w = weights[at - first];
                weighted += w * ResidualOf(user.residuals[k]);
                total += w;
            }
        }
    } else {
        const std::uint32_t* begin = user.items;
        const std::uint32_t* end = user.items + user.count;
        for (const std::uint32_t* n = first; n != last && begin != end; ++n) {
            begin = std::lower_bound(begin, end, *n);
            if (begin != end && *begin == *n) {
                const double w = weights[n - first];
                weighted += w * ResidualOf(user.residuals[begin - user.items]);
                total += w;
            }
        }
    }
    return weighted / (total + settings.neighbourDamping);
}

} // namespace quillory::model
