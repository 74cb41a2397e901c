// Turning one team's cost matrix into its home-game placement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "assign/assignment.hpp"
#include "cost/scratch.hpp"
#include "cost/cost_matrix.hpp"

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
// cost_target), with 1e15 for a pairing that is not allowed.
class HomeGames {
public:
    // Throws std::bad_alloc.
    HomeGames(std::size_t n_slots, std::size_t n_opponents);

    // Where the nS x nO cost matrix goes.
    CostTarget cost_target() const noexcept { return {a_, stride_, kInfeasibleInAssignment}; }

    // Completes A (each opponent may instead stay without a slot at the
    // price `p`, each home slot may stay free at 0.0), finds its least-cost
    // assignment and reports, per opponent, the home slot it receives from
    // `home_slots` (NaN when none) and the total. `largest_cost` bounds the
    // magnitude of every cost written that is not 1e15. `options` choose the
    // assignment's route (tests and benchmarks compare them). Leaves the
    // cost block as it is, so a placement can be repeated.
    Placement place(std::span<const double> home_slots, double p, std::uint64_t largest_cost,
                    const AssignmentOptions& options = {});

private:
    static constexpr double kInfeasibleInAssignment = 1e15;
    std::size_t n_slots_, n_opponents_, n_;
    std::size_t stride_;  // of the rows of A: n_ padded for whole-vector scans
    Scratch scratch_;
    double* a_;
    std::size_t* column_;
};

}  // namespace tavelin
