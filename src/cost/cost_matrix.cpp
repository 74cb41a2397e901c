// The cost-matrix entry points: the index tests, the choice of builder
// (cost_builders.hpp) and the result's memory.
#include "cost/cost_matrix.hpp"

#include <limits>
#include <new>

#include "cost/cost_builders.hpp"
#include "surface/failure.hpp"

namespace tavelin {
namespace {

CostMatrix allocate(std::size_t rows, std::size_t cols) {
    constexpr std::size_t kMaxCells = std::numeric_limits<std::size_t>::max() / sizeof(double);
    if (cols != 0 && rows > kMaxCells / cols) throw std::bad_alloc();
    const std::size_t cells = rows * cols;
    CostMatrix result;
    // At least one cell, so that the buffer is never null.
    result.cells = std::make_unique_for_overwrite<double[]>(cells == 0 ? 1 : cells);
    if (cells == 0) result.cells[0] = 0.0;
    result.rows = rows;
    result.cols = cols;
    return result;
}

}  // namespace

void check_cost_indices(const StridedMatrix& x, std::uint64_t a, std::span<const std::uint64_t> O) {
    auto check_team = [&](std::uint64_t t) {
        if ((x.cols > 0 && t >= x.rows) || (x.rows > 0 && t >= x.cols)) refuse(kIndexOutOfBounds);
    };
    check_team(a);
    for (const std::uint64_t g : O) {
        check_team(g);
        if (a >= x.cols || g >= x.rows) refuse(kIndexOutOfBounds);
    }
}

std::uint64_t write_cost_matrix(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                                std::span<const std::uint64_t> O, const CostModel& model,
                                const CostTarget& target) {
    check_cost_indices(x, a, O);
    CellWriter out(target);
    if (S.empty() || O.empty()) return 0;
    if (!write_whole_slots(x, a, S, O, model, out)) write_general_slots(x, a, S, O, model, out);
    return out.largest();
}

bool write_scaled_cost_matrix(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                              std::span<const std::uint64_t> O, const CostModel& model, const ScaledTarget& target) {
    check_cost_indices(x, a, O);
    ScaledWriter out(target);
    if (S.empty() || O.empty()) return true;
    if (!write_whole_slots(x, a, S, O, model, out)) write_general_slots(x, a, S, O, model, out);
    return out.fits();
}

CostMatrix create_cost_matrix_inner(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                                    std::span<const std::uint64_t> O, const CostModel& model) {
    CostMatrix result = allocate(S.size(), O.size());
    write_cost_matrix(x, a, S, O, model, CostTarget{result.cells.get(), O.size(), kInfeasible});
    return result;
}

}  // namespace tavelin
