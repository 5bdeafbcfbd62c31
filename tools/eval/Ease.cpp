#include "Ease.h"

#include <algorithm>

#include <Eigen/Cholesky>

namespace quillory::eval {

CEase::CEase(const std::vector<UserList>& rated, const std::vector<std::uint32_t>& byCount, std::uint32_t limit)
    : m_position(byCount.size(), -1) {
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(byCount.size(), limit));
    m_items.assign(byCount.begin(), byCount.begin() + size);
    for (std::uint32_t k = 0; k < size; ++k) {
        m_position[m_items[k]] = static_cast<int>(k);
    }
    m_gram = Eigen::MatrixXf::Zero(size, size);
    std::vector<int> mine;
    for (const UserList& row : rated) {
        mine.clear();
        for (const auto& entry : row) {
            if (m_position[entry.first] >= 0) {
                mine.push_back(m_position[entry.first]);
            }
        }
        for (int a : mine) {
            for (int b : mine) {
                m_gram(a, b) += 1.0F;
            }
        }
    }
}

void CEase::Fit(double lambda) {
    Eigen::MatrixXf a = m_gram;
    a.diagonal().array() += static_cast<float>(lambda);
    m_inverse = a.llt().solve(Eigen::MatrixXf::Identity(a.rows(), a.cols()));
    m_diagonal = m_inverse.diagonal();
}

void CEase::Rank(const UserList& rated, const std::function<bool(std::uint32_t)>& excluded, std::size_t depth,
                 std::vector<std::uint32_t>& list) {
    m_sum.setZero(m_inverse.rows());
    for (const auto& entry : rated) {
        if (entry.first < m_position.size() && m_position[entry.first] >= 0) {
            m_sum += m_inverse.col(m_position[entry.first]);
        }
    }
    m_scored.clear();
    for (Eigen::Index k = 0; k < m_sum.size(); ++k) {
        if (!excluded(m_items[k])) {
            m_scored.emplace_back(-m_sum[k] / m_diagonal[k], m_items[k]);
        }
    }
    const auto top = static_cast<std::ptrdiff_t>(std::min(depth, m_scored.size()));
    std::partial_sort(m_scored.begin(), m_scored.begin() + top, m_scored.end(), [](const auto& x, const auto& y) {
        return x.first != y.first ? x.first > y.first : x.second < y.second;
    });
    list.clear();
    for (std::ptrdiff_t k = 0; k < top; ++k) {
        list.push_back(m_scored[k].second);
    }
}

} // namespace quillory::eval
