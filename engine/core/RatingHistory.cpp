#include "RatingHistory.h"

#include <algorithm>

namespace quillory {

std::vector<UserRating> RatingsNewestFirst(const CUserRatings& ratings, std::uint32_t user,
                                           std::span<const long long> dataTimes, const CCatalogue& catalogue) {
    std::vector<UserRating> out;
    // Of lists the data ratings first, in the order of their times.
    const std::vector<CUserRatings::ItemStars> all = ratings.Of(user);
    const std::span<const CUserRatings::Entered> entered = ratings.EnteredOf(user);
    const std::size_t dataCount = all.size() - entered.size();
    out.reserve(all.size());
    for (std::size_t i = 0; i < dataCount; ++i) {
        const long long time = i < dataTimes.size() ? dataTimes[i] : 0;
        out.push_back(UserRating{catalogue.At(static_cast<int>(all[i].first) + 1).id, all[i].second, time});
    }
    for (const CUserRatings::Entered& rating : entered) {
        out.push_back(UserRating{catalogue.At(static_cast<int>(rating.item) + 1).id, rating.stars, rating.timestamp});
    }
    std::sort(out.begin(), out.end(), [](const UserRating& a, const UserRating& b) {
        return a.timestamp != b.timestamp ? a.timestamp > b.timestamp : a.movieId < b.movieId;
    });
    return out;
}

} // namespace quillory
