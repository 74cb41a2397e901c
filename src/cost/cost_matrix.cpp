#include "cost/cost_matrix.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <vector>

#include "assign/scratch.hpp"
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

    std::uint64_t max_gap() const { return max_gap_; }

    // The same for a whole-numbered gap: its value is its index.
    std::int64_t at(std::size_t gap) const {
        return gap > max_gap_ ? 0 : table_[gap];
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

// Writes cells and keeps track of the largest magnitude of a cost.
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
        *cell = sum == kInfeasibleCost ? target_.infeasible : static_cast<double>(sum);
    }

    std::uint64_t largest() const { return largest_; }

private:
    static constexpr std::int64_t kInfeasibleCost = 9999999;
    const CostTarget& target_;
    std::uint64_t largest_ = 0;
};

}  // namespace

void check_cost_indices(const StridedMatrix& x, std::uint64_t a, std::span<const std::uint64_t> O) {
    auto check_team = [&](std::uint64_t t) {
        if ((x.cols > 0 && t >= x.rows) || (x.rows > 0 && t >= x.cols)) fail(kIndexOutOfBounds);
    };
    check_team(a);
    for (const std::uint64_t g : O) {
        check_team(g);
        if (a >= x.cols || g >= x.rows) fail(kIndexOutOfBounds);
    }
}

namespace {

// The general builder: any slot values. Home slots are sorted once and each
// opponent's neighbours found by binary search (see Neighbours).
std::uint64_t write_general(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                            std::span<const std::uint64_t> O, double m, double r_max,
                            const ForbiddenSlots& sets_forbidden, const ForbiddenIndex& index,
                            const PenaltyTable& penalty, CellWriter& out) {
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
                        penalty.of(near.forward(i), near.backward(i)), near.blocks(i, r_max)});
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
        const ForbiddenIndex::Team forbidden = index.team(g, sets_forbidden);
        // The slot in which g hosts a; 9999.0 (no slot yet) is used as it is.
        const double reverse = x.at(static_cast<std::size_t>(g), static_cast<std::size_t>(a));
        if (!away.empty()) near.find(away);

        for (std::size_t i = 0; i < rows.size(); ++i) {
            const HomeRow& row = rows[i];
            const double s = row.slot;
            const bool numbered = i < n_numbers;
            double* cell = out.row(row.row) + k;
            const bool infeasible = row.blocked || forbidden.contains(row.key) || m > std::fabs(s - reverse) ||
                                    (numbered && !away.empty() && near.blocks(i, r_max));
            if (infeasible) {
                out.infeasible(cell);
                continue;
            }
            std::int64_t away_penalty = 0;
            if (numbered && !away.empty()) away_penalty = penalty.of(near.forward(i), near.backward(i));
            out.cost(cell, wrapping_add(row.home_penalty, away_penalty));
        }
    }
    return out.largest();
}

// ------------------------------------------------------- whole-numbered slots
//
// Slots in timetables are small whole numbers. When every home slot is NaN
// or a whole number in [0, kSlotLimit), and so is every used slot of the home
// team, each team's used slots are marked in a bit set and every cell finds
// its neighbours by scanning for the next set bit on either side: no sorting,
// no lists, no floating-point gaps. An opponent with some other used slot
// gets its column from the plain rules instead.

constexpr std::size_t kSlotLimit = std::size_t{1} << 16;
constexpr std::size_t kSlotWords = kSlotLimit / 64;

inline bool whole_slot(double v) {
    return v >= 0.0 && v < static_cast<double>(kSlotLimit) &&
           v == static_cast<double>(static_cast<std::int64_t>(v));
}

// A bit per slot in [0, kSlotLimit), slot t at bit t + 64, with clear words
// around them so that a window of 64 slots on either side of any slot can be
// read: every bit is clear outside a use, and a use clears what it set. The
// builder runs no Python code and calls no other builder, so one set per
// thread serves every call.
constexpr std::size_t kSlotBias = 64;
thread_local std::uint64_t t_slot_words[kSlotWords + 3];



// The used slots of one team as a bit set, slot t at bit t + kSlotBias, with
// clear words around them (at least one below and two above the highest
// slot), so that a window of 64 slots on either side of any slot can be read.
struct SlotSet {
    const std::uint64_t* bits = nullptr;
    std::size_t lo = kSlotLimit, hi = 0;  // least and greatest slot; lo > hi: none

