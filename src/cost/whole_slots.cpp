// The cost-matrix builder for whole-numbered slots, the common case.
//
// Slots in timetables are small whole numbers. When every home slot is NaN
// or a whole number in [0, kSlotLimit), and so is every used slot of the home
// team, each team's used slots are marked in a bit set and every cell finds
// its neighbours by scanning for the next set bit on either side: no sorting,
// no lists, no floating-point gaps. An opponent with some other used slot
// gets its column from the plain rules instead.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "cost/cost_builders.hpp"
#include "cost/scratch.hpp"
#include "cost/team_slots.hpp"

namespace tavelin {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

constexpr std::size_t kSlotLimit = std::size_t{1} << 16;
constexpr std::size_t kSlotWords = kSlotLimit / 64;

// Whether v is a whole number in [0, limit); limit is far below 2^63.
inline bool whole_below(double v, std::size_t limit) {
    return v >= 0.0 && v < static_cast<double>(limit) && v == static_cast<double>(static_cast<std::int64_t>(v));
}

inline bool whole_slot(double v) { return whole_below(v, kSlotLimit); }

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
                if (!whole_below(v, limit_)) {
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
inline SlotVerdict judge(const SlotSet& used, std::size_t v, double r_max, const GapPenalties& penalty) {
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
inline SlotVerdict judge_near(const SlotSet& used, std::size_t v, double r_max, const GapPenalties& penalty) {
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

// An opponent's column: where it goes, the team, the slot in which it hosts
// the home team (9999.0, no slot yet, is used as it is) and its forbidden
// slots.
struct Column {
    std::size_t k;
    std::uint64_t g;
    double reverse;
    ForbiddenSlots::Team forbidden;
};

// Whether a row is excluded by the opponent alone, before its used slots.
inline bool excluded(const WholeRow& row, const Column& column, double m) {
    return row.blocked || column.forbidden.contains(row.key) || m > std::fabs(row.slot - column.reverse);
}

// One column by the rules as written, for an opponent whose used slots do
// not all fit the bit set: every used slot is tested against every row.
void write_plain_column(const StridedMatrix& x, const Column& column, std::span<const WholeRow> rows,
                        const CostModel& model, std::vector<double>& away, CellWriter& out) {
    collect_team_slots(x, column.g, away);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const WholeRow& row = rows[i];
        const double s = row.slot;
        double* cell = out.row(i) + column.k;
        bool infeasible = excluded(row, column, model.m);
        double forward = kInfinity, backward = kInfinity;
        for (std::size_t q = 0; !infeasible && q < away.size(); ++q) {
            const double t = away[q];
            infeasible = t == s || close(t, s, model.r_max);
            if (t - s > 0.0 && t - s < forward) forward = t - s;
            if (s - t > 0.0 && s - t < backward) backward = s - t;
        }
        if (infeasible) {
            out.infeasible(cell);
        } else {
            out.cost(cell, wrapping_add(row.home_penalty, model.penalties.of_gaps(forward, backward)));
        }
    }
}

}  // namespace

bool write_whole_slots(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                       std::span<const std::uint64_t> O, const CostModel& model, CellWriter& out) {
    for (const double s : S) {
        if (s == s && !whole_slot(s)) return false;
    }
    const GapPenalties& penalty = model.penalties;
    const double m = model.m, r_max = model.r_max;
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
        const Column column{k, g, x.at(static_cast<std::size_t>(g), static_cast<std::size_t>(a)),
                            model.forbidden.team(g)};
        SlotSet set;
        if (!slots_of(static_cast<std::size_t>(g), set)) {
            used.clear();
            write_plain_column(x, column, {rows, n_slots}, model, away, out);
            continue;
        }
        for (std::size_t i = 0; i < n_slots; ++i) {
            const WholeRow& row = rows[i];
            double* cell = out.row(i) + k;
            if (excluded(row, column, m)) {
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

}  // namespace tavelin
