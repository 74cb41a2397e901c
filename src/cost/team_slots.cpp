#include "cost/team_slots.hpp"

#include "surface/failure.hpp"

namespace tavelin {

void collect_team_slots(const StridedMatrix& x, std::uint64_t t, std::vector<double>& out) {
    out.clear();
    // Both index tests come before any read. A failure discards the list
    // anyway, so testing the column bound early changes no outcome; it only
    // keeps an X with rows but no columns from reserving room first.
    if (x.cols > 0 && t >= x.rows) refuse(kIndexOutOfBounds);
    if (x.rows > 0 && t >= x.cols) refuse(kIndexOutOfBounds);
    if (x.rows == 0) return;  // then cols == 0 as well: no slots

    // Both dimensions are positive here, so X really holds rows * cols
    // elements and 2 * rows cannot overflow.
    out.reserve(2 * x.rows);
    const std::size_t team = static_cast<std::size_t>(t);

    // Home games: row t, left to right.
    for (std::size_t j = 0; j < x.cols; ++j) {
        const double v = x.at(team, j);
        if (!(v == kUnscheduled)) out.push_back(v);
    }
    // Away games: column t, top to bottom (the diagonal is visited again).
    for (std::size_t i = 0; i < x.rows; ++i) {
        const double v = x.at(i, team);
        if (!(v == kUnscheduled)) out.push_back(v);
    }
}

std::vector<double> get_team_array(const StridedMatrix& x, std::uint64_t t) {
    std::vector<double> out;
    collect_team_slots(x, t, out);
    return out;
}

}  // namespace tavelin
