#pragma once

#include <vector>

#include "ModelCommon.h"

namespace quillory::model {

class CThreadPool;
struct Rows;

// out.col(u) = scale[u] * sum of y.col(j) over the items j that user u rated; users in chunks over the threads.
void ComputeImplicitPart(CThreadPool& pool, const Rows& byUser, const std::vector<double>& scale, const Matrix& y,
                         Matrix& out);

// Draws every rated item's implicit vector y_j (column j of `implicitY`) in turn from its conditional given the
// others, through the residuals of its raters u (columns of `residual`, weighted f_u = scale[u]), which each draw
// updates before the next item reads them. This is the serial part of a sweep, so everything else is kept out of it:
// the normal variates come drawn beforehand (column j of `noise` for item j), and the prior precision comes
// decomposed, q diag(e) q^T. The conditional precision of y_j is c_j * Lambda + implicitPrecision * I with c_j = sum
// of f_uj^2. Returns the sum of the squared norms of the drawn vectors.
double DrawImplicit(const Rows& byItem, const std::vector<double>& scale, const Matrix& q, const Vector& e,
                    double implicitPrecision, const Matrix& noise, Matrix& residual, Matrix& implicitY);

} // namespace quillory::model
