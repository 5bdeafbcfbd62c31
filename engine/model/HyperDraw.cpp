// The hyperparameters of one side of the factorisation: the mean and precision of its vectors, drawn from their
// Normal-Wishart posterior given the vectors (Salakhutdinov and Mnih, 2008).

#include "HyperDraw.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <Eigen/Cholesky>

#include "Random.h"
#include "RatingRows.h"
#include "ThreadPool.h"

namespace quillory::model {

Hyper SampleHyper(const Matrix& params, const Rows& rows, CRandom& random, CThreadPool& pool) {
    const Eigen::Index d = params.rows();
    const double beta0 = 2.0;
    const double nu0 = static_cast<double>(d);
    constexpr Eigen::Index kColumnsPerChunk = 1024;
    const Eigen::Index columns = params.cols();
    const auto chunks = static_cast<std::size_t>((columns + kColumnsPerChunk - 1) / kColumnsPerChunk);
    std::vector<Vector> chunkSum(chunks, Vector::Zero(d));
    std::vector<std::size_t> chunkCount(chunks, 0);
    pool.Run(chunks, [&](std::size_t chunk, unsigned) {
        const Eigen::Index first = static_cast<Eigen::Index>(chunk) * kColumnsPerChunk;
        const Eigen::Index last = std::min(columns, first + kColumnsPerChunk);
        for (Eigen::Index c = first; c < last; ++c) {
            if (rows.Count(static_cast<std::size_t>(c)) == 0) {
                continue;
            }
            chunkSum[chunk] += params.col(c);
            ++chunkCount[chunk];
        }
    });
    Vector sum = Vector::Zero(d);
    std::size_t n = 0;
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        sum += chunkSum[chunk];
        n += chunkCount[chunk];
    }
    Hyper hyper;
    if (n == 0) {
        hyper.mean = Vector::Zero(d);
        hyper.precision = Matrix::Identity(d, d) * nu0;
        return hyper;
    }
    const double count = static_cast<double>(n);
    const Vector average = sum / count;
    // The scatter about the average: each chunk's centred columns side by side, so that its part is one blocked
    // product rather than a rank-one update per column.
    std::vector<Matrix> chunkScatter(chunks);
    pool.Run(chunks, [&](std::size_t chunk, unsigned) {
        const Eigen::Index first = static_cast<Eigen::Index>(chunk) * kColumnsPerChunk;
        const Eigen::Index last = std::min(columns, first + kColumnsPerChunk);
        Matrix centred(d, static_cast<Eigen::Index>(chunkCount[chunk]));
        Eigen::Index filled = 0;
        for (Eigen::Index c = first; c < last; ++c) {
            if (rows.Count(static_cast<std::size_t>(c)) != 0) {
                centred.col(filled++) = params.col(c) - average;
            }
        }
        Matrix& part = chunkScatter[chunk];
        part = Matrix::Zero(d, d);
        part.selfadjointView<Eigen::Lower>().rankUpdate(centred);
    });
    Matrix scatter = Matrix::Zero(d, d);
    for (const Matrix& part : chunkScatter) {
        scatter += part;
    }
    scatter.triangularView<Eigen::StrictlyUpper>() = scatter.transpose();
    Matrix scaleInverse =
        Matrix::Identity(d, d) + scatter + (beta0 * count / (beta0 + count)) * average * average.transpose();
    const Matrix scale = scaleInverse.llt().solve(Matrix::Identity(d, d));
    const double nu = nu0 + count;
    const double beta = beta0 + count;
    const Vector postMean = (count * average) / (beta0 + count);

    // Wishart draw by Bartlett's decomposition: precision = L A A^T L^T.
    const Matrix chol = scale.llt().matrixL();
    Matrix a = Matrix::Zero(d, d);
    for (Eigen::Index i = 0; i < d; ++i) {
        a(i, i) = std::sqrt(2.0 * random.Gamma((nu - static_cast<double>(i)) / 2.0));
        for (Eigen::Index j = 0; j < i; ++j) {
            a(i, j) = random.Normal();
        }
    }
    const Matrix la = chol * a;
    hyper.precision = la * la.transpose();

    // mean ~ N(postMean, (beta * precision)^-1)
    Eigen::LLT<Matrix> llt(beta * hyper.precision);
    Vector z(d);
    for (Eigen::Index i = 0; i < d; ++i) {
        z(i) = random.Normal();
    }
    hyper.mean = postMean + llt.matrixU().solve(z);
    return hyper;
}

} // namespace quillory::model
