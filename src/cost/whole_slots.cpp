// The cost-matrix builder for whole-numbered slots, the common case.
//
// Slots in timetables are small whole numbers. When every home slot is NaN
// or a whole number in [0, kSlotLimit), and so is every used slot of the home
// team, each team's used slots are marked in a bit set (slot_sets.hpp) and
// every cell finds its neighbours in the bits around its slot: no sorting,
// no lists, no floating-point gaps. Where only a few slots on either side
// matter (the cost model's NearGaps table is ready), the pattern of those
// bits is looked up whole, and when every team's used slots were read in
// one pass, the matrix is written row by row (write_table_rows). An
// opponent with some other used slot gets its column from the plain rules
// instead.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#include "cost/cost_builders.hpp"
#include "cost/platform.hpp"
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

// The whole slots v in [0, kSlotLimit) within the separation from a reverse
// game in slot r (m > |v - r|), as the run [lo, hi]; lo > hi when there is
// none. They form one run: v - r rounds monotonically, so |v - r| falls
// and then rises as v grows, and its least value lies at floor(r) or
// ceil(r) (0 or kSlotLimit - 1 beyond them).
struct SlotRange {
    std::size_t lo = 1, hi = 0;
};

SlotRange separated_by_search(double m, double r);

// The largest whole distance d with m > d (-1: none); past 2^40 every slot
// lies within, since whole reverse slots reach at most 2^32.
inline std::int64_t largest_within(double m) {
    constexpr double kFar = 1099511627776.0;  // 2^40
    if (!(m > 0.0)) return -1;
    const auto d = static_cast<std::int64_t>(m > kFar ? kFar : m);  // m rounded down
    return static_cast<double>(d) == m ? d - 1 : d;
}

// `within` from largest_within(m).
inline SlotRange separated(double m, std::int64_t within, double r) {
    constexpr std::size_t top = kSlotLimit - 1;
    constexpr double kWholeReach = 4294967296.0;  // 2^32
    const auto whole = static_cast<std::int64_t>(std::fabs(r) <= kWholeReach ? r : 0.0);
    if (static_cast<double>(whole) != r) return separated_by_search(m, r);
    // v - r is exact, a whole distance, and m exceeds exactly those up to
    // `within`.
    const std::int64_t lo = std::max<std::int64_t>(whole - within, 0);
    const std::int64_t hi = std::min<std::int64_t>(whole + within, static_cast<std::int64_t>(top));
    if (within < 0 || lo > hi) return {};
    return {static_cast<std::size_t>(lo), static_cast<std::size_t>(hi)};
}

// Any other r (fractional, far off, infinite or NaN): the test itself, by
// bisection on either side of the least distance.
SlotRange separated_by_search(double m, double r) {
    constexpr std::size_t top = kSlotLimit - 1;
    auto within = [&](std::size_t v) { return m > std::fabs(static_cast<double>(v) - r); };
    std::size_t c = r > 0.0 ? (r < static_cast<double>(top) ? static_cast<std::size_t>(r) : top) : 0;
    if (!within(c)) {
        if (c == top || !within(c + 1)) return {};
        ++c;
    }
    std::size_t a = 0, b = c;  // within(b); the first v that is
    while (a < b) {
        const std::size_t mid = a + (b - a) / 2;
        if (within(mid)) b = mid; else a = mid + 1;
    }
    SlotRange range{a, c};
    a = c, b = top;  // within(a); the last v that is
    while (a < b) {
        const std::size_t mid = a + (b - a + 1) / 2;
        if (within(mid)) a = mid; else b = mid - 1;
    }
    range.hi = a;
    return range;
}

// Bits first ... last (first <= last) of the word of bits 64 w ... 64 w + 63.
inline std::uint64_t run_bits(std::size_t w, std::size_t first, std::size_t last) {
    const std::size_t base = 64 * w;
    if (last < base || first > base + 63) return 0;
    const std::size_t from = std::max(first, base) - base, to = std::min(last, base + 63) - base;
    return (~std::uint64_t{0} >> (63 - (to - from))) << from;
}

// Eight bytes of a bit set from byte `byte` on, as one word: bit j of the
// word is bit 8 * byte + j of the set (little-endian memory only).
inline std::uint64_t eight_bytes(const unsigned char* bytes, std::size_t byte) {
    std::uint64_t word;
    std::memcpy(&word, bytes + byte, sizeof word);
    return word;
}

// The row-by-row writer and its marking step are kept out of line
// (TAVELIN_OUT_OF_LINE): inlined into the builder, the cell loop lost
// registers to the builder's other state.