    bool any() const { return lo <= hi; }
    bool has(std::size_t v) const { return bit(v + kSlotBias); }

    // Slots v + 1 ... v + 64: bit k stands for slot v + 1 + k.
    std::uint64_t after(std::size_t v) const { return window(v + 1 + kSlotBias); }
    // Slots v - 64 ... v - 1: bit k stands for slot v - 64 + k.
    std::uint64_t before(std::size_t v) const { return window(v - 64 + kSlotBias); }

    // The least used slot above v, if any.
    bool above(std::size_t v, std::size_t& t) const {
        if (!any() || v >= hi) return false;
        const std::size_t from = v + 1 + kSlotBias;
        std::size_t q = from / 64;
        std::uint64_t word = bits[q] & (~std::uint64_t{0} << (from % 64));
        while (word == 0) word = bits[++q];  // ends at hi
        t = q * 64 + static_cast<std::size_t>(std::countr_zero(word)) - kSlotBias;
        return true;
    }

    // The greatest used slot below v, if any.
    bool below(std::size_t v, std::size_t& t) const {
        if (!any() || v <= lo) return false;
        const std::size_t from = v - 1 + kSlotBias;
        std::size_t q = from / 64;
        std::uint64_t word = bits[q] & (~std::uint64_t{0} >> (63 - from % 64));
        while (word == 0) word = bits[--q];  // ends at lo
        t = q * 64 + 63 - static_cast<std::size_t>(std::countl_zero(word)) - kSlotBias;
        return true;
    }

private:
    bool bit(std::size_t i) const { return ((bits[i / 64] >> (i % 64)) & 1) != 0; }

    // Bits i ... i + 63 as one word.
    std::uint64_t window(std::size_t i) const {
        const std::size_t q = i / 64, r = i % 64;
        // (x << 1) << (63 - r) is x << (64 - r), and 0 for r == 0.
        return (bits[q] >> r) | ((bits[q + 1] << 1) << (63 - r));
    }
};

// The used slots of one team as marks in the thread's bit set.
class UsedSlots {
public:
    UsedSlots() : bits_(t_slot_words) { set_.bits = bits_; }
    UsedSlots(const UsedSlots&) = delete;
    UsedSlots& operator=(const UsedSlots&) = delete;
    ~UsedSlots() { clear(); }

    // Marks the used slots of team t (row t, then column t of X; 9999.0 is
    // no slot, NaN takes part in no test). Returns false as soon as a used
    // slot is neither NaN nor whole in [0, kSlotLimit). Indices are valid.
    bool mark(const StridedMatrix& x, std::size_t t) {
        clear();
        return add_all(x.address(t, 0), x.col_stride, x.cols) && add_all(x.address(0, t), x.row_stride, x.rows);
    }

    void clear() {
        if (set_.any()) {
            std::fill(bits_ + (set_.lo + kSlotBias) / 64, bits_ + (set_.hi + kSlotBias) / 64 + 1, std::uint64_t{0});
        }
        set_.lo = kSlotLimit;
        set_.hi = 0;
    }

    const SlotSet& set() const { return set_; }

private:
    // Adds `count` elements from `first` on, `stride` bytes apart. The
    // addresses are stepped in wrap-around integer arithmetic, like
    // StridedMatrix::address, and only those of elements are read.
    bool add_all(const char* first, std::ptrdiff_t stride, std::size_t count) {
        auto address = reinterpret_cast<std::uintptr_t>(first);
        const auto step = static_cast<std::uintptr_t>(stride);
        for (std::size_t i = 0; i < count; ++i, address += step) {
            double v;
            std::memcpy(&v, reinterpret_cast<const char*>(address), sizeof v);
            if (!add(v)) return false;
        }
        return true;
    }

    bool add(double v) {
        if (v == kUnscheduled || v != v) return true;
        if (!whole_slot(v)) return false;
        const auto t = static_cast<std::size_t>(v);
        const std::size_t i = t + kSlotBias;
        bits_[i / 64] |= std::uint64_t{1} << (i % 64);
        if (t < set_.lo) set_.lo = t;
        if (t > set_.hi) set_.hi = t;
        return true;
    }

    std::uint64_t* bits_;
    SlotSet set_;
};

