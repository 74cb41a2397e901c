// The two builders behind write_cost_matrix (cost_matrix.cpp), and what they
// share: the closeness rule and the writing of cells.
//
//   * whole_slots.cpp: home slots and used slots that are small whole numbers
//     (every timetable's case): bit sets of used slots, no sorting;
//   * general_slots.cpp: any slot values: the home slots sorted once and
//     each team's nearest used slots found by binary search.
// Both follow the same rules cell for cell and give the same bits.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cost/cost_matrix.hpp"

namespace tavelin {

// A used slot t blocks s when it is the same slot or lies too close to it.
// Both tests are needed: for t = s = +-infinity the distance is NaN, so such
// a t is equal to s without being close to it.
inline bool close(double t, double s, double r_max) { return r_max > std::fabs(t - s) + 1.0; }

// Writes cells into a target and keeps track of the largest magnitude of a
// cost written.
class CellWriter {
public:
    explicit CellWriter(const CostTarget& target) : target_(target) {}

    double* row(std::size_t i) const { return target_.cells + i * target_.row_stride; }

    void infeasible(double* cell) const { *cell = target_.infeasible; }

    void cost(double* cell, std::int64_t sum) {
        const std::uint64_t magnitude =
            sum < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(sum) : static_cast<std::uint64_t>(sum);
        if (magnitude > largest_) largest_ = magnitude;
        // A cost equal to the marker cannot be told from it.
        const double value = static_cast<double>(sum);
        *cell = value == kInfeasible ? target_.infeasible : value;
    }

    std::uint64_t largest() const { return largest_; }

private:
    const CostTarget& target_;
    std::uint64_t largest_ = 0;
};

// Both builders take S and O non-empty, with the index tests already made.

// Returns false, having written nothing, unless every home slot is NaN or a
// whole number in [0, 2^16) and so is every used slot of the home team.
bool write_whole_slots(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                       std::span<const std::uint64_t> O, const CostModel& model, CellWriter& out);

void write_general_slots(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                         std::span<const std::uint64_t> O, const CostModel& model, CellWriter& out);

}  // namespace tavelin
