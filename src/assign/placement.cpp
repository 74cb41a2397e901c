// The placement route: Kuhn-Munkres on the structure of a placement's
// square matrix (see placement.hpp), compiled once per instruction set like
// the routes of assignment.cpp.
//
// The matrix: rows are the nS home slots, then nO dummy rows; columns are
// the nO opponents, then nS dummy columns. Weights (the negated cells): a
// home row has -cost on the opponents and 0 on every dummy column; a dummy
// row has -p on the opponents and 0 on every dummy column.
//
// The routine as reference_assignment runs it, phase by phase: a root row
// grows a tree, at each step taking the column of least slack (the lowest
// index among equals) whose slack row is the first tree row that reached
// that least value; a free column ends the phase; labels shift by each
// least slack. With whole-number weights every value it computes is exact,
// so a phase can equally be computed as a shortest-path search from the
// root over reduced costs fixed at its start: a column's key is the least
// of (distance at which a tree row joined) + (reduced cost from that row),
// and the columns are taken in order of key, then index. The slack of the
// routine is the key minus the total shift so far, its least slack the next
// key minus the last, its slack row the first row that reached the key, so
// the choices are the same, and so are the labels at the end of the phase:
// a tree row's label falls by D - d, a tree column's rises by D - d, D the
// key of the free column, d the key at which the row or column joined.
//
// What the structure gives:
//   * every dummy column has weight 0 in every row, so its key is
//     m + v, m being the least (distance + row label) over the tree rows
//     (the first to reach it is the slack row) and v its label. Among the
//     dummy columns the order of keys is therefore the order of labels,
//     fixed during a phase: they are taken in order of (label, index);
//   * unmatched dummy columns have label 0 (labels rise only inside a tree,
//     and a free column enters one only to end it), and the lowest of them,
//     the representative, is taken before the others and ends the phase;
//     the matched ones are a prefix of the block (as in assignment.cpp)
//     and all have one label (see shift_labels), so they are taken in the
//     order of their indices;
//   * dummy rows differ only in their labels: one that joins a tree with a
//     (distance + label) no lower than that of a dummy row already in it
//     lowers no key (the comparison is strict) and is not scanned;
//   * after a dummy root that ended at the representative directly with no
//     shift, every later dummy root does the same with the next one
//     (match_equal_rows in assignment.cpp).
//
// Keys are packed into 32-bit integers, (key * S + r) with S a power of
// two above N and r the order in which the row reached it, so that one
// signed minimum keeps the least key and, among equal keys, the first row;
// the pick among columns replaces r by the column index and takes the
// least as unsigned, tree columns holding INT32_MIN (above every other key
// as unsigned, and never lowered). See placement_runs.inc for the bounds
// that keep every value inside 32 bits.
#include "assign/placement.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "cost/scratch.hpp"

namespace tavelin {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr std::uint32_t kFree = std::numeric_limits<std::uint32_t>::max();
constexpr double kNotAllowed = 1e15;
// Row arrays are padded to this many 32-bit lanes, the widest vector.
constexpr std::size_t kPad = 16;

// A tree row or column: its index and the level (scaled key) at which it
// joined; for a row, whether its keys are still to be lowered.
struct TreeEntry {
    std::int64_t at;
    std::uint32_t index;
    std::uint32_t pending;
};

// The state of one run, carved from one block. Scaled values are whole
// numbers times S; bit sets over the opponents have `words` 64-bit words.
struct PlaceState {
    std::size_t nS, nO, N;
    std::size_t cw;           // nO rounded up to kPad: the stride of the cost rows
    std::size_t words;        // of a bit set over the opponents
    std::int64_t scale;       // S
    std::int64_t low;         // S - 1: the bits of a row order or a column index
    std::int64_t ps;          // p * S
    std::int64_t real_limit;  // keys at or above it come from pairings that are not allowed
    const std::int32_t* cost; // nS rows, cw apart: cost * S (a pairing not allowed, and padding: a larger value)
    std::int32_t* col_label;  // cw: opponent column labels, scaled (padding 0)
    std::int32_t* index;      // cw: the column index of each lane
    std::int32_t* key;        // cw: the keys of the current phase
    std::int32_t* key_start;  // cw: INT32_MAX for an opponent, INT32_MIN (a tree key) for padding
    std::int64_t* row_label;  // nS: home row labels, scaled (a dummy row's follows from its match)
    std::int64_t dummy_root_label;  // of a dummy row before it is a root
    std::int64_t dummy_label; // the one label of every matched dummy column, scaled (see shift_labels)
    std::uint64_t* free_opp;  // words: opponents not matched yet
    std::uint64_t* tight;     // nS x words: per home row, the opponents of reduced cost 0
    std::uint32_t* tight_at;  // N: the version `tight` holds (0: none); a label change clears it
                              // (a dummy row's entry is never read)
    std::uint64_t* in_tree;   // words: opponents in the tree
    std::uint64_t* at_level;  // words: opponents outside the tree whose key is the current level
    std::uint64_t* found;     // words: the opponents a dummy row brings to the level
    std::uint64_t* limit;     // words: the opponents below a free one (see phase)
    TreeEntry* tree_rows;     // N: in join order
    TreeEntry* tree_cols;     // nO: the opponent columns in the tree, in join order
    std::uint32_t* parent;    // N (+ kPad): per column, its slack row (set when it reaches the level)
    std::uint32_t* opp_match; // nO: the row of each opponent, or kFree
    std::uint32_t* dummy_match;  // nS: the rows of the matched dummy columns (a prefix)
    std::size_t* column;      // N: the result, per row
    std::size_t matched;      // matched dummy columns
    std::size_t clear_rows;   // dummy columns [0, clear_rows): their rows are known to reach no opponent at key 0
    std::uint32_t version;    // of the opponent column labels