// Fills each opponent's set of the slots it excludes on its own, in the
// words that the windows of the rows read (see write_table_rows).
TAVELIN_OUT_OF_LINE void mark_excluded(std::span<const WholeRow> rows, std::span<const Column> columns,
                                       std::uint64_t* excluded_sets, std::size_t words, std::size_t reach,
                                       std::size_t lowest, std::size_t highest, double m) {
    const std::size_t n_columns = columns.size();
    const std::int64_t within = largest_within(m);
    // The words that the rows' windows read, from the least slot's window
    // to the greatest one's.
    if (lowest <= highest) {
        const std::size_t first = (lowest + kSlotBias - reach) / 64;
        const std::size_t last = ((highest + kSlotBias - reach) / 8 + 7) / 8;
        for (std::size_t k = 0; k < n_columns; ++k) {
            const Column& column = columns[k];
            std::uint64_t* const set = excluded_sets + column.g * words;
            const SlotRange run = separated(m, within, column.reverse);
            const ForbiddenSlots::Team forbidden = column.forbidden;
            const bool bits_only = forbidden.bits_only();
            // Word w holds slots 64 (w - 1) ... 64 w - 1, which are the
            // forbidden set's word w - 1 (none for w = 0: word(-1) is 0).
            static_assert(kSlotBias == 64, "the forbidden words are copied one word apart");
            if (bits_only) {
                for (std::size_t w = first; w <= last; ++w) set[w] = forbidden.word(w - 1);
            } else {
                std::fill(set + first, set + last + 1, std::uint64_t{0});
            }
            if (run.lo <= run.hi) {
                const std::size_t lo = run.lo + kSlotBias, hi = run.hi + kSlotBias;
                const std::size_t to = std::min(hi / 64, last);
                for (std::size_t w = std::max(lo / 64, first); w <= to; ++w) set[w] |= run_bits(w, lo, hi);
            }
            if (!bits_only) {
                for (const WholeRow& row : rows) {
                    if (row.numbered && forbidden.contains(row.key)) {
                        const std::size_t bit = row.v + kSlotBias;
                        set[bit / 64] |= std::uint64_t{1} << (bit % 64);
                    }
                }
            }
        }
    }
}

// `blocked ? infeasible : cost` without a branch for integer cells: which
// pairings are blocked follows the schedule, not a pattern that a branch
// predictor learns, and a mispredicted branch per cell costs more than the
// masks.
template <class Cell>
Cell blocked_or(bool blocked, Cell infeasible, Cell cost) {
    if constexpr (std::is_integral_v<Cell>) {
        const Cell all = static_cast<Cell>(-static_cast<Cell>(blocked));
        return static_cast<Cell>((infeasible & all) | (cost & ~all));
    } else {
        return blocked ? infeasible : cost;
    }
}

