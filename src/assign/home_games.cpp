#include "assign/home_games.hpp"

#include <limits>
#include <memory>
#include <new>

#include "assign/assignment.hpp"
#include "surface/failure.hpp"

namespace tavelin {

Placement place_home_games(const CostMatrix& cost, std::span<const double> home_slots, double p) {
    constexpr double kInfeasibleInAssignment = 1e15;
    const std::size_t n_slots = cost.rows;
    const std::size_t n_opponents = cost.cols;
    const std::size_t n = n_slots + n_opponents;
    if (n != 0 && n > std::numeric_limits<std::size_t>::max() / n / 2 / sizeof(double)) {
        throw std::bad_alloc();
    }

    // A (costs, kept for the total) and W = -A (weights to maximise) share
    // one allocation. Rows: home slots, then one dummy row per opponent.
    // Columns: opponents, then one dummy column per home slot.
    auto buffer = std::make_unique_for_overwrite<double[]>(2 * n * n + 1);
    double* a = buffer.get();
    double* w = a + n * n;
    for (std::size_t i = 0; i < n; ++i) {
        double* row = a + i * n;
        for (std::size_t k = 0; k < n_opponents; ++k) {
            if (i < n_slots) {
                double c = cost.cells[i * n_opponents + k];
                row[k] = c == kInfeasible ? kInfeasibleInAssignment : c;
            } else {
                row[k] = p;
            }
        }
        for (std::size_t k = n_opponents; k < n; ++k) row[k] = 0.0;
    }
    for (std::size_t e = 0; e < n * n; ++e) w[e] = -a[e];

    std::vector<std::size_t> column = optimal_assignment(w, n, n);

    Placement placement;
    placement.slots.assign(n_opponents, std::numeric_limits<double>::quiet_NaN());
    double total = -0.0;
    for (std::size_t r = 0; r < n; ++r) {
        std::size_t c = column[r];
        if (c >= n) fail("assignment returned a column outside the matrix");
        total += a[r * n + c];
        // Each opponent column is taken by exactly one row: a home-slot row
        // places the game there, a dummy row leaves it without a slot.
        if (c < n_opponents && r < n_slots) placement.slots[c] = home_slots[r];
    }
    placement.total = total;
    return placement;
}

}  // namespace tavelin
