// Turning a cost matrix into one team's home-game placement.
#pragma once

#include <span>
#include <vector>

#include "cost/cost_matrix.hpp"

namespace tavelin {

struct Placement {
    std::vector<double> slots;  // one per opponent (cost-matrix column): a home slot, or NaN
    double total = -0.0;        // the least total cost of the square assignment
};

// Squares the nS x nO cost matrix `cost` into the assignment matrix (an
// infeasible cell costs 1e15, each opponent may instead stay without a slot at
// the price `p`, each home slot may stay free at 0.0), finds its least-cost
// assignment and reports, per opponent, the home slot it receives from
// `home_slots` (NaN when none) and the total.
Placement place_home_games(const CostMatrix& cost, std::span<const double> home_slots, double p);

}  // namespace tavelin
