// The price of every pairing of a candidate home slot with an opponent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "cost/cost_model.hpp"
#include "cost/strided_matrix.hpp"

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

// Where a cost matrix is written: cell (i, k) goes to
// cells[i * row_stride + k]. A pairing that is not allowed is written as
// `infeasible`, and so is a cost equal to 9999999.0, which cannot be told
// from the marker.
struct CostTarget {
    double* cells;
    std::size_t row_stride;
    double infeasible = kInfeasible;
};

// Where a cost matrix is written as scaled 32-bit integers, the form the
// placement route of the assignment works on: cell (i, k) goes to
// cells[i * row_stride + k] as cost * scale, or `infeasible` for a pairing
// that is not allowed (or a cost equal to 9999999, as in the double form).
// A cost whose magnitude exceeds `bound` cannot be written: the write
// reports it and the target is to be discarded.
struct ScaledTarget {
    std::int32_t* cells;
    std::size_t row_stride;
    std::int64_t scale;
    std::int64_t bound;
    std::int32_t infeasible;
};

// The index tests of the cost matrix for home team `a` and opponents `O`:
// fails with "ndarray: index out of bounds" when one of them lies outside X.
// They all fail with the same text, so making them before any other work
// changes no outcome.
void check_cost_indices(const StridedMatrix& x, std::uint64_t a, std::span<const std::uint64_t> O);

// Writes the nS x nO cost matrix of home team `a` for the home slots `S`
// (one row each) and the opponents `O` (one column each), in list order,
// into `target`. Reads X only; runs no Python code. Fails with "ndarray:
// index out of bounds" when `a` or an opponent lies outside X (tested for
// every opponent, also when S is empty), before anything is written. Returns
// the largest magnitude of a cost written (infeasible cells aside), 0 when
// there is none. Throws std::bad_alloc when memory runs out.
std::uint64_t write_cost_matrix(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                                std::span<const std::uint64_t> O, const CostModel& model,
                                const CostTarget& target);

// The same matrix into a scaled target. Returns false when some cost
// exceeds the target's bound. Fails and throws as write_cost_matrix.
bool write_scaled_cost_matrix(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                              std::span<const std::uint64_t> O, const CostModel& model, const ScaledTarget& target);

// The same matrix as a new CostMatrix with the marker 9999999.0.
CostMatrix create_cost_matrix_inner(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                                    std::span<const std::uint64_t> O, const CostModel& model);

}  // namespace tavelin