    static std::size_t bytes(std::size_t nS, std::size_t nO) {
        const std::size_t N = nS + nO, cw = (nO + kPad - 1) / kPad * kPad, words = (nO + 63) / 64;
        return 6 * Carver::bytes<std::int32_t>(cw) +
               Carver::bytes<std::int64_t>(nS) +
               Carver::bytes<std::uint64_t>(nS * words) + Carver::bytes<std::uint32_t>(N) +
               5 * Carver::bytes<std::uint64_t>(words) + Carver::bytes<TreeEntry>(N) + Carver::bytes<TreeEntry>(nO) +
               Carver::bytes<std::uint32_t>(N + kPad) + Carver::bytes<std::uint32_t>(nO) +
               Carver::bytes<std::uint32_t>(nS);
    }

    PlaceState(std::byte* block, const std::int32_t* costs, std::size_t slots, std::size_t opponents,
               std::size_t* result)
        : nS(slots),
          nO(opponents),
          N(slots + opponents),
          cw((opponents + kPad - 1) / kPad * kPad),
          words((opponents + 63) / 64),
          cost(costs) {
        Carver carve(block);
        col_label = carve.take<std::int32_t>(cw);
        index = carve.take<std::int32_t>(cw);
        key = carve.take<std::int32_t>(cw);
        key_start = carve.take<std::int32_t>(cw);
        row_label = carve.take<std::int64_t>(nS);
        free_opp = carve.take<std::uint64_t>(words);
        tight = carve.take<std::uint64_t>(nS * words);
        tight_at = carve.take<std::uint32_t>(N);
        in_tree = carve.take<std::uint64_t>(words);
        at_level = carve.take<std::uint64_t>(words);
        found = carve.take<std::uint64_t>(words);
        limit = carve.take<std::uint64_t>(words);
        tree_rows = carve.take<TreeEntry>(N);
        tree_cols = carve.take<TreeEntry>(nO);
        parent = carve.take<std::uint32_t>(N + kPad);  // room for a vector past the opponents
        opp_match = carve.take<std::uint32_t>(nO);
        dummy_match = carve.take<std::uint32_t>(nS);
        carve.take<std::int32_t>(2 * cw);  // room past the last array for a vector read
        column = result;
        dummy_label = 0;
        matched = 0;
        clear_rows = 0;
        version = 1;
    }
};

// The scaled costs of doubles (see PlacementCosts); false when one is not
// a whole number within the bound.
bool scale_costs(const PlacementCosts& in, const PlacementScale& scale, std::int32_t* out) {
    const double bound = static_cast<double>(scale.bound);
    for (std::size_t i = 0; i < in.n_slots; ++i) {
        const double* row = in.cells + i * in.stride;
        std::int32_t* cells = out + i * scale.stride;
        for (std::size_t k = 0; k < in.n_opponents; ++k) {
            const double c = row[k];
            if (c == kNotAllowed) {
                cells[k] = scale.not_allowed;
                continue;
            }
            if (!(std::fabs(c) <= bound)) return false;  // NaN too
            const auto whole = static_cast<std::int64_t>(c);
            if (static_cast<double>(whole) != c) return false;
            cells[k] = static_cast<std::int32_t>(whole * scale.scale);
        }
        for (std::size_t k = in.n_opponents; k < scale.stride; ++k) cells[k] = scale.not_allowed;
    }
    return true;
}

// The initial labels and matches. A row label starts at the row's largest
// weight: for a home row 0 (the dummy columns) or the negation of its least
// cost, for a dummy row 0 or -p.
void start_state(PlaceState& s, const PlacementScale& scale, double p) {
    const std::size_t N = s.N, nS = s.nS, nO = s.nO, cw = s.cw;
    s.scale = scale.scale;
    s.low = scale.scale - 1;
    s.ps = static_cast<std::int64_t>(p) * scale.scale;
    s.real_limit = ((static_cast<std::int64_t>(N) + 3) * scale.bound + 1) * scale.scale;
    for (std::size_t i = 0; i < nS; ++i) {
        const std::int32_t* row = s.cost + i * cw;
        std::int32_t least = 0;
        for (std::size_t k = 0; k < nO; ++k) least = row[k] < least ? row[k] : least;
        s.row_label[i] = -static_cast<std::int64_t>(least);
        s.tight_at[i] = 0;
    }
    for (std::size_t r = nS; r < N; ++r) s.tight_at[r] = 0;
    s.dummy_root_label = nS > 0 && -s.ps < 0 ? 0 : -s.ps;
    for (std::size_t q = 0; q < s.words; ++q) s.free_opp[q] = ~std::uint64_t{0};
    if (nO % 64 != 0) s.free_opp[s.words - 1] = (std::uint64_t{1} << (nO % 64)) - 1;
    for (std::size_t k = 0; k < cw; ++k) {
        s.col_label[k] = 0;
        s.index[k] = static_cast<std::int32_t>(k < nO ? k : 0);
        s.key_start[k] = k < nO ? std::numeric_limits<std::int32_t>::max() : std::numeric_limits<std::int32_t>::min();
    }
    for (std::size_t k = 0; k < nO; ++k) s.opp_match[k] = kFree;
    for (std::size_t r = 0; r < N; ++r) s.column[r] = kNone;
}

// ------------------------------------------------------- one copy per route

#define TAVELIN_ROUTE_FILE "assign/placement_runs.inc"
#include "cost/each_route.inc"
#undef TAVELIN_ROUTE_FILE

}  // namespace

