#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <Eigen/Core>

#include "HyperDraw.h"
#include "ModelCommon.h"

namespace quillory::model {

class CThreadPool;
struct Rows;

// Rows per chunk of a side's step. Fixed, so that the chunks (and the order their partial sums are added in) are
// the same on any number of threads.
constexpr std::size_t kRowsPerChunk = 64;

// One thread's scratch space for the row draws.
struct RowWorkspace {
    Eigen::MatrixXf design; // the padded dimension x the longest row
    Eigen::MatrixXf gramBlock;
    std::vector<double> targets;    // the longest row
    std::vector<float> gramPackets; // the padded dimension squared
};

// Workspaces for `threads` threads drawing vectors of dimension d from rows of at most `longest` ratings.
std::vector<RowWorkspace> MakeRowWorkspaces(unsigned threads, Eigen::Index d, std::size_t longest);

// Where a step keeps its rows' conditional means: row r's bias at bias[r], its factors (dimension - 1 of them) from
// factors[r * (dimension - 1)], in single precision.
struct RowMeans {
    double* bias;
    float* factors;
};

// Everything one side's Gibbs step reads and writes.
struct SideStep {
    const Rows& rows;
    const Matrix& other;
    Matrix& self;
    const Hyper& hyper;
    const Matrix* rowPriorMeans; // per-row prior means, or null for hyper.mean
    const RowMeans* means;       // where the rows' conditional means are kept, or null: nowhere
    double alpha;
    double mean;
    std::uint64_t seed; // of this step's row draws
    bool draw = true;   // false: every row takes its conditional mean (a ridge least-squares step)
};

// One side's step: every row's vector (column of step.self) drawn from its Gaussian conditional given the other
// side, in chunks of kRowsPerChunk rows over the pool's threads, each with its workspace. Returns the squared error
// of the drawn vectors (what the noise precision is drawn from when the step ends a sweep), summed chunk by chunk
// in order. `alongside`, where given, runs as one more task of the same loop (the first handed out), on whichever
// thread takes it; it must neither read nor write what the rows do.
double DrawRows(CThreadPool& pool, const SideStep& step, std::vector<RowWorkspace>& workspaces,
                const std::function<void()>& alongside = {});

} // namespace quillory::model
