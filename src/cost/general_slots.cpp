// The general cost-matrix builder: any slot values, NaN, infinities and
// fractions included.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "cost/cost_builders.hpp"
#include "cost/numeric.hpp"
#include "cost/team_slots.hpp"

namespace tavelin {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// What a list of used slots L means for each home slot s.
//
// Only the nearest used slot above s and the nearest below s matter: t - s
// and s - t grow with t and fall with it (rounding is monotonic), so the
// least forward gap is (least t above s) - s, the least backward gap is
// s - (greatest t below s), and if any t is close to s, so is the nearest
// one on its side. (For finite slots, t - s > 0 exactly when t > s, since
// the difference of two distinct doubles never rounds to zero; a gap that
// comes out +infinity costs nothing either way.) Finding those neighbours
// in the sorted home slots costs a binary search per used slot instead of a
// pass over L per cell. NaN entries of L compare false with everything and
// are left out, as every test would ignore them.
class Neighbours {
public:
    // `sorted` holds the home slots without NaN, ascending.
    explicit Neighbours(std::span<const double> sorted)
        : sorted_(sorted), above_(sorted.size() + 1), below_(sorted.size() + 1), equal_(sorted.size() + 1) {}

    void find(std::span<const double> used) {
        const std::size_t n = sorted_.size();
        std::fill(above_.begin(), above_.end(), kInfinity);
        std::fill(below_.begin(), below_.end(), -kInfinity);
        std::fill(equal_.begin(), equal_.end(), 0);
        found_above_ = found_below_ = false;
        for (const double t : used) {
            if (t != t) continue;
            // Slots [0, lo) lie below t, [lo, hi) equal it, [hi, n) lie above.
            const std::size_t lo =
                static_cast<std::size_t>(std::lower_bound(sorted_.begin(), sorted_.end(), t) - sorted_.begin());
            std::size_t hi = lo;
            while (hi < n && sorted_[hi] == t) ++hi;
            if (lo > 0 && t < above_[lo - 1]) above_[lo - 1] = t, found_above_ = true;
            if (hi < n && t > below_[hi]) below_[hi] = t, found_below_ = true;
            if (lo < hi) ++equal_[lo], --equal_[hi];
        }
        // above_[i]: least t above slot i; below_[i]: greatest t below it.
        for (std::size_t i = n; i-- > 1;) {
            if (above_[i] < above_[i - 1]) above_[i - 1] = above_[i];
        }
        for (std::size_t i = 1; i < n; ++i) {
            if (below_[i - 1] > below_[i]) below_[i] = below_[i - 1];
            equal_[i] += equal_[i - 1];
        }
    }

    // Whether some used slot equals sorted slot i or is close to it.
    bool blocks(std::size_t i, double r_max) const {
        const double s = sorted_[i];
        return equal_[i] != 0 || (found_above_ && above_[i] != kInfinity && close(above_[i], s, r_max)) ||
               (found_below_ && below_[i] != -kInfinity && close(below_[i], s, r_max));
    }

    // The two gaps of sorted slot i; +infinity for none.
    double forward(std::size_t i) const { return above_[i] == kInfinity ? kInfinity : above_[i] - sorted_[i]; }
    double backward(std::size_t i) const {
        return below_[i] == -kInfinity ? kInfinity : sorted_[i] - below_[i];
    }

private:
    std::span<const double> sorted_;
    std::vector<double> above_, below_;
    std::vector<std::ptrdiff_t> equal_;
    bool found_above_ = false, found_below_ = false;
};

// What a home slot contributes to every cell of its row, computed once.
struct HomeRow {
    double slot;
    std::size_t row;             // its row in the result
    std::int64_t key;            // the slot truncated toward zero, for the forbidden sets
    std::int64_t home_penalty;   // penalties of the two gaps of the home team
    bool blocked;                // the home team already uses this slot or one close to it
};

}  // namespace

// The general builder: any slot values. Home slots are sorted once and each
// opponent's neighbours found by binary search (see Neighbours).
template <class Writer>
void write_general_slots(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                         std::span<const std::uint64_t> O, const CostModel& model, Writer& out) {
    const GapPenalties& penalty = model.penalties;
    const double m = model.m, r_max = model.r_max;
    const std::size_t n_slots = S.size();
    const std::vector<double> home = get_team_array(x, a);

    // The home slots in ascending order (NaN slots apart: they equal
    // nothing, are close to nothing and have no gaps), with what depends on
    // the slot alone: the home team's blocking and gap penalties and the
    // forbidden-set key.
    std::vector<std::size_t> order;
    order.reserve(n_slots);
    for (std::size_t i = 0; i < n_slots; ++i) {
        if (S[i] == S[i]) order.push_back(i);
    }
    // Equal slots keep their list order (the index decides between them).
    std::sort(order.begin(), order.end(),
              [&](std::size_t i, std::size_t j) { return S[i] < S[j] || (!(S[j] < S[i]) && i < j); });
    std::vector<double> sorted(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) sorted[i] = S[order[i]];

    Neighbours near(sorted);
    near.find(home);
    std::vector<HomeRow> rows;
    rows.reserve(n_slots);
    for (std::size_t i = 0; i < order.size(); ++i) {
        rows.push_back({sorted[i], order[i], saturating_to_i64(sorted[i]),
                        penalty.of_gaps(near.forward(i), near.backward(i)), near.blocks(i, r_max)});
    }
    const std::size_t n_numbers = rows.size();
    for (std::size_t i = 0; i < n_slots; ++i) {
        if (S[i] != S[i]) rows.push_back({S[i], i, 0, 0, false});
    }

    std::vector<double> away;
    away.reserve(home.capacity());
    for (std::size_t k = 0; k < O.size(); ++k) {
        const std::uint64_t g = O[k];
        collect_team_slots(x, g, away);
        const ForbiddenSlots::Team forbidden = model.forbidden.team(g);
        // The slot in which g hosts a; 9999.0 (no slot yet) is used as it is.
        const double reverse = x.at(static_cast<std::size_t>(g), static_cast<std::size_t>(a));
        if (!away.empty()) near.find(away);

        for (std::size_t i = 0; i < rows.size(); ++i) {
            const HomeRow& row = rows[i];
            const double s = row.slot;
            const bool numbered = i < n_numbers;
            auto* cell = out.row(row.row) + k;
            const bool infeasible = row.blocked || forbidden.contains(row.key) || m > std::fabs(s - reverse) ||
                                    (numbered && !away.empty() && near.blocks(i, r_max));
            if (infeasible) {
                out.infeasible(cell);
                continue;
            }
            std::int64_t away_penalty = 0;
            if (numbered && !away.empty()) away_penalty = penalty.of_gaps(near.forward(i), near.backward(i));
            out.cost(cell, wrapping_add(row.home_penalty, away_penalty));
        }
    }
}

template void write_general_slots(const StridedMatrix&, std::uint64_t, std::span<const double>,
                                  std::span<const std::uint64_t>, const CostModel&, CellWriter&);
template void write_general_slots(const StridedMatrix&, std::uint64_t, std::span<const double>,
                                  std::span<const std::uint64_t>, const CostModel&, ScaledWriter&);

}  // namespace tavelin
