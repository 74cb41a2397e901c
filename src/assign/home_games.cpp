#include "assign/home_games.hpp"

#include <cmath>
#include <limits>
#include <new>

#include "assign/assignment.hpp"
#include "assign/scratch.hpp"
#include "surface/failure.hpp"

namespace tavelin {

Placement place_home_games(const CostMatrix& cost, std::span<const double> home_slots, double p) {
    constexpr double kInfeasibleInAssignment = 1e15;
    // Adding and subtracting 1.5 * 2^52 gives back exactly the integers of
    // magnitude up to 2^51, and no other value.
    constexpr double kRound = 6755399441055744.0;
    const std::size_t n_slots = cost.rows;
    const std::size_t n_opponents = cost.cols;
    const std::size_t n = n_slots + n_opponents;
    if (n != 0 && n > std::numeric_limits<std::size_t>::max() / n / 2 / sizeof(double)) {
        throw std::bad_alloc();
    }

    // A: rows are the home slots, then one dummy row per opponent; columns
    // the opponents, then one dummy column per home slot. The assignment
    // maximises -A, read as negated cells, so the weights W = -A are never
    // formed; the total is summed from A itself. The column of each row is
    // kept in the same block.
    Scratch scratch(Scratch::kMatrix, Carver::bytes<double>(n * n) + Carver::bytes<std::size_t>(n));
    Carver carve(scratch.data());
    double* a = carve.take<double>(n * n);
    std::size_t* column = carve.take<std::size_t>(n);

    // Every cost is a 64-bit integer converted to double, 1e15, p or 0.0:
    // integers, but not necessarily small ones.
    bool small = p >= -kSmallIntegerBound && p <= kSmallIntegerBound && (p + kRound) - kRound == p;
    for (std::size_t i = 0; i < n_slots; ++i) {
        double* row = a + i * n;
        const double* k_row = cost.cells.get() + i * n_opponents;
        for (std::size_t k = 0; k < n_opponents; ++k) {
            const double c = k_row[k] == kInfeasible ? kInfeasibleInAssignment : k_row[k];
            small &= (c >= -kSmallIntegerBound) & (c <= kSmallIntegerBound) & ((c + kRound) - kRound == c);
            row[k] = c;
        }
        for (std::size_t k = n_opponents; k < n; ++k) row[k] = 0.0;
    }
    for (std::size_t i = n_slots; i < n; ++i) {
        double* row = a + i * n;
        for (std::size_t k = 0; k < n_opponents; ++k) row[k] = p;
        for (std::size_t k = n_opponents; k < n; ++k) row[k] = 0.0;
    }

    const WeightClass known = small                ? WeightClass::small_integers
                              : std::isfinite(p) ? WeightClass::finite
                                                 : WeightClass::unknown;
    // The dummy rows are all equal, and so are the dummy columns.
    optimal_assignment_into(WeightMatrix{a, n, n, true, n_slots, n_opponents}, known, column);

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
