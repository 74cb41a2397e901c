#include "assign/home_games.hpp"

#include <cmath>
#include <limits>
#include <new>

#include "assign/assignment.hpp"
#include "surface/failure.hpp"

namespace tavelin {
namespace {

std::size_t matrix_bytes(std::size_t n_slots, std::size_t n_opponents) {
    const std::size_t n = n_slots + n_opponents;
    if (n < n_slots || (n != 0 && n > std::numeric_limits<std::size_t>::max() / n / 4 / sizeof(double))) {
        throw std::bad_alloc();
    }
    // The home-slot rows and one dummy row, which stands for all of them.
    return Carver::bytes<double>((n_slots + 1) * padded_stride_for(n)) + Carver::bytes<std::size_t>(n);
}

}  // namespace

HomeGames::HomeGames(std::size_t n_slots, std::size_t n_opponents)
    : n_slots_(n_slots),
      n_opponents_(n_opponents),
      n_(n_slots + n_opponents),
      stride_(padded_stride_for(n_)),
      scratch_(Scratch::kMatrix, matrix_bytes(n_slots, n_opponents)) {
    Carver carve(scratch_.data());
    a_ = carve.take<double>((n_slots_ + 1) * stride_);
    column_ = carve.take<std::size_t>(n_);
}

Placement HomeGames::place(std::span<const double> home_slots, double p, std::uint64_t largest_cost,
                           const AssignmentOptions& options) {
    const std::size_t n_slots = n_slots_, n_opponents = n_opponents_, n = n_, stride = stride_;
    double* const a = a_;

    // Dummy columns and the padding of each row (read by whole-vector scans,
    // never chosen) hold 0.0.
    for (std::size_t i = 0; i < n_slots; ++i) {
        double* row = a + i * stride;
        for (std::size_t k = n_opponents; k < stride; ++k) row[k] = 0.0;
    }
    {
        double* row = a + n_slots * stride;  // the dummy row
        for (std::size_t k = 0; k < n_opponents; ++k) row[k] = p;
        for (std::size_t k = n_opponents; k < stride; ++k) row[k] = 0.0;
    }

    // Every cost is a 64-bit integer converted to double or 1e15 (itself
    // below 2^50), so the cells are small integers when the costs and p are.
    const bool small = largest_cost <= static_cast<std::uint64_t>(kSmallIntegerBound) && is_small_integer(p);
    const WeightClass known = small                ? WeightClass::small_integers
                              : std::isfinite(p) ? WeightClass::finite
                                                 : WeightClass::unknown;
    // The assignment maximises -A, read as negated cells, so the weights
    // W = -A are never formed; the total is summed from A itself. The dummy
    // rows are all equal, so only one is stored, and the dummy columns are
    // all equal too.
    optimal_assignment_into(WeightMatrix{a, n, n, true, n_slots, n_opponents, stride, true}, known, column_,
                            options);

    Placement placement;
    placement.slots.assign(n_opponents, std::numeric_limits<double>::quiet_NaN());
    double total = -0.0;
    for (std::size_t r = 0; r < n; ++r) {
        std::size_t c = column_[r];
        if (c >= n) fail("assignment returned a column outside the matrix");
        total += a[(r < n_slots ? r : n_slots) * stride + c];
        // Each opponent column is taken by exactly one row: a home-slot row
        // places the game there, a dummy row leaves it without a slot.
        if (c < n_opponents && r < n_slots) placement.slots[c] = home_slots[r];
    }
    placement.total = total;
    return placement;
}

}  // namespace tavelin
