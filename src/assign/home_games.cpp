#include "assign/home_games.hpp"

#include <cmath>
#include <limits>
#include <new>

#include "assign/assignment.hpp"
#include "surface/failure.hpp"

namespace tavelin {
namespace {

// The double matrix (the home-slot rows and one dummy row, which stands
// for all of them) or, in the same memory, the scaled costs.
std::size_t matrix_region(std::size_t n_slots, std::size_t n_opponents, const PlacementScale& scale) {
    const std::size_t n = n_slots + n_opponents;
    if (n < n_slots || (n != 0 && n > std::numeric_limits<std::size_t>::max() / n / 4 / sizeof(double))) {
        throw std::bad_alloc();
    }
    const std::size_t doubles = Carver::bytes<double>((n_slots + 1) * padded_stride_for(n));
    const std::size_t scaled = Carver::bytes<std::int32_t>(n_slots * scale.stride + 16);
    return doubles > scaled ? doubles : scaled;
}

std::size_t block_bytes(std::size_t n_slots, std::size_t n_opponents, const PlacementScale& scale) {
    return matrix_region(n_slots, n_opponents, scale) + Carver::bytes<std::size_t>(n_slots + n_opponents) +
           Carver::bytes<double>(n_opponents) + Carver::bytes<std::uint64_t>(n_opponents) +
           placement_work_bytes(n_slots, n_opponents);
}

bool placement_route(const AssignmentOptions& options) {
    return options.route == Route::automatic || options.route == Route::placement;
}

}  // namespace

HomeGames::HomeGames(std::size_t n_slots, std::size_t n_opponents)
    : n_slots_(n_slots),
      n_opponents_(n_opponents),
      n_(n_slots + n_opponents),
      stride_(padded_stride_for(n_)),
      scale_(placement_scale(n_slots, n_opponents)),
      scratch_(Scratch::kMatrix, block_bytes(n_slots, n_opponents, scale_)) {
    Carver carve(scratch_.data());
    a_ = reinterpret_cast<double*>(carve.take<std::byte>(matrix_region(n_slots_, n_opponents_, scale_)));
    column_ = carve.take<std::size_t>(n_);
    slots_ = carve.take<double>(n_opponents_);
    opponents_ = carve.take<std::uint64_t>(n_opponents_);
    work_ = carve.take<std::byte>(placement_work_bytes(n_slots_, n_opponents_));
}

template <class CostOf>
double HomeGames::collect(std::span<const double> home_slots, double p, CostOf cost_of) {
    for (std::size_t k = 0; k < n_opponents_; ++k) slots_[k] = std::numeric_limits<double>::quiet_NaN();
    double total = -0.0;
    for (std::size_t r = 0; r < n_; ++r) {
        const std::size_t c = column_[r];
        if (c >= n_) fail("assignment returned a column outside the matrix");
        // A's cells: the costs, p in the dummy rows, 0.0 in the dummy columns.
        total += c >= n_opponents_ ? 0.0 : r < n_slots_ ? cost_of(r, c) : p;
        // Each opponent column is taken by exactly one row: a home-slot row
        // places the game there, a dummy row leaves it without a slot.
        if (c < n_opponents_ && r < n_slots_) slots_[c] = home_slots[r];
    }
    return total;
}

Placement HomeGames::place(std::span<const double> home_slots, double p, std::uint64_t largest_cost,
                           const AssignmentOptions& options) {
    return placement(place_here(home_slots, p, largest_cost, options));
}

double HomeGames::place_here(std::span<const double> home_slots, double p, std::uint64_t largest_cost,
                             const AssignmentOptions& options) {
    const std::size_t n_slots = n_slots_, n_opponents = n_opponents_, n = n_, stride = stride_;
    double* const a = a_;

    // Every cost is a 64-bit integer converted to double or 1e15 (itself
    // below 2^50), so the cells are small integers when the costs and p are.
    const bool small = largest_cost <= static_cast<std::uint64_t>(kSmallIntegerBound) && is_small_integer(p);
    const bool on_structure =
        placement_route(options) && small && place_on_structure({a, stride, n_slots, n_opponents, p}, column_, options.isa);
    if (!on_structure) {
        // Dummy columns and the padding of each row (read by whole-vector
        // scans, never chosen) hold 0.0.
        for (std::size_t i = 0; i < n_slots; ++i) {
            double* row = a + i * stride;
            for (std::size_t k = n_opponents; k < stride; ++k) row[k] = 0.0;
        }
        double* dummy = a + n_slots * stride;  // the dummy row
        for (std::size_t k = 0; k < n_opponents; ++k) dummy[k] = p;
        for (std::size_t k = n_opponents; k < stride; ++k) dummy[k] = 0.0;

        const WeightClass known = small                ? WeightClass::small_integers
                                  : std::isfinite(p) ? WeightClass::finite
                                                     : WeightClass::unknown;
        AssignmentOptions full = options;
        if (full.route == Route::placement) full.route = Route::automatic;
        // The assignment maximises -A, read as negated cells, so the weights
        // W = -A are never formed; the total is summed from A itself. The
        // dummy rows are all equal, so only one is stored, and the dummy
        // columns are all equal too.
        optimal_assignment_into(WeightMatrix{a, n, n, true, n_slots, n_opponents, stride, true}, known, column_,
                                full);
    }
    return collect(home_slots, p, [&](std::size_t r, std::size_t c) { return a[r * stride + c]; });
}

void HomeGames::price(const StridedMatrix& x, std::uint64_t a, std::span<const double> home_slots,
                      std::span<const std::uint64_t> opponents, const CostModel& model, double p,
                      const AssignmentOptions& options) {
    scaled_ = false;
    const double bound = static_cast<double>(scale_.bound);
    if (placement_route(options) && scale_.bound >= 1 && std::fabs(p) <= bound &&
        static_cast<double>(static_cast<std::int64_t>(p)) == p) {
        auto* cells = reinterpret_cast<std::int32_t*>(a_);
        for (std::size_t i = 0; i < n_slots_; ++i) {
            for (std::size_t k = n_opponents_; k < scale_.stride; ++k) cells[i * scale_.stride + k] = scale_.not_allowed;
        }
        const ScaledTarget target{cells, scale_.stride, scale_.scale, scale_.bound, scale_.not_allowed};
        scaled_ = write_scaled_cost_matrix(x, a, home_slots, opponents, model, target);
        if (scaled_) return;
    }
    largest_ = write_cost_matrix(x, a, home_slots, opponents, model, cost_target());
}

Placement HomeGames::place_priced(std::span<const double> home_slots, double p, const AssignmentOptions& options) {
    return placement(place_priced_here(home_slots, p, options));
}

double HomeGames::place_priced_here(std::span<const double> home_slots, double p, const AssignmentOptions& options) {
    if (scaled_) {
        const auto* cells = reinterpret_cast<const std::int32_t*>(a_);
        if (place_scaled({cells, scale_, n_slots_, n_opponents_, p}, column_, options.isa, work_)) {
            // Every cost taken is allowed (the route proves it), a whole
            // number times the scale.
            return collect(home_slots, p, [&](std::size_t r, std::size_t c) {
                return static_cast<double>(cells[r * scale_.stride + c] / scale_.scale);
            });
        }
        // Not reached: the scaled form is written only where the route applies.
        fail("placement route declined costs within its bounds");
    }
    return place_here(home_slots, p, largest_, options);
}

double HomeGames::price_and_place_here(const StridedMatrix& x, std::uint64_t a, std::span<const double> home_slots,
                                       std::span<const std::uint64_t> opponents, const CostModel& model, double p) {
    price(x, a, home_slots, opponents, model, p);
    return place_priced_here(home_slots, p, {});
}

}  // namespace tavelin
