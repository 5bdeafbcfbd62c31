#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include <Eigen/Core>

namespace quillory::eval {

// EASE (Steck, 2019) on 0/1 data over the most-rated items: B = I - P diag(1/diag(P)) with P = (X'X + lambda I)^-1,
// so a user's score of item j is -(sum of P's rows i over his items) / P_jj. The yardstick the ranking model and the
// newcomers' lists are measured against.
class CEase {
public:
    using UserList = std::vector<std::pair<std::uint32_t, float>>;

    // The Gram matrix of `rated` (each user's items; the values are not read) over the first `limit` items of
    // `byCount` (every item, most rated first). Items outside that set are never ranked.
    CEase(const std::vector<UserList>& rated, const std::vector<std::uint32_t>& byCount, std::uint32_t limit);

    // Solves for the penalty; another penalty may follow on the same Gram matrix.
    void Fit(double lambda);

    // Replaces `list` with up to `depth` items of the model's set for a user who rated `rated`, best first (of equal
    // scores the lower item), none for which `excluded` says true.
    void Rank(const UserList& rated, const std::function<bool(std::uint32_t)>& excluded, std::size_t depth,
              std::vector<std::uint32_t>& list);

    std::size_t Size() const { return m_items.size(); }

private:
    std::vector<int> m_position; // per item, its place in m_items, or -1
    std::vector<std::uint32_t> m_items;
    Eigen::MatrixXf m_gram, m_inverse;
    Eigen::VectorXf m_diagonal, m_sum;
    std::vector<std::pair<float, std::uint32_t>> m_scored;
};

} // namespace quillory::eval
