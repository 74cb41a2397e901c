// Turning one team's cost matrix into its home-game placement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "assign/assignment.hpp"
#include "assign/placement.hpp"
#include "cost/cost_matrix.hpp"
#include "cost/scratch.hpp"

namespace tavelin {

struct Placement {
    std::vector<double> slots;  // one per opponent (cost-matrix column): a home slot, or NaN
    double total = -0.0;        // the least total cost of the square assignment
};

// The square assignment matrix A of one placement, N = nS + nO: rows are
// the home slots, then one dummy row per opponent; columns the opponents,
// then one dummy column per home slot. It lives in per-thread scratch memory,
// its rows padded to a multiple of 8 cells; the dummy rows, all equal, are
// stored as one.
// The cost matrix is written straight into its top-left block (see
// cost_target), with 1e15 for a pairing that is not allowed; or, for the
// placement route (placement.hpp), as scaled integers into the same memory
// (see price).
class HomeGames {
public:
    // Throws std::bad_alloc.
    HomeGames(std::size_t n_slots, std::size_t n_opponents);

    // Where the nS x nO cost matrix goes.
    CostTarget cost_target() const noexcept { return {a_, stride_, kInfeasibleInAssignment}; }

    // Room for the caller's list of nO opponents, kept with the rest.
    std::span<std::uint64_t> opponent_list() const noexcept { return {opponents_, n_opponents_}; }

    // Completes A (each opponent may instead stay without a slot at the
    // price `p`, each home slot may stay free at 0.0), finds its least-cost
    // assignment and reports, per opponent, the home slot it receives from
    // `home_slots` (NaN when none) and the total. `largest_cost` bounds the
    // magnitude of every cost written that is not 1e15. `options` choose the
    // assignment's route (tests and benchmarks compare them). Leaves the
    // cost block as it is, so a placement can be repeated.
    Placement place(std::span<const double> home_slots, double p, std::uint64_t largest_cost,
                    const AssignmentOptions& options = {});

    // Writes the cost matrix of home team `a` against `opponents` (see
    // write_cost_matrix, whose failures it shares): as scaled integers when
    // the placement route can take them (p and every cost within its bound;
    // the route is `automatic` or `placement`), else as doubles.
    void price(const StridedMatrix& x, std::uint64_t a, std::span<const double> home_slots,
               std::span<const std::uint64_t> opponents, const CostModel& model, double p,
               const AssignmentOptions& options = {});

    // Places what price wrote, as place does.
    Placement place_priced(std::span<const double> home_slots, double p, const AssignmentOptions& options = {});

    // Both.
    Placement price_and_place(const StridedMatrix& x, std::uint64_t a, std::span<const double> home_slots,
                              std::span<const std::uint64_t> opponents, const CostModel& model, double p,
                              const AssignmentOptions& options = {}) {
        price(x, a, home_slots, opponents, model, p, options);
        return place_priced(home_slots, p, options);
    }

    // The same without allocating: returns the total, and slots() holds the
    // slot of each opponent until the next placement.
    double price_and_place_here(const StridedMatrix& x, std::uint64_t a, std::span<const double> home_slots,
                                std::span<const std::uint64_t> opponents, const CostModel& model, double p);
    std::span<const double> slots() const noexcept { return {slots_, n_opponents_}; }

private:
    static constexpr double kInfeasibleInAssignment = 1e15;
    // Fills slots_ from the column of each row, the cells being those of A,
    // and returns the total.
    template <class CostOf>
    double collect(std::span<const double> home_slots, double p, CostOf cost_of);
    double place_priced_here(std::span<const double> home_slots, double p, const AssignmentOptions& options);
    double place_here(std::span<const double> home_slots, double p, std::uint64_t largest_cost,
                      const AssignmentOptions& options);
    Placement placement(double total) const { return {std::vector<double>(slots_, slots_ + n_opponents_), total}; }

    std::size_t n_slots_, n_opponents_, n_;
    std::size_t stride_;     // of the rows of A: n_ padded for whole-vector scans
    PlacementScale scale_;   // of the scaled form
    Scratch scratch_;
    double* a_;
    std::size_t* column_;
    double* slots_;          // per opponent: its home slot, or NaN
    std::uint64_t* opponents_;
    std::byte* work_;        // for the placement route
    bool scaled_ = false;    // whether price wrote the scaled form
    std::uint64_t largest_ = 0;  // of the double form
};

}  // namespace tavelin
