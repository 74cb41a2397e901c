#include "cost/cost_matrix.hpp"

#include <algorithm>
#include <bit>
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
// Both tests are needed: for t = s = +-infinity the distance is NaN, so such
// a t is equal to s without being close to it.
inline bool close(double t, double s, double r_max) { return r_max > std::fabs(t - s) + 1.0; }

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
        : sorted_(sorted), above_(sorted.size() + 1), below_(sorted.size() + 1), equal_(sorted.size() + 1) {
        prepare_bits();
    }

    void find(std::span<const double> used) {
        if (!bits_.empty() && find_whole(used)) return;
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
    // Slots in timetables are mostly small whole numbers. When the home slots
    // and every used slot are whole numbers in [0, 64 * bits_.size()), the
    // used slots are marked in a bit set and each home slot finds its
    // neighbours by scanning for the next set bit on either side.
    static bool whole(double v, std::size_t limit) {
        return v >= 0.0 && v < static_cast<double>(limit) &&
               v == static_cast<double>(static_cast<std::int64_t>(v));
    }

    void prepare_bits() {
        constexpr double kLargestWhole = 1 << 16;
        if (sorted_.empty() || !(sorted_.back() < kLargestWhole)) return;
        for (const double v : sorted_) {
            if (!whole(v, 1 << 16)) return;
        }
        // Room above the largest home slot for used slots beyond it.
        bits_.assign((static_cast<std::size_t>(sorted_.back()) + 1 + 512 + 63) / 64, 0);
    }

    bool find_whole(std::span<const double> used) {
        const std::size_t limit = bits_.size() * 64;
        std::size_t lowest = limit, highest = 0;
        for (const double t : used) {
            if (t != t) continue;
            if (!whole(t, limit)) {
                for (std::uint64_t& word : bits_) word = 0;
                return false;
            }
            const auto v = static_cast<std::size_t>(t);
            bits_[v / 64] |= std::uint64_t{1} << (v % 64);
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
        }
        found_above_ = found_below_ = lowest <= highest;
        for (std::size_t i = 0; i < sorted_.size(); ++i) {
            const auto v = static_cast<std::size_t>(sorted_[i]);
            equal_[i] = lowest <= highest ? static_cast<std::ptrdiff_t>((bits_[v / 64] >> (v % 64)) & 1) : 0;
            above_[i] = kInfinity;
            below_[i] = -kInfinity;
            if (lowest > highest) continue;
            if (v < highest) {  // the first set bit after v
                std::size_t q = (v + 1) / 64;
                std::uint64_t word = (v + 1) % 64 == 0 ? bits_[q] : bits_[q] & (~std::uint64_t{0} << ((v + 1) % 64));
                while (word == 0) word = bits_[++q];
                above_[i] = static_cast<double>(q * 64 + static_cast<std::size_t>(std::countr_zero(word)));
            }
            if (v > lowest) {  // the last set bit before v
                std::size_t q = (v - 1) / 64;
                std::uint64_t word = bits_[q] & (~std::uint64_t{0} >> (63 - (v - 1) % 64));
                while (word == 0) word = bits_[--q];
                below_[i] = static_cast<double>(q * 64 + 63 - static_cast<std::size_t>(std::countl_zero(word)));
            }
        }
        for (const double t : used) {
            if (t != t) continue;
            const auto v = static_cast<std::size_t>(t);
            bits_[v / 64] = 0;
        }
        return true;
    }

    std::span<const double> sorted_;
    std::vector<double> above_, below_;
    std::vector<std::ptrdiff_t> equal_;
    std::vector<std::uint64_t> bits_;  // empty: home slots not all small whole numbers
    bool found_above_ = false, found_below_ = false;
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

    std::int64_t of(double forward, double backward) const {
        return wrapping_add((*this)(forward), (*this)(backward));
    }

private:
    std::span<const std::int64_t> table_;
    std::uint64_t max_gap_;
};

// What a home slot contributes to every cell of its row, computed once.
struct HomeRow {
    double slot;
    std::size_t row;             // its row in the result
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

    // The home slots in ascending order (NaN slots apart: they equal
    // nothing, are close to nothing and have no gaps), with what depends on
    // the slot alone: the home team's blocking and gap penalties and the
    // forbidden-set key.
    std::vector<std::size_t> order;
    order.reserve(n_slots);
    for (std::size_t i = 0; i < n_slots; ++i) {
        if (S[i] == S[i]) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return S[i] < S[j]; });
    std::vector<double> sorted(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) sorted[i] = S[order[i]];

    Neighbours near(sorted);
    near.find(home);
    std::vector<HomeRow> rows;
    rows.reserve(n_slots);
    for (std::size_t i = 0; i < order.size(); ++i) {
        rows.push_back({sorted[i], order[i], saturating_to_i64(sorted[i]),
                        penalty.of(near.forward(i), near.backward(i)), near.blocks(i, r_max)});
    }
    const std::size_t n_numbers = rows.size();
    for (std::size_t i = 0; i < n_slots; ++i) {
        if (S[i] != S[i]) rows.push_back({S[i], i, 0, 0, false});
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
        if (!away.empty()) near.find(away);

        double* column = cells + k;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const HomeRow& row = rows[i];
            const double s = row.slot;
            const bool numbered = i < n_numbers;
            const bool infeasible = row.blocked || (forbidden != nullptr && forbidden->contains(row.key)) ||
                                    m > std::fabs(s - reverse) ||
                                    (numbered && !away.empty() && near.blocks(i, r_max));
            std::int64_t away_penalty = 0;
            if (!infeasible && numbered && !away.empty()) away_penalty = penalty.of(near.forward(i), near.backward(i));
            column[row.row * n_opponents] =
                infeasible ? kInfeasible : static_cast<double>(wrapping_add(row.home_penalty, away_penalty));
        }
    }
    return result;
}

}  // namespace tavelin
