#pragma once

#include "ModelCommon.h"

namespace quillory::model {

class CRandom;
class CThreadPool;
struct Rows;

// Mean and precision of one side's vectors.
struct Hyper {
    Vector mean;
    Matrix precision;
};

// Draws the mean and precision of the columns of `params` whose rows in `rows` have ratings, from their
// Normal-Wishart posterior (prior: mean 0, beta0 = 2, scale matrix I, degrees of freedom = dimension). The sums over
// the columns are taken in fixed chunks over the threads and added in chunk order, so they are the same on any
// number of threads.
Hyper SampleHyper(const Matrix& params, const Rows& rows, CRandom& random, CThreadPool& pool);

} // namespace quillory::model