PlacementScale placement_scale(std::size_t n_slots, std::size_t n_opponents) {
    PlacementScale scale;
    const std::size_t N = n_slots + n_opponents;
    if (N == 0 || N >= kFree) return scale;  // rows and columns are kept as 32-bit indices
    // Every value the route meets is bounded by multiples of B, a bound on
    // the magnitude of p and of the costs that are allowed; B is the
    // largest for which the 32-bit keys hold (placement_runs.inc).
    const auto S = static_cast<std::int64_t>(std::bit_ceil(N));
    const auto n = static_cast<std::int64_t>(N);
    const std::int64_t B = (std::int64_t{2147483000} - 2 * S) / ((3 * n + 6) * S);
    if (B < 1) return scale;
    scale.scale = S;
    scale.bound = B;
    scale.not_allowed = static_cast<std::int32_t>(((n + 3) * B + 1) * S + (n + 1) * B * S);
    scale.stride = (n_opponents + kPad - 1) / kPad * kPad;
    return scale;
}

std::size_t placement_work_bytes(std::size_t n_slots, std::size_t n_opponents) {
    return PlaceState::bytes(n_slots, n_opponents);
}

bool place_scaled(const ScaledPlacement& costs, std::size_t* column, Isa isa, std::byte* work) {
    const std::size_t n_slots = costs.n_slots, n_opponents = costs.n_opponents;
    const PlacementScale& scale = costs.scale;
    const double p = costs.p;
    if (n_slots + n_opponents == 0) return true;
    if (scale.bound < 1 || !(std::fabs(p) <= static_cast<double>(scale.bound)) ||
        static_cast<double>(static_cast<std::int64_t>(p)) != p) {
        return false;
    }
    std::optional<Scratch> scratch;
    if (work == nullptr) work = scratch.emplace(Scratch::kWork, PlaceState::bytes(n_slots, n_opponents)).data();
    PlaceState state(work, costs.cells, n_slots, n_opponents, column);
    start_state(state, scale, p);
    return run_for(isa)(state);
}

bool place_on_structure(const PlacementCosts& costs, std::size_t* column, Isa isa) {
    const std::size_t nS = costs.n_slots, nO = costs.n_opponents;
    if (nS + nO == 0) return true;
    const PlacementScale scale = placement_scale(nS, nO);
    if (scale.bound < 1) return false;
    Scratch scaled(Scratch::kPadded, Carver::bytes<std::int32_t>(nS * scale.stride + kPad));
    auto* cells = Carver(scaled.data()).take<std::int32_t>(nS * scale.stride + kPad);
    return scale_costs(costs, scale, cells) && place_scaled({cells, scale, nS, nO, costs.p}, column, isa);
}

}  // namespace tavelin
