#include "DenseKernels.h"

namespace quillory::model {

void SymmetricEigen(const Matrix& a, Matrix& q, Vector& e) {
    const Eigen::Index n = a.rows();
    Matrix m = a;
    q = Matrix::Identity(n, n);
    for (int sweep = 0; sweep < 60; ++sweep) {
        double off = 0.0;
        for (Eigen::Index i = 0; i < n; ++i) {
            for (Eigen::Index j = i + 1; j < n; ++j) {
                off += m(i, j) * m(i, j);
            }
        }
        if (off <= 1e-30 * std::max(1.0, m.diagonal().squaredNorm())) {
            break;
        }
        for (Eigen::Index p = 0; p < n; ++p) {
            for (Eigen::Index r = p + 1; r < n; ++r) {
                if (m(p, r) == 0.0) {
                    continue;
                }
                const double theta = (m(r, r) - m(p, p)) / (2.0 * m(p, r));
                const double t = (theta >= 0.0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double sn = t * c;
                for (Eigen::Index k = 0; k < n; ++k) {
                    const double mkp = m(k, p), mkr = m(k, r);
                    m(k, p) = c * mkp - sn * mkr;
                    m(k, r) = sn * mkp + c * mkr;
                }
                for (Eigen::Index k = 0; k < n; ++k) {
                    const double mpk = m(p, k), mrk = m(r, k);
                    m(p, k) = c * mpk - sn * mrk;
                    m(r, k) = sn * mpk + c * mrk;
                }
                for (Eigen::Index k = 0; k < n; ++k) {
                    const double qkp = q(k, p), qkr = q(k, r);
                    q(k, p) = c * qkp - sn * qkr;
                    q(k, r) = sn * qkp + c * qkr;
                }
            }
        }
    }
    e = m.diagonal();
}

} // namespace quillory::model
