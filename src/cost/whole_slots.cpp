// The cost-matrix builder for whole-numbered slots, the common case.
//
// Slots in timetables are small whole numbers. When every home slot is NaN
// or a whole number in [0, kSlotLimit), and so is every used slot of the home
// team, each team's used slots are marked in a bit set (slot_sets.hpp) and
// every cell finds its neighbours in the bits around its slot: no sorting,
// no lists, no floating-point gaps. Where only a few slots on either side
// matter (the cost model's NearGaps table is ready), the pattern of those
// bits is looked up whole. An opponent with some other used slot gets its
// column from the plain rules instead.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include "cost/cost_builders.hpp"
#include "cost/slot_sets.hpp"

namespace tavelin {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

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

// A home slot's row: the slot, its bit index, its key, what the home team's
// used slots make of it, and where its pattern of NearGaps starts.
struct WholeRow {
    double slot;
    std::size_t v;              // the slot as an index (0 for NaN)
    std::int64_t key;           // equal to v; NaN has key 0 as well
    std::int64_t home_penalty;
    std::uint32_t word, shift;  // bit v - G + kSlotBias: its word and its place in it
    bool blocked;
    bool numbered;              // false for NaN
    std::uint32_t key_word, key_shift;  // the key's place in a forbidden bit set
};

// For the scaled writer: when every sum of a home penalty and a table
// penalty lies within the bound and below the marker 9999999, a cell needs
// neither test: it is (home penalty + pattern penalty) * scale.
struct ScaledSums {
    bool fit = false;
    std::int64_t scale = 0;
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

// The pattern of slots v - G ... v + G of a set, for a row's window.
inline std::uint64_t pattern(const SlotSet& set, const WholeRow& row, std::uint64_t mask) {
    const std::uint64_t* bits = set.bits + row.word;
    return ((bits[0] >> row.shift) | ((bits[1] << 1) << (63 - row.shift))) & mask;
}

// One column by the rules as written, for an opponent whose used slots do
// not all fit the bit set: every used slot is tested against every row.
template <class Writer>
void write_plain_column(const StridedMatrix& x, const Column& column, std::span<const WholeRow> rows,
                        const CostModel& model, std::vector<double>& away, Writer& out) {
    collect_team_slots(x, column.g, away);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const WholeRow& row = rows[i];
        const double s = row.slot;
        auto* cell = out.row(i) + column.k;
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

// The cells of one opponent whose used slots are in `set`, each slot's
// neighbours judged by scanning the set.
template <class Writer>
void write_judged_column(const SlotSet& set, const Column& column, std::span<const WholeRow> rows,
                         const CostModel& model, bool near_only, Writer& out) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const WholeRow& row = rows[i];
        auto* cell = out.row(i) + column.k;
        if (excluded(row, column, model.m)) {
            out.infeasible(cell);
            continue;
        }
        if (!row.numbered) {  // NaN equals nothing, is close to nothing, has no gaps
            out.cost(cell, 0);
            continue;
        }
        const SlotVerdict verdict = near_only ? judge_near(set, row.v, model.r_max, model.penalties)
                                              : judge(set, row.v, model.r_max, model.penalties);
        if (verdict.blocked) {
            out.infeasible(cell);
        } else {
            out.cost(cell, wrapping_add(row.home_penalty, verdict.penalty));
        }
    }
}

// The same with the table of near gaps: each cell is the verdict of the
// pattern of bits around its slot. A NaN row reads a window of the clear
// words below slot 0: pattern 0, neither blocked nor penalised, as NaN
// equals nothing and has no gaps.
template <class Writer>
void write_table_column(const SlotSet& set, const Column& column, std::span<const WholeRow> rows,
                        const CostModel& model, const ScaledSums& sums, Writer& out) {
    const NearGaps& near = model.near;
    const std::uint64_t mask = near.mask();
    const double m = model.m, reverse = column.reverse;
    const typename Writer::Cell infeasible = out.infeasible_value();
    const ForbiddenSlots::Team forbidden = column.forbidden;
    const bool bits_only = forbidden.bits_only();
    if (sums.fit) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const WholeRow& row = rows[i];
            const std::uint64_t p = pattern(set, row, mask);
            const bool forbids =
                bits_only ? forbidden.in_bits(row.key_word, row.key_shift) : forbidden.contains(row.key);
            const bool bad = row.blocked | near.blocked(p) | forbids | (m > std::fabs(row.slot - reverse));
            const auto sum = static_cast<typename Writer::Cell>((row.home_penalty + near.penalty(p)) * sums.scale);
            out.row(i)[column.k] = bad ? infeasible : sum;
        }
        return;
    }
    typename Writer::Tally tally = out.tally();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const WholeRow& row = rows[i];
        const std::uint64_t p = pattern(set, row, mask);
        const bool forbids = bits_only ? forbidden.in_bits(row.key_word, row.key_shift) : forbidden.contains(row.key);
        const bool bad = row.blocked | near.blocked(p) | forbids | (m > std::fabs(row.slot - reverse));
        auto value = infeasible;
        if (!bad) value = out.cost_value(wrapping_add(row.home_penalty, near.penalty(p)), tally);
        out.row(i)[column.k] = value;
    }
    out.commit(tally);
}

