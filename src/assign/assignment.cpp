// The fast routes of the assignment routine.
//
// Both routes reproduce reference_assignment (assignment_reference.cpp)
// decision for decision; they differ from it only in how much work a step
// costs.
//
// General route (any finite weights). The step "pick the least slack outside
// the tree" is folded into the loops that give the slacks their values, and
// the slack half of a label shift is folded into the next slack update: for a
// column outside the tree the reference computes slack - delta and then
// compares it with the new row's value, and the fused loop does exactly that,
// in that order. A column that joins the tree gets slack +inf and an
// effective column label of +inf, so its lane is computed but can neither be
// lowered nor picked; the true labels of tree columns are shifted through a
// list of tree members. The scans run on vectors (run-time choice of AVX-512,
// AVX2 or SSE2); a lane keeps the first least value it sees (strict <) and the
// lanes are combined by (value, column), which is the scalar scan's choice.
//
// Small-integer route (every weight an integer of magnitude at most
// B = 2^50). Then every value is an exact integer:
//   * row labels stay in [-B, B]: a row label starts at its row's largest
//     weight and only falls, and dual feasibility (row label + column label
//     >= weight for every pair, kept by the choice of delta) against a column
//     that was never matched (there is one while a root is open, and its label
//     is still 0) bounds it below by -B;
//   * column labels stay in [0, 2B]: a column label only grows, grows only
//     while its column is matched, and on a matched pair row label + column
//     label = weight;
//   * so row label + column label lies in [-B, 3B] and every slack, delta and
//     reduced cost in [0, 4B] = [0, 2^52].
// All are integers below 2^53 in magnitude, which doubles hold exactly, and
// sums and differences of such integers are computed without rounding. The
// route may therefore compute the same values in any order and decide by
// exact equalities. It exploits that most steps have delta = 0:
//   * each row keeps the set of columns where its reduced cost is 0 (its
//     tight set) as a bit set. A label shift lowers the reduced costs of the
//     tree rows outside the tree, so their sets are computed again when they
//     are next used; every other row keeps its set minus the tree columns,
//     whose labels rose;
//   * while some column outside the tree has slack 0, the next pick is the
//     lowest such column, and its parent the first tree row that reached 0
//     there; both follow from the tight sets alone, so rows join the tree
//     without their slack updates being computed;
//   * only when no slack 0 is left are the deferred rows' updates applied,
//     in the order the rows joined (so the first row to reach a minimum keeps
//     it, as with the strict > of the reference), to find delta > 0.
// Should the route ever meet delta <= 0 where it expects a positive one, it
// gives up and the general route runs instead.
//
// Each route is compiled once per instruction set (assignment_runs.inc,
// included below after a lanes file: scalar everywhere; SSE2, AVX2 and
// AVX-512 on x86-64; NEON on aarch64), with its kernels inlined; the
// instruction set is chosen once per call. Every scan covers whole vectors:
// the weights are read from rows padded to a multiple of 8 columns (the
// caller's own padding, or a padded copy) and the per-column arrays are
// padded alike, with padding columns that can never be picked.
#include "assign/assignment.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "cost/scratch.hpp"
#include "surface/failure.hpp"

namespace tavelin {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();


struct Pick {
    double delta;   // the least slack (+inf when there is none)
    std::size_t y;  // its column, the lowest among equals; kNone when none
};

// Where row r of a weight matrix is stored: rows `stride` cells apart, and
// with shared equal rows every row of the block at its first one.
inline std::size_t stored_row(std::size_t r, std::size_t equal_rows_from, bool shared) {
    return shared && r > equal_rows_from ? equal_rows_from : r;
}

// The weights as the runs read them: rows `stride` cells apart, each
// readable up to padded_stride_for(cols) cells, the padding cells finite.
struct PaddedWeights {
    const double* cells;
    std::size_t stride;
    bool negated;
    std::size_t equal_rows_from;
    std::size_t equal_cols_from;
    bool shared_equal_rows;

    const double* row(std::size_t r) const {
        return cells + stored_row(r, equal_rows_from, shared_equal_rows) * stride;
    }
};

// Working arrays of one call, carved from one block.
struct Work {
    std::size_t nr, nc, padded, words;  // padded: nc rounded up to 8, the widest vector
    double* row_label;      // nr
    double* col_label;      // nc
    double* open_label;     // nc: col_label outside the tree, +inf inside it
    double* slack;          // nc: +inf for tree columns
    double* slack_row;      // nc: row index, as a double
    std::size_t* parent;    // nc
    std::size_t* col_match; // nc
    std::size_t* tree_rows; // nr, in the order they joined
    std::size_t* tree_cols; // nc, in the order they joined
    std::uint64_t* tight;   // nr x words (small-integer route)
    std::uint64_t* in_tree; // words: tree columns (small-integer route)
    std::uint64_t* zero;    // words: columns outside the tree with slack 0
    std::uint8_t* row_state;   // nr: kCurrent, kInTree or kStale (small-integer route)
    double* block_weight;      // nr: each row's weight in the equal columns (small-integer route)

