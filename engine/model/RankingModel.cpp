#include "RankingModel.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <stdexcept>

// PLACEHOLDER: the first cut ranks every user's unrated items by how many rated them 4 or 5. The learned model,
// its reasons, similar items and its cache replace it on this branch before it lands.

namespace quillory::model {

std::string RankingSettings::Describe() const {
    char text[96];
    std::snprintf(text, sizeof text, "rank:min=%zu seed=%llu v0", minPersonalRatings,
                  static_cast<unsigned long long>(seed));
    return text;
}

RankingSettings RankingSettings::Defaults() {
    return RankingSettings{};
}

struct CRankingModel::Impl {
    RankingSettings settings;
    std::vector<std::uint32_t> liked;        // per item: ratings of 4 and up
    std::vector<std::uint32_t> byPopularity; // items, most liked first
};

CRankingModel::CRankingModel(RankingSettings settings) : m_impl(std::make_unique<Impl>()) {
    m_impl->settings = settings;
}

CRankingModel::~CRankingModel() = default;
CRankingModel::CRankingModel(CRankingModel&&) noexcept = default;
CRankingModel& CRankingModel::operator=(CRankingModel&&) noexcept = default;

const RankingSettings& CRankingModel::Settings() const {
    return m_impl->settings;
}

void CRankingModel::Train(std::span<const Rating> ratings, std::uint32_t /*numUsers*/, std::uint32_t numItems) {
    m_impl->liked.assign(numItems, 0);
    for (const Rating& rating : ratings) {
        if (rating.value >= 4.0F && rating.item < numItems) {
            ++m_impl->liked[rating.item];
        }
    }
    m_impl->byPopularity.resize(numItems);
    std::iota(m_impl->byPopularity.begin(), m_impl->byPopularity.end(), 0U);
    std::stable_sort(m_impl->byPopularity.begin(), m_impl->byPopularity.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return m_impl->liked[a] > m_impl->liked[b]; });
}

std::vector<RankedItem> CRankingModel::Rank(UserRatings rated, std::size_t count) const {
    std::vector<bool> seen(m_impl->liked.size(), false);
    for (const auto& [item, value] : rated) {
        seen[item] = true;
    }
    std::vector<RankedItem> picks;
    for (std::uint32_t item : m_impl->byPopularity) {
        if (picks.size() >= count) {
            break;
        }
        if (!seen[item]) {
            picks.push_back({item, static_cast<float>(m_impl->liked[item]), kNoItem});
        }
    }
    return picks;
}

std::vector<std::uint32_t> CRankingModel::Similar(std::uint32_t item, std::size_t count) const {
    std::vector<std::uint32_t> similar;
    for (std::uint32_t other : m_impl->byPopularity) {
        if (similar.size() >= count) {
            break;
        }
        if (other != item) {
            similar.push_back(other);
        }
    }
    return similar;
}

void CRankingModel::Save(const std::filesystem::path& /*path*/, std::string_view /*fingerprint*/) const {
    throw std::runtime_error("the ranking model cannot be saved yet");
}

bool CRankingModel::Load(const std::filesystem::path& /*path*/, std::string_view /*fingerprint*/,
                         std::optional<ModelShape> /*expected*/) {
    return false;
}

std::string CRankingModel::Summary() const {
    return "ranking: popularity of ratings of 4 and up, " + std::to_string(m_impl->liked.size()) + " items";
}

} // namespace quillory::model
