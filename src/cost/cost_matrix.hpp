// The price of every pairing of a candidate home slot with an opponent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "cost/strided_matrix.hpp"
#include "state/instance.hpp"

namespace tavelin {

// The marker of a pairing that is not allowed.
inline constexpr double kInfeasible = 9999999.0;

// A row-major float64 matrix that owns its cells. `cells` is never null, even
// for an empty matrix, so the buffer can be handed to NumPy as it is.
struct CostMatrix {
    std::unique_ptr<double[]> cells;
    std::size_t rows = 0;
    std::size_t cols = 0;
};

// Builds the nS x nO cost matrix of home team `a` for the home slots `S`
// (one row each) and the opponents `O` (one column each), in list order.
// Reads X only; runs no Python code. Fails with "ndarray: index out of
// bounds" when `a` or an opponent lies outside X (tested for every opponent,
// also when S is empty). Throws std::bad_alloc when memory runs out.
CostMatrix create_cost_matrix_inner(const StridedMatrix& x, std::uint64_t a,
                                    std::span<const double> S, std::span<const std::uint64_t> O,
                                    double m, double r_max, const ForbiddenSlots& sets_forbidden,
                                    std::span<const std::int64_t> penalties,
                                    std::uint64_t max_gap);

}  // namespace tavelin
