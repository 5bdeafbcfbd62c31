// Implicit alternating least squares with exact solves: each user's (and each item's) factors minimise the squared
// error over his ones, the weighted squared error over every zero (through the other side's Gram matrix, so no zero
// is visited) and his penalty.

#include "ImplicitAls.h"

#include <cmath>
#include <cstdio>

#include <Eigen/Cholesky>

#include "Random.h"

namespace quillory::eval {

std::string ImplicitAlsSettings::Describe() const {
    char text[128];
    std::snprintf(text, sizeof text, "ials k=%d epochs=%d a0=%g lambda=%g nu=%g", factors, epochs, unobserved, lambda,
                  nu);
    return text;
}

namespace {

// Solves for one row's factors against `other` (factors x n), the row's ones at `ones`.
template <typename Ones>
Eigen::VectorXf Solve(const Eigen::MatrixXf& other, const Eigen::MatrixXf& gram, const Ones& ones, double penalty) {
    const auto k = other.rows();
    Eigen::MatrixXf a = gram;
    Eigen::VectorXf b = Eigen::VectorXf::Zero(k);
    for (std::uint32_t j : ones) {
        a.selfadjointView<Eigen::Lower>().rankUpdate(other.col(j));
        b += other.col(j);
    }
    a.diagonal().array() += static_cast<float>(penalty);
    return a.selfadjointView<Eigen::Lower>().llt().solve(b);
}

} // namespace

Eigen::VectorXf CImplicitAls::SolveUser(const Rated& rated) const {
    std::vector<std::uint32_t> ones;
    ones.reserve(rated.size());
    for (const auto& entry : rated) {
        ones.push_back(entry.first);
    }
    const double penalty =
        m_settings.lambda *
        std::pow(double(ones.size()) + m_settings.unobserved * double(m_items.cols()), m_settings.nu);
    return Solve(m_items, m_gram, ones, penalty);
}

void CImplicitAls::Train(const std::vector<Rated>& byUser, std::uint32_t numItems) {
    const int k = m_settings.factors;
    const auto numUsers = static_cast<std::uint32_t>(byUser.size());
    model::CRandom random(m_settings.seed);
    const double scale = 0.1 / std::sqrt(double(k));
    m_items.resize(k, numItems);
    for (Eigen::Index j = 0; j < m_items.size(); ++j) {
        m_items.data()[j] = static_cast<float>(scale * random.Normal());
    }
    Eigen::MatrixXf users = Eigen::MatrixXf::Zero(k, numUsers);
    std::vector<std::vector<std::uint32_t>> byItem(numItems);
    for (std::uint32_t u = 0; u < numUsers; ++u) {
        for (const auto& entry : byUser[u]) {
            byItem[entry.first].push_back(u);
        }
    }
    const auto a0 = static_cast<float>(m_settings.unobserved);
    for (int epoch = 0; epoch < m_settings.epochs; ++epoch) {
        m_gram = a0 * (m_items * m_items.transpose());
        for (std::uint32_t u = 0; u < numUsers; ++u) {
            users.col(u) = SolveUser(byUser[u]);
        }
        const Eigen::MatrixXf userGram = a0 * (users * users.transpose());
        for (std::uint32_t j = 0; j < numItems; ++j) {
            const double penalty =
                m_settings.lambda *
                std::pow(double(byItem[j].size()) + m_settings.unobserved * double(numUsers), m_settings.nu);
            m_items.col(j) = Solve(users, userGram, byItem[j], penalty);
        }
    }
    m_gram = a0 * (m_items * m_items.transpose());
}

void CImplicitAls::Score(const Rated& rated, Eigen::VectorXf& scores) const {
    scores.noalias() = m_items.transpose() * SolveUser(rated);
}

} // namespace quillory::eval
