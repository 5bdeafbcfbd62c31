#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>

namespace quillory::eval {

// Settings of implicit alternating least squares, in the form of Rendle et al. (2022): every rated item a 1, every
// pair a 0 weighted by `unobserved`, and each side's penalty `lambda` times (its count of ones + unobserved times
// the other side's size) to the power `nu`.
struct ImplicitAlsSettings {
    int factors = 64;
    int epochs = 12;
    double unobserved = 0.1;
    double lambda = 0.05;
    double nu = 1.0;
    std::uint64_t seed = 1;

    std::string Describe() const;
};

// A prototype of the method for the top-N mode: trained on the users' rated items, a user's scores from his rated
// items by the same solve that trains him (fold-in).
class CImplicitAls {
public:
    using Rated = std::vector<std::pair<std::uint32_t, float>>;

    explicit CImplicitAls(ImplicitAlsSettings settings) : m_settings(settings) {}
    void Train(const std::vector<Rated>& byUser, std::uint32_t numItems);
    // Every item's score for a user who rated `rated`.
    void Score(const Rated& rated, Eigen::VectorXf& scores) const;

private:
    Eigen::VectorXf SolveUser(const Rated& rated) const;

    ImplicitAlsSettings m_settings;
    Eigen::MatrixXf m_items; // factors x items
    Eigen::MatrixXf m_gram;  // the items' Gram matrix times `unobserved`
};

} // namespace quillory::eval