// The cost matrix row by row, for whole slots with the table of near gaps
// and every opponent's used slots in the slot table. Per call, each
// opponent gets a bit set of the slots it excludes on its own (forbidden,
// or within the separation from its reverse game), laid out like the used
// slots. A cell then reads the window of its slot from the opponent's used
// slots, adds its own slot's bit from that set as the middle bit of the
// pattern (a used slot there blocks it just the same) and looks the
// pattern up: no other test. Rows of the result are written in order,
// each over every opponent.
// `block` holds every team's used slots and, `excluded` bytes past each,
// the set of the slots it excludes; column k's used slots start
// `offsets[k]` bytes into the block.
template <class Writer>
TAVELIN_OUT_OF_LINE void write_table_rows(std::span<const WholeRow> rows, std::span<const Column> columns,
                                          const unsigned char* block, const std::size_t* offsets,
                                          std::size_t excluded, const CostModel& model, const ScaledSums& sums,
                                          Writer& out) {
    using Cell = typename Writer::Cell;
    const NearGaps& near = model.near;
    const std::size_t reach = static_cast<std::size_t>(near.reach()), n_columns = columns.size();
    const std::uint64_t mask = near.mask();
    const std::uint8_t* const blocked = near.blocked_table();
    const std::int64_t* const penalty = near.penalty_table();
    const Cell infeasible = out.infeasible_value();

    [[maybe_unused]] typename Writer::Tally tally = out.tally();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const WholeRow& row = rows[i];
        Cell* const cells = out.row(i);
        if (row.blocked) {
            std::fill(cells, cells + n_columns, infeasible);
            continue;
        }
        if (!row.numbered) {  // NaN: excluded only by a forbidden key 0; no gaps
            for (std::size_t k = 0; k < n_columns; ++k) {
                if (columns[k].forbidden.contains(0)) {
                    cells[k] = infeasible;
                } else if (sums.fit) {
                    cells[k] = 0;
                } else {
                    cells[k] = out.cost_value(0, tally);
                }
            }
            continue;
        }
        const std::size_t start = row.v + kSlotBias - reach, byte = start / 8;
        const unsigned shift = static_cast<unsigned>(start % 8);
        const std::uint64_t middle = std::uint64_t{1} << (reach + shift);
        const std::int64_t home = row.home_penalty;
        const unsigned char* const used_row = block + byte;
        const unsigned char* const excluded_row = used_row + excluded;
        if (sums.fit) {
            const std::int64_t scale = sums.scale;
            for (std::size_t k = 0; k < n_columns; ++k) {
                const std::size_t at = offsets[k];
                const std::uint64_t bits = eight_bytes(used_row, at) | (eight_bytes(excluded_row, at) & middle);
                const std::uint64_t p = (bits >> shift) & mask;
                const auto sum = static_cast<Cell>((home + penalty[p]) * scale);
                cells[k] = blocked_or(blocked[p] != 0, infeasible, sum);
            }
        } else {
            for (std::size_t k = 0; k < n_columns; ++k) {
                const std::size_t at = offsets[k];
                const std::uint64_t bits = eight_bytes(used_row, at) | (eight_bytes(excluded_row, at) & middle);
                const std::uint64_t p = (bits >> shift) & mask;
                cells[k] = blocked[p] ? infeasible : out.cost_value(wrapping_add(home, penalty[p]), tally);
            }
        }
    }
    if (!sums.fit) out.commit(tally);
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
    double largest_home = 0.0, smallest_home = static_cast<double>(kSlotLimit);
    for (const double s : S) {
        if (s == s && !whole_below(s, kSlotLimit)) return false;
        largest_home = s > largest_home ? s : largest_home;  // NaN is skipped
        smallest_home = s < smallest_home ? s : smallest_home;
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
    // Row by row (write_table_rows) needs the table of near gaps, the slot
    // table and memory that reads as little-endian words.
    const bool by_rows = table && table_words != 0 && std::endian::native == std::endian::little;
    const std::size_t n_columns = O.size();
    const std::size_t rows_bytes = by_rows ? Carver::bytes<Column>(n_columns) +
                                                 Carver::bytes<std::size_t>(n_columns) +
                                                 Carver::bytes<std::uint64_t>(teams * table_words)
                                           : 0;
    Scratch scratch(Scratch::kCost, Carver::bytes<WholeRow>(n_slots) + table_bytes + rows_bytes);
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
        const auto v = static_cast<std::size_t>(static_cast<std::int64_t>(s));  // whole, below 2^16: exact
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

    const std::span<const WholeRow> row_span{rows, n_slots};
    if (by_rows && std::all_of(O.begin(), O.end(), [&](std::uint64_t g) { return slot_table->fits(g); })) {
        Column* const columns = carve.take<Column>(n_columns);
        std::size_t* const offsets = carve.take<std::size_t>(n_columns);
        // Each team's excluded slots lie a fixed distance past its used
        // slots, in the same block.
        std::uint64_t* const excluded_sets = carve.take<std::uint64_t>(teams * table_words);
        const auto* const block = reinterpret_cast<const unsigned char*>(scratch.data());
        const auto bytes_in = [&](const std::uint64_t* p) {
            return static_cast<std::size_t>(reinterpret_cast<const unsigned char*>(p) - block);
        };
        for (std::size_t k = 0; k < n_columns; ++k) {
            const std::uint64_t g = O[k];
            columns[k] = {k, g, x.at(static_cast<std::size_t>(g), static_cast<std::size_t>(a)),
                          model.forbidden.team(g)};
            offsets[k] = bytes_in(slot_table->set(g).bits);
        }
        // The least and the greatest whole home slot (none: lowest > highest).
        const auto lowest = static_cast<std::size_t>(smallest_home), highest = static_cast<std::size_t>(largest_home);
        const std::span<const Column> column_span{columns, n_columns};
        mark_excluded(row_span, column_span, excluded_sets, table_words, reach, lowest, highest, model.m);
        write_table_rows(row_span, column_span, block, offsets,
                         bytes_in(excluded_sets) - bytes_in(slot_table->set(0).bits), model, sums, out);
        return true;
    }

    std::vector<double> away;  // only for opponents outside the bit sets
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