// Whether every sum fits (see ScaledSums), the home penalties being those
// of the rows that are not blocked.
ScaledSums scaled_sums(const WholeRow* rows, std::size_t n_rows, const NearGaps& near, const ScaledWriter& out) {
    std::uint64_t home = 0;
    for (std::size_t i = 0; i < n_rows; ++i) {
        const std::int64_t v = rows[i].blocked ? 0 : rows[i].home_penalty;
        home = std::max(home, v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v));
    }
    const std::uint64_t pattern = near.largest_penalty(), bound = static_cast<std::uint64_t>(out.bound());
    constexpr auto kMarker = static_cast<std::uint64_t>(kInfeasible);
    if (home > bound || pattern > bound || home + pattern > bound || home + pattern >= kMarker) return {};
    return {true, out.scale()};
}

}  // namespace

template <class Writer>
bool write_whole_slots(const StridedMatrix& x, std::uint64_t a, std::span<const double> S,
                       std::span<const std::uint64_t> O, const CostModel& model, Writer& out) {
    double largest_home = 0.0;
    for (const double s : S) {
        if (s == s && !whole_below(s, kSlotLimit)) return false;
        largest_home = s > largest_home ? s : largest_home;  // NaN is skipped
    }
    const GapPenalties& penalty = model.penalties;
    const double r_max = model.r_max;
    const std::size_t n_slots = S.size();
    const bool table = model.near.ready();
    const bool near_only = r_max <= 65.0 && penalty.max_gap() < 64;
    // With a square X, every team's used slots come from one pass over X
    // (only slots up to 64 past the last home slot matter when gaps are
    // near); otherwise each team's row and column are read into the
    // thread's bit set when its turn comes.
    const std::size_t teams = x.rows == x.cols ? x.rows : 0;
    const std::size_t limit = static_cast<std::size_t>(largest_home) + (near_only ? 65 : 256);
    const std::size_t table_words = TeamSlotTable::words_for(teams, limit);
    const std::size_t table_bytes = table_words != 0 ? TeamSlotTable::bytes(teams, table_words) : 0;
    Scratch scratch(Scratch::kCost, Carver::bytes<WholeRow>(n_slots) + table_bytes);
    Carver carve(scratch.data());
    WholeRow* const rows = carve.take<WholeRow>(n_slots);
    std::optional<TeamSlotTable> slot_table;
    if (table_words != 0) {
        slot_table.emplace(x, teams, table_words, limit, near_only, carve.take<std::byte>(table_bytes));
    }

    std::optional<UsedSlots> used;  // the thread's bit set, taken when first needed
    // The used slots of team t; false when they do not fit the bit sets.
    auto slots_of = [&](std::size_t t, SlotSet& set) {
        if (slot_table && slot_table->fits(t)) {
            set = slot_table->set(t);
            return true;
        }
        if (!used) used.emplace();
        const bool fits = used->mark(x, t);
        set = used->set();
        return fits;
    };

    SlotSet home;
    if (!slots_of(static_cast<std::size_t>(a), home)) return false;
    const std::size_t reach = table ? static_cast<std::size_t>(model.near.reach()) : 0;
    const std::uint64_t mask = table ? model.near.mask() : 0;
    for (std::size_t i = 0; i < n_slots; ++i) {
        const double s = S[i];
        if (s != s) {
            rows[i] = {s, 0, 0, 0, 0, 0, false, false, 0, 0};  // its window: the clear words below slot 0
            continue;
        }
        const auto v = static_cast<std::size_t>(s);
        const std::size_t start = v + kSlotBias - reach;
        WholeRow row{s,     v,    static_cast<std::int64_t>(v), 0, static_cast<std::uint32_t>(start / 64),
                     static_cast<std::uint32_t>(start % 64), false, true, static_cast<std::uint32_t>(v / 64),
                     static_cast<std::uint32_t>(v % 64)};
        if (table) {
            const std::uint64_t p = pattern(home, row, mask);
            row.blocked = model.near.blocked(p);
            row.home_penalty = row.blocked ? 0 : model.near.penalty(p);
        } else {
            const SlotVerdict verdict = judge(home, v, r_max, penalty);
            row.blocked = verdict.blocked;
            row.home_penalty = verdict.penalty;
        }
        rows[i] = row;
    }

    ScaledSums sums;
    if constexpr (std::is_same_v<Writer, ScaledWriter>) {
        if (table) sums = scaled_sums(rows, n_slots, model.near, out);
    }

    std::vector<double> away;  // only for opponents outside the bit sets
    const std::span<const WholeRow> row_span{rows, n_slots};
    for (std::size_t k = 0; k < O.size(); ++k) {
        const std::uint64_t g = O[k];
        const Column column{k, g, x.at(static_cast<std::size_t>(g), static_cast<std::size_t>(a)),
                            model.forbidden.team(g)};
        SlotSet set;
        if (!slots_of(static_cast<std::size_t>(g), set)) {
            used->clear();
            write_plain_column(x, column, row_span, model, away, out);
        } else if (table) {
            write_table_column(set, column, row_span, model, sums, out);
        } else {
            write_judged_column(set, column, row_span, model, near_only, out);
        }
    }
    return true;
}

template bool write_whole_slots(const StridedMatrix&, std::uint64_t, std::span<const double>,
                                std::span<const std::uint64_t>, const CostModel&, CellWriter&);
template bool write_whole_slots(const StridedMatrix&, std::uint64_t, std::span<const double>,
                                std::span<const std::uint64_t>, const CostModel&, ScaledWriter&);

}  // namespace tavelin
