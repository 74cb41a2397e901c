// The assignment of one placement solved on the matrix's structure.
//
// The square matrix of a placement (home_games.hpp) is mostly repetition:
// one dummy row per opponent, all alike (p, then 0.0), and one dummy column
// per home slot, 0.0 in every row. This route runs Kuhn-Munkres on that
// matrix, decision for decision as reference_assignment does, without
// forming it: the dummy rows and columns are kept as labels and a few
// indices, and only the nS x nO costs are scanned.
//
// It needs exact arithmetic in 32-bit integers: every cost other than the
// 1e15 of a pairing that is not allowed, and p, must be a whole number, and
// their largest magnitude small enough for the keys the route packs (see
// placement_runs.inc). Otherwise it declines and the caller runs the
// general routine on the whole matrix.
#pragma once

#include <cstddef>
#include <cstdint>

#include "assign/assignment.hpp"

namespace tavelin {

// The costs of one placement: n_slots rows of n_opponents cells, rows
// `stride` cells apart, 1e15 for a pairing that is not allowed; `p` the
// price of an opponent without a slot.
struct PlacementCosts {
    const double* cells = nullptr;
    std::size_t stride = 0;
    std::size_t n_slots = 0;
    std::size_t n_opponents = 0;
    double p = 0.0;
};

// The integer form of a placement's costs that the route reads: each cost
// times `scale`, or `not_allowed` for a pairing that is not allowed; rows
// `stride` cells apart, the cells past the last opponent holding
// not_allowed too. The route takes p and costs of magnitude up to `bound`.
struct PlacementScale {
    std::int64_t scale = 0;
    std::int64_t bound = 0;
    std::int32_t not_allowed = 0;
    std::size_t stride = 0;
};

// The scale for nS home slots and nO opponents (bound 0 when none works).
PlacementScale placement_scale(std::size_t n_slots, std::size_t n_opponents);

// Writes, for each row of the square matrix (home slots, then one dummy row
// per opponent), the column that reference_assignment gives it (opponents
// 0 .. nO - 1, then the dummy columns), and returns true. Returns false when
// p or a cost is outside what the route computes exactly (column is then
// not to be used). `isa` as for optimal_assignment_into (Isa::best: the
// widest the processor runs).
bool place_on_structure(const PlacementCosts& costs, std::size_t* column, Isa isa = Isa::best);

// A placement's costs already in integer form (n_slots rows of `cells` as
// `scale` describes), as the cost matrix writes them for placing.
struct ScaledPlacement {
    const std::int32_t* cells = nullptr;
    PlacementScale scale;
    std::size_t n_slots = 0;
    std::size_t n_opponents = 0;
    double p = 0.0;
};

// place_on_structure from costs in integer form. `work`, when given, is
// placement_work_bytes of memory aligned for any element type; otherwise the
// route takes per-thread scratch memory.
bool place_scaled(const ScaledPlacement& costs, std::size_t* column, Isa isa = Isa::best,
                  std::byte* work = nullptr);

std::size_t placement_work_bytes(std::size_t n_slots, std::size_t n_opponents);

}  // namespace tavelin