// The used slots of every team of a square X, read in one pass over X:
// element [i][j] is a slot of team i (its row) and of team j (its column).
// Each team gets a bit set over the slots [0, limit), limit being the largest
// home slot rounded up plus some room; a team with a used slot outside
// that range or not whole is left to the per-team path (fits(t) false).
class TeamSlotTable {
public:
    // Room above the largest home slot for used slots beyond it.
    static constexpr std::size_t kRoom = 256;
    // Past this many words in all, the per-team path is used instead.
    static constexpr std::size_t kMaxWords = std::size_t{1} << 16;

    // Below this many teams reading each team's row and column costs less
    // than setting the table up.
    static constexpr std::size_t kMinTeams = 12;

    // The words per team, 0 when the table is not worth it or too large.
    static std::size_t words_for(std::size_t teams, double largest_home_slot) {
        const std::size_t limit = (static_cast<std::size_t>(largest_home_slot) / 64 + 1) * 64 + kRoom;
        const std::size_t words = limit / 64 + 3;  // a clear word below, two above
        return teams >= kMinTeams && words <= kMaxWords / teams ? words : 0;
    }

    static std::size_t bytes(std::size_t teams, std::size_t words) {
        return Carver::bytes<std::uint64_t>(teams * words) + 2 * Carver::bytes<std::size_t>(teams) +
               Carver::bytes<std::uint8_t>(teams);
    }

    // `x` is square with `teams` rows; `words` from words_for.
    TeamSlotTable(const StridedMatrix& x, std::size_t teams, std::size_t words, std::byte* block)
        : words_(words), limit_((words - 3) * 64) {
        Carver carve(block);
        bits_ = carve.take<std::uint64_t>(teams * words);
        lo_ = carve.take<std::size_t>(teams);
        hi_ = carve.take<std::size_t>(teams);
        fits_ = carve.take<std::uint8_t>(teams);
        std::fill(bits_, bits_ + teams * words, std::uint64_t{0});
        std::fill(lo_, lo_ + teams, kSlotLimit);
        std::fill(hi_, hi_ + teams, std::size_t{0});
        std::fill(fits_, fits_ + teams, std::uint8_t{1});
        for (std::size_t i = 0; i < teams; ++i) {
            auto address = reinterpret_cast<std::uintptr_t>(x.address(i, 0));
            const auto step = static_cast<std::uintptr_t>(x.col_stride);
            for (std::size_t j = 0; j < teams; ++j, address += step) {
                double v;
                std::memcpy(&v, reinterpret_cast<const char*>(address), sizeof v);
                if (v == kUnscheduled || v != v) continue;
                if (!(v >= 0.0 && v < static_cast<double>(limit_)) ||
                    v != static_cast<double>(static_cast<std::int64_t>(v))) {
                    fits_[i] = fits_[j] = 0;
                    continue;
                }
                const auto t = static_cast<std::size_t>(v);
                mark(i, t);
                mark(j, t);
            }
        }
    }

    bool fits(std::size_t t) const { return fits_[t] != 0; }
    SlotSet set(std::size_t t) const {
        SlotSet s;
        s.bits = bits_ + t * words_;
        s.lo = lo_[t];
        s.hi = hi_[t];
        return s;
    }

private:
    void mark(std::size_t team, std::size_t t) {
        const std::size_t i = t + kSlotBias;
        bits_[team * words_ + i / 64] |= std::uint64_t{1} << (i % 64);
        if (t < lo_[team]) lo_[team] = t;
        if (t > hi_[team]) hi_[team] = t;
    }

    std::size_t words_, limit_;
    std::uint64_t* bits_;
    std::size_t* lo_;
    std::size_t* hi_;
    std::uint8_t* fits_;
};

// What the used slots of one team mean for whole slot v: whether one of
// them equals v or is close to it, and the penalties of its two gaps.
struct SlotVerdict {
    bool blocked;
    std::int64_t penalty;
};

// Whole gaps below 2^16: gap + 1.0 is exact, and so is the closeness test.
inline bool close_gap(std::size_t gap, double r_max) { return r_max > static_cast<double>(gap) + 1.0; }

