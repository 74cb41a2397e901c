// The slots in which one team already plays, read from the schedule matrix.
#pragma once

#include <cstdint>
#include <vector>

#include "cost/strided_matrix.hpp"

namespace tavelin {

// The unscheduled marker in X: such entries are not slots.
inline constexpr double kUnscheduled = 9999.0;

// Fills `out` (cleared first) with team t's slot list: row t left to right,
// then column t top to bottom, entries equal to 9999.0 left out, NaN kept;
// the diagonal entry is visited by both passes. Fails with "ndarray: index
// out of bounds" when X has columns and t >= rows, or X has rows and
// t >= cols, tested in that order. Reuses the capacity of `out`.
void collect_team_slots(const StridedMatrix& x, std::uint64_t t, std::vector<double>& out);

// The same list as a new vector with room for 2 * rows entries reserved.
std::vector<double> get_team_array(const StridedMatrix& x, std::uint64_t t);

}  // namespace tavelin