    static std::size_t bytes(std::size_t nr, std::size_t nc) {
        const std::size_t words = (nc + 63) / 64;
        return Carver::bytes<double>(nr) + 4 * Carver::bytes<double>(padded_stride_for(nc)) +
               2 * Carver::bytes<std::size_t>(nc) + Carver::bytes<std::size_t>(nr) +
               Carver::bytes<std::size_t>(nc) + Carver::bytes<std::uint64_t>(nr * words) +
               2 * Carver::bytes<std::uint64_t>(words) + Carver::bytes<std::uint8_t>(nr) +
               Carver::bytes<double>(nr);
    }

    Work(std::byte* block, std::size_t rows, std::size_t cols)
        : nr(rows), nc(cols), padded(padded_stride_for(cols)), words((cols + 63) / 64) {
        Carver carve(block);
        row_label = carve.take<double>(nr);
        col_label = carve.take<double>(padded);
        open_label = carve.take<double>(padded);
        slack = carve.take<double>(padded);
        slack_row = carve.take<double>(padded);
        parent = carve.take<std::size_t>(nc);
        col_match = carve.take<std::size_t>(nc);
        tree_rows = carve.take<std::size_t>(nr);
        tree_cols = carve.take<std::size_t>(nc);
        tight = carve.take<std::uint64_t>(nr * words);
        in_tree = carve.take<std::uint64_t>(words);
        zero = carve.take<std::uint64_t>(words);
        row_state = carve.take<std::uint8_t>(nr);
        block_weight = carve.take<double>(nr);
    }
};

// Whether a row's tight set is up to date: kCurrent and kInTree rows have
// theirs (a row in the current tree is treated apart at a shift), a kStale
// row's must be computed again before use. A kShadowed row is in the tree
// but adds nothing to it (see run_small_integers); its set is left as it was
// and counts as stale afterwards.
enum : std::uint8_t { kCurrent, kInTree, kStale, kShadowed };

// The block of equal columns at the right edge of W (see WeightMatrix).
//
// Such a column that is still unmatched has column label 0 (labels grow only
// on matched columns), so all of them have the same slack in every step, and
// among equals the lowest index is picked first. The lowest of them is
// therefore always picked before the others, and picking it ends the root
// (it is free). So the matched ones form a prefix of the block, and a root
// never needs to look past its first unmatched column, the representative.
struct EqualColumns {
    std::size_t first;    // first column of the block (nc when there is none)
    std::size_t matched;  // how many of its columns are matched

    std::size_t representative() const noexcept { return first + matched; }
    // The columns a root looks at: [0, width).
    std::size_t width(std::size_t nc) const noexcept {
        return representative() < nc ? representative() + 1 : nc;
    }
};

// Augments along the tree path that ends in column y. Every step moves to a
// column that entered the tree earlier, so at most nr steps.
void augment(Work& s, std::size_t* row_match, std::size_t y) {
    for (std::size_t steps = 0;; ++steps) {
        if (steps == s.nr) fail("assignment: augmenting path does not end");
        const std::size_t row = s.parent[y];
        const std::size_t next = row_match[row];
        s.col_match[y] = row;
        row_match[row] = y;
        if (next == kNone) return;
        y = next;
    }
}

// A row index kept as a double (exact: indices are far below 2^53).
inline std::size_t row_index(double v) { return static_cast<std::size_t>(static_cast<std::int64_t>(v)); }

// Puts column y into the tree of the current root, reached from `x`.
inline void enter_tree(Work& s, std::size_t y, std::size_t x) {
    s.parent[y] = x;
    s.open_label[y] = kInf;
    s.slack[y] = kInf;
}

// After a root in the block of equal rows (see WeightMatrix) that shifted no
// label and ended by matching itself to the representative column directly,
// every later root does the same with the next representative: it is a copy
// of that root with the same labels, it meets the same slacks in the same
// order (the newly matched representative only brings in that earlier root,
// whose values lower no slack), finds no free column among them as before
// and reaches the next representative, which has the same slack and the
// same slack row. Returns the first root left to process normally.
std::size_t match_equal_rows(Work& s, EqualColumns& equal, std::size_t* row_match, std::size_t root) {
    std::size_t r = root + 1;
    for (; r < s.nr && equal.representative() < s.nc; ++r) {
        const std::size_t y = equal.representative();
        row_match[r] = y;
        s.col_match[y] = r;
        ++equal.matched;
    }
    return r;
}

inline void set_bit(std::uint64_t* bits, std::size_t j) { bits[j / 64] |= std::uint64_t{1} << (j % 64); }

// ------------------------------------------------------- one copy per route

#define TAVELIN_ROUTE_FILE "assign/assignment_runs.inc"
#include "cost/each_route.inc"
#undef TAVELIN_ROUTE_FILE

void check_all_matched(const std::size_t* row_match, std::size_t nr) {
    for (std::size_t r = 0; r < nr; ++r) {
        if (row_match[r] == kNone) fail("assignment: a row was left without a column");
    }
}

}  // namespace