// Any closeness bound and penalty table: the nearest used slots are found by
// scanning the set.
inline SlotVerdict judge(const SlotSet& used, std::size_t v, double r_max, const PenaltyTable& penalty) {
    if (!used.any()) return {false, 0};
    if (used.has(v)) return {true, 0};
    std::int64_t sum = 0;
    std::size_t t;
    if (used.above(v, t)) {
        if (close_gap(t - v, r_max)) return {true, 0};
        sum = penalty.at(t - v);
    }
    if (used.below(v, t)) {
        if (close_gap(v - t, r_max)) return {true, 0};
        sum = wrapping_add(sum, penalty.at(v - t));
    }
    return {false, sum};
}

// The same when only gaps up to 64 matter (r_max <= 65.0, max_gap < 64): a
// used slot further away is not close and its gap costs nothing, so the 64
// slots on either side of v decide, read as one word each.
inline SlotVerdict judge_near(const SlotSet& used, std::size_t v, double r_max, const PenaltyTable& penalty) {
    if (!used.any()) return {false, 0};
    if (used.has(v)) return {true, 0};
    std::int64_t sum = 0;
    if (const std::uint64_t up = used.after(v); up != 0) {
        const auto gap = static_cast<std::size_t>(std::countr_zero(up)) + 1;
        if (close_gap(gap, r_max)) return {true, 0};
        sum = penalty.at(gap);
    }
    if (const std::uint64_t down = used.before(v); down != 0) {
        const auto gap = static_cast<std::size_t>(std::countl_zero(down)) + 1;
        if (close_gap(gap, r_max)) return {true, 0};
        sum = wrapping_add(sum, penalty.at(gap));
    }
    return {false, sum};
}

// A home slot's row: the slot, its bit index, its key, and what the home
// team's used slots make of it.
struct WholeRow {
    double slot;
    std::size_t v;              // the slot as an index (0 for NaN)
    std::int64_t key;           // equal to v; NaN has key 0 as well
    std::int64_t home_penalty;
    bool blocked;
    bool numbered;              // false for NaN
};

// One column by the rules as written, for an opponent whose used slots do
// not all fit the bit set: every used slot is tested against every row.
void write_plain_column(const StridedMatrix& x, std::uint64_t g, std::span<const WholeRow> rows, double reverse,
                        double m, double r_max, const ForbiddenIndex::Team& forbidden, const PenaltyTable& penalty,
                        std::size_t k, std::vector<double>& away, CellWriter& out) {
    collect_team_slots(x, g, away);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const WholeRow& row = rows[i];
        const double s = row.slot;
        double* cell = out.row(i) + k;
        bool infeasible = row.blocked || forbidden.contains(row.key) || m > std::fabs(s - reverse);
        double forward = kInfinity, backward = kInfinity;
        for (std::size_t q = 0; !infeasible && q < away.size(); ++q) {
            const double t = away[q];
            infeasible = t == s || close(t, s, r_max);
            if (t - s > 0.0 && t - s < forward) forward = t - s;
            if (s - t > 0.0 && s - t < backward) backward = s - t;
        }
        if (infeasible) {
            out.infeasible(cell);
        } else {
            out.cost(cell, wrapping_add(row.home_penalty, penalty.of(forward, backward)));
        }
    }
}

