#include "cost/cost_matrix.hpp"

#include <cmath>
#include <limits>
#include <new>
#include <unordered_set>
#include <vector>

#include "cost/numeric.hpp"
#include "cost/team_slots.hpp"
#include "surface/failure.hpp"

namespace tavelin {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A used slot t blocks s when it is the same slot or lies too close to it.
// Both tests are needed: for t = s = ±infinity the distance is NaN, so such
// a t is equal to s without being close to it.
inline bool blocks(double t, double s, double r_max) {
    return t == s || r_max > std::fabs(t - s) + 1.0;
}

// The nearest used slot after and before s (the distances t - s and s - t,
// strictly positive); +infinity when there is none. NaN entries never count.
struct Gaps {
    double forward = kInfinity;
    double backward = kInfinity;

    inline void add(double t, double s) {
        const double ahead = t - s;
        if (ahead > 0.0 && ahead < forward) forward = ahead;
        const double behind = s - t;
        if (behind > 0.0 && behind < backward) backward = behind;
    }
};

class PenaltyTable {
public:
    PenaltyTable(std::span<const std::int64_t> table, std::uint64_t max_gap)
        : table_(table), max_gap_(max_gap) {
        // The table holds max_gap + 1 entries; a shorter one would make the
        // reads below leave it.
        if (table_.empty() || table_.size() - 1 < max_gap_) {
            fail("penalty table holds fewer than max_gap + 1 entries");
        }
    }

    // Penalty of a gap: no gap (+infinity) and gaps beyond max_gap cost 0;
    // otherwise the gap truncated toward zero is the table index.
    std::int64_t operator()(double gap) const {
        if (gap == kInfinity) return 0;
        const std::uint64_t index = saturating_to_u64(gap);
        return index > max_gap_ ? 0 : table_[static_cast<std::size_t>(index)];
    }

    std::int64_t of(const Gaps& gaps) const {
        return wrapping_add((*this)(gaps.forward), (*this)(gaps.backward));
    }

private:
    std::span<const std::int64_t> table_;
    std::uint64_t max_gap_;
};

// What a home slot contributes to every cell of its row, computed once.
struct HomeRow {
    double slot;
    std::int64_t key;            // the slot truncated toward zero, for the forbidden sets
    std::int64_t home_penalty;   // penalties of the two gaps of the home team
    bool blocked;                // the home team already uses this slot or one close to it
};

CostMatrix allocate(std::size_t rows, std::size_t cols) {
    constexpr std::size_t kMaxCells = std::numeric_limits<std::size_t>::max() / sizeof(double);
    if (cols != 0 && rows > kMaxCells / cols) throw std::bad_alloc();
    const std::size_t cells = rows * cols;
    CostMatrix result;
    // At least one cell, so that the buffer is never null.
    result.cells = std::make_unique_for_overwrite<double[]>(cells == 0 ? 1 : cells);
    if (cells == 0) result.cells[0] = 0.0;
    result.rows = rows;
    result.cols = cols;
    return result;
}

}  // namespace

CostMatrix create_cost_matrix_inner(const StridedMatrix& x, std::uint64_t a,
                                    std::span<const double> S, std::span<const std::uint64_t> O,
                                    double m, double r_max, const ForbiddenSlots& sets_forbidden,
                                    std::span<const std::int64_t> penalties,
                                    std::uint64_t max_gap) {
    const PenaltyTable penalty(penalties, max_gap);
    const std::size_t n_slots = S.size();
    const std::size_t n_opponents = O.size();
    CostMatrix result = allocate(n_slots, n_opponents);
    double* const cells = result.cells.get();

    const std::vector<double> home = get_team_array(x, a);

    // Everything that depends on the home slot alone, once per row: whether
    // the home team blocks it, its forbidden-set key and the home team's two
    // gap penalties.
    std::vector<HomeRow> rows;
    rows.reserve(n_slots);
    for (const double s : S) {
        bool blocked = false;
        Gaps gaps;
        for (const double t : home) {
            blocked = blocked || blocks(t, s, r_max);
            gaps.add(t, s);
        }
        rows.push_back({s, saturating_to_i64(s), penalty.of(gaps), blocked});
    }

    // The opponent's slot list; after `home` was built X is either empty or
    // has rows and columns, and this capacity covers every square X.
    std::vector<double> away;
    away.reserve(home.capacity());

    for (std::size_t k = 0; k < n_opponents; ++k) {
        const std::uint64_t g = O[k];
        collect_team_slots(x, g, away);

        const std::unordered_set<std::int64_t>* forbidden = nullptr;
        if (!sets_forbidden.empty()) {
            const auto entry = sets_forbidden.find(g);
            if (entry != sets_forbidden.end() && !entry->second.empty()) forbidden = &entry->second;
        }

        if (a >= x.cols || g >= x.rows) fail(kIndexOutOfBounds);
        if (n_slots == 0) continue;

        // The slot in which g hosts a; 9999.0 (no slot yet) is used as it is.
        const double reverse = x.at(static_cast<std::size_t>(g), static_cast<std::size_t>(a));

        double* cell = cells + k;
        for (const HomeRow& row : rows) {
            const double s = row.slot;
            bool infeasible = row.blocked ||
                              (forbidden != nullptr && forbidden->contains(row.key)) ||
                              m > std::fabs(s - reverse);
            Gaps gaps;
            for (auto t = away.begin(); !infeasible && t != away.end(); ++t) {
                infeasible = blocks(*t, s, r_max);
                gaps.add(*t, s);
            }
            *cell = infeasible ? kInfeasible
                               : static_cast<double>(wrapping_add(row.home_penalty, penalty.of(gaps)));
            cell += n_opponents;
        }
    }
    return result;
}

}  // namespace tavelin