WeightClass classify_weights(const double* cells, std::size_t count) noexcept {
    bool finite = true, small = true;
    for (std::size_t i = 0; i < count; ++i) {
        finite &= std::isfinite(cells[i]);
        small &= is_small_integer(cells[i]);
    }
    if (small) return WeightClass::small_integers;
    return finite ? WeightClass::finite : WeightClass::unknown;
}

void optimal_assignment_into(const WeightMatrix& w, WeightClass known, std::size_t* column,
                             const AssignmentOptions& options) {
    if (w.rows > w.cols) refuse("number of rows must not be larger than number of columns");
    if (w.rows == 0) return;

    const std::size_t stride = w.padded_stride != 0 ? w.padded_stride : w.cols;
    auto row_of = [&](std::size_t r) {
        return w.cells + stored_row(r, w.equal_rows_from, w.shared_equal_rows) * stride;
    };
    Route route = options.route == Route::placement ? Route::automatic : options.route;
    if (route == Route::automatic) {
        if (known == WeightClass::unknown) {
            known = WeightClass::small_integers;
            for (std::size_t r = 0; r < w.rows && known != WeightClass::unknown; ++r) {
                const WeightClass row = classify_weights(row_of(r), w.cols);
                if (row != WeightClass::small_integers) known = row;
            }
        }
        route = known == WeightClass::small_integers ? Route::small_integers
                : known == WeightClass::finite       ? Route::general
                                                     : Route::reference;
    }

    if (route == Route::reference) {
        std::vector<double> weights(w.rows * w.cols);
        for (std::size_t r = 0; r < w.rows; ++r) {
            for (std::size_t j = 0; j < w.cols; ++j) {
                const double c = row_of(r)[j];
                weights[r * w.cols + j] = w.negated ? -c : c;
            }
        }
        const std::vector<std::size_t> result = reference_assignment(weights.data(), w.rows, w.cols);
        std::memcpy(column, result.data(), w.rows * sizeof(std::size_t));
        return;
    }

    // Rows padded for whole-vector scans: the caller's own, or a copy.
    const std::size_t padded = padded_stride_for(w.cols);
    PaddedWeights weights{w.cells,           w.padded_stride,   w.negated,
                          w.equal_rows_from, w.equal_cols_from, w.shared_equal_rows};
    std::optional<Scratch> copy;
    if (w.padded_stride < padded) {  // also when it is 0: rows are contiguous
        copy.emplace(Scratch::kPadded, Carver::bytes<double>(w.rows * padded));
        double* cells = Carver(copy->data()).take<double>(w.rows * padded);
        for (std::size_t r = 0; r < w.rows; ++r) {
            std::memcpy(cells + r * padded, row_of(r), w.cols * sizeof(double));
            for (std::size_t j = w.cols; j < padded; ++j) cells[r * padded + j] = 0.0;
        }
        weights.cells = cells;
        weights.stride = padded;
        weights.shared_equal_rows = false;
    }
    Scratch scratch(Scratch::kWork, Work::bytes(w.rows, w.cols));
    Work work(scratch.data(), w.rows, w.cols);
    run_for(options.isa)(weights, work, column, route);
    check_all_matched(column, w.rows);
}

std::vector<std::size_t> optimal_assignment(const double* w, std::size_t nr, std::size_t nc) {
    std::vector<std::size_t> column(nr);
    optimal_assignment_into(WeightMatrix{w, nr, nc, false}, WeightClass::unknown, column.data());
    return column;
}

}  // namespace tavelin
