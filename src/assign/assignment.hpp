// Maximum-weight assignment of rows to columns (Kuhn-Munkres, O(n^3)).
#pragma once

#include <cstddef>
#include <vector>

namespace tavelin {

// Gives every row of the nr x nc row-major weight matrix `w` a column of its
// own so that the sum of the chosen weights is largest, and returns the column
// of each row. Ties are decided by the fixed scan orders and strict
// comparisons of the routine, so equal inputs always give equal matchings.
// Fails with "number of rows must not be larger than number of columns" when
// nr > nc. Weights must be finite.
std::vector<std::size_t> optimal_assignment(const double* w, std::size_t nr, std::size_t nc);

}  // namespace tavelin