// The builder for whole-numbered home slots. Returns false, having written
// nothing, when the home team's used slots do not fit the bit set.
bool write_whole(const StridedMatrix& x, std::uint64_t a, std::span<const double> S, std::span<const std::uint64_t> O,
                 double m, double r_max, const ForbiddenSlots& sets_forbidden, const ForbiddenIndex& index,
                 const PenaltyTable& penalty, CellWriter& out) {
    const std::size_t n_slots = S.size();
    // With a square X whose slots are small, every team's used slots come
    // from one pass over X (table); otherwise each team's row and column are
    // read into the thread's bit set when its turn comes.
    double largest_home = 0.0;
    for (const double s : S) largest_home = s > largest_home ? s : largest_home;  // NaN is skipped
    const std::size_t teams = x.rows == x.cols ? x.rows : 0;
    const std::size_t table_words = TeamSlotTable::words_for(teams, largest_home);
    const std::size_t table_bytes = table_words != 0 ? TeamSlotTable::bytes(teams, table_words) : 0;
    Scratch scratch(Scratch::kCost, Carver::bytes<WholeRow>(n_slots) + table_bytes);
    Carver carve(scratch.data());
    WholeRow* const rows = carve.take<WholeRow>(n_slots);
    std::optional<TeamSlotTable> table;
    if (table_words != 0) table.emplace(x, teams, table_words, carve.take<std::byte>(table_bytes));

    UsedSlots used;
    // The used slots of team t; false when they do not fit the bit sets.
    auto slots_of = [&](std::size_t t, SlotSet& set) {
        if (table && table->fits(t)) {
            set = table->set(t);
            return true;
        }
        const bool fits = used.mark(x, t);
        set = used.set();
        return fits;
    };

    SlotSet home;
    if (!slots_of(static_cast<std::size_t>(a), home)) return false;
    for (std::size_t i = 0; i < n_slots; ++i) {
        const double s = S[i];
        if (s != s) {
            rows[i] = {s, 0, 0, 0, false, false};
            continue;
        }
        const auto v = static_cast<std::size_t>(s);
        const SlotVerdict verdict = judge(home, v, r_max, penalty);
        rows[i] = {s, v, static_cast<std::int64_t>(v), verdict.penalty, verdict.blocked, true};
    }

    const bool near_only = r_max <= 65.0 && penalty.max_gap() < 64;
    std::vector<double> away;  // only for opponents outside the bit sets
    for (std::size_t k = 0; k < O.size(); ++k) {
        const std::uint64_t g = O[k];
        const ForbiddenIndex::Team forbidden = index.team(g, sets_forbidden);
        // The slot in which g hosts a; 9999.0 (no slot yet) is used as it is.
        const double reverse = x.at(static_cast<std::size_t>(g), static_cast<std::size_t>(a));
        SlotSet set;
        if (!slots_of(static_cast<std::size_t>(g), set)) {
            used.clear();
            write_plain_column(x, g, {rows, n_slots}, reverse, m, r_max, forbidden, penalty, k, away, out);
            continue;
        }
        for (std::size_t i = 0; i < n_slots; ++i) {
            const WholeRow& row = rows[i];
            double* cell = out.row(i) + k;
            if (row.blocked || forbidden.contains(row.key) || m > std::fabs(row.slot - reverse)) {
                out.infeasible(cell);
                continue;
            }
            if (!row.numbered) {  // NaN equals nothing, is close to nothing, has no gaps
                out.cost(cell, 0);
                continue;
            }
            const SlotVerdict verdict =
                near_only ? judge_near(set, row.v, r_max, penalty) : judge(set, row.v, r_max, penalty);
            if (verdict.blocked) {
                out.infeasible(cell);
            } else {
                out.cost(cell, wrapping_add(row.home_penalty, verdict.penalty));
            }
        }
    }
    return true;
}

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

std::uint64_t write_cost_matrix(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                                std::span<const std::uint64_t> O, double m, double r_max,
                                const ForbiddenSlots& sets_forbidden, const ForbiddenIndex& index,
                                std::span<const std::int64_t> penalties, std::uint64_t max_gap,
                                const CostTarget& target) {
    const PenaltyTable penalty(penalties, max_gap);
    check_cost_indices(x, a, O);
    CellWriter out(target);
    if (S.empty() || O.empty()) return 0;
    bool whole = true;
    for (const double s : S) whole &= s != s || whole_slot(s);
    if (whole && write_whole(x, a, S, O, m, r_max, sets_forbidden, index, penalty, out)) return out.largest();
    return write_general(x, a, S, O, m, r_max, sets_forbidden, index, penalty, out);
}

CostMatrix create_cost_matrix_inner(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                                    std::span<const std::uint64_t> O, double m, double r_max,
                                    const ForbiddenSlots& sets_forbidden, const ForbiddenIndex& index,
                                    std::span<const std::int64_t> penalties, std::uint64_t max_gap) {
    CostMatrix result = allocate(S.size(), O.size());
    write_cost_matrix(x, a, S, O, m, r_max, sets_forbidden, index, penalties, max_gap,
                      CostTarget{result.cells.get(), O.size(), kInfeasible});
    return result;
}

CostMatrix create_cost_matrix_inner(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                                    std::span<const std::uint64_t> O, double m, double r_max,
                                    const ForbiddenSlots& sets_forbidden, std::span<const std::int64_t> penalties,
                                    std::uint64_t max_gap) {
    const ForbiddenIndex index(sets_forbidden);
    return create_cost_matrix_inner(x, a, S, O, m, r_max, sets_forbidden, index, penalties, max_gap);
}

}  // namespace tavelin
