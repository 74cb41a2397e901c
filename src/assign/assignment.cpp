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
#include "assign/assignment.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "assign/scratch.hpp"
#include "surface/failure.hpp"

namespace tavelin {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ------------------------------------------------------------------ kernels
//
// Each kernel is written once over a vector width W (2, 4 or 8 doubles) with
// the compiler's generic vector types, and instantiated inside functions
// compiled for SSE2, AVX2 and AVX-512. Lanes hold consecutive columns; the
// columns past the last whole vector are handled one by one with the same
// operations.

template <int W>
struct Lanes;
template <>
struct Lanes<2> {
    typedef double D __attribute__((vector_size(16)));
};
template <>
struct Lanes<4> {
    typedef double D __attribute__((vector_size(32)));
};
template <>
struct Lanes<8> {
    typedef double D __attribute__((vector_size(64)));
};

struct Pick {
    double delta;   // the least slack (+inf when there is none)
    std::size_t y;  // its column, the lowest among equals; kNone when none
};

#define TAVELIN_INLINE [[gnu::always_inline]] inline

// Vectors never cross a function boundary by value: that would be an ABI
// change between the instruction sets.
template <class D>
TAVELIN_INLINE void load(D& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}

template <class D>
TAVELIN_INLINE void store(double* p, const D& v) {
    std::memcpy(p, &v, sizeof v);
}

template <class D>
TAVELIN_INLINE void splat(D& v, double x) {
    for (std::size_t l = 0; l < sizeof(D) / sizeof(double); ++l) v[l] = x;
}

template <bool Negated>
TAVELIN_INLINE double weight_of(double cell) {
    return Negated ? -cell : cell;
}

// Lane-wise least (value, column) pairs, combined at the end.
template <int W>
struct MinTracker {
    using D = typename Lanes<W>::D;
    D best;
    D column;  // column indices are below 2^53, exact in doubles

    TAVELIN_INLINE MinTracker() {
        splat(best, kInf);
        splat(column, -1.0);
    }

    TAVELIN_INLINE void see(D s, D index) {
        auto less = s < best;
        best = less ? s : best;
        column = less ? index : column;
    }

    // Combines the lanes, then offers the scalar tail columns [from, nc).
    TAVELIN_INLINE Pick finish(const double* slack, std::size_t from, std::size_t nc) const {
        Pick pick{kInf, kNone};
        for (int l = 0; l < W; ++l) {
            if (column[l] < 0.0) continue;
            const auto j = static_cast<std::size_t>(column[l]);
            if (best[l] < pick.delta || (best[l] == pick.delta && j < pick.y)) pick = {best[l], j};
        }
        for (std::size_t j = from; j < nc; ++j) {
            if (slack[j] < pick.delta) pick = {slack[j], j};
        }
        // The value of the chosen column itself, not of an equal one.
        if (pick.y != kNone) pick.delta = slack[pick.y];
        return pick;
    }
};

template <class D>
TAVELIN_INLINE void first_indices(D& v) {
    for (std::size_t l = 0; l < sizeof(D) / sizeof(double); ++l) v[l] = static_cast<double>(l);
}

// slack[j] = (label + col_label[j]) - weight(j), slack_row[j] = x for every j;
// returns the least slack.
template <int W, bool Negated>
TAVELIN_INLINE Pick start_slacks(const double* cells, double label, const double* col_label,
                                 double* slack, double* slack_row, double x, std::size_t nc) {
    using D = typename Lanes<W>::D;
    MinTracker<W> tracker;
    D vlabel;
    splat(vlabel, label);
    D vx;
    splat(vx, x);
    D step;
    splat(step, static_cast<double>(W));
    D index;
    first_indices(index);
    std::size_t j = 0;
    for (; j + W <= nc; j += W) {
        D w;
        load(w, cells + j);
        if (Negated) w = -w;
        D label_j;
        load(label_j, col_label + j);
        const D s = (vlabel + label_j) - w;
        store(slack + j, s);
        store(slack_row + j, vx);
        tracker.see(s, index);
        index += step;
    }
    for (std::size_t k = j; k < nc; ++k) {
        slack[k] = (label + col_label[k]) - weight_of<Negated>(cells[k]);
        slack_row[k] = x;
    }
    return tracker.finish(slack, j, nc);
}

// For every j: s = slack[j] - shift; a = (label + col_label[j]) - weight(j);
// if s > a then s = a and slack_row[j] = x; slack[j] = s. Returns the least
// slack. `shift` is +0.0 when there is nothing to subtract (s - (+0.0) == s
// for every s, signed zeros included).
template <int W, bool Negated>
TAVELIN_INLINE Pick update_slacks(const double* cells, double label, const double* col_label,
                                  double* slack, double* slack_row, double x, double shift,
                                  std::size_t nc) {
    using D = typename Lanes<W>::D;
    MinTracker<W> tracker;
    D vlabel;
    splat(vlabel, label);
    D vx;
    splat(vx, x);
    D vshift;
    splat(vshift, shift);
    D step;
    splat(step, static_cast<double>(W));
    D index;
    first_indices(index);
    std::size_t j = 0;
    for (; j + W <= nc; j += W) {
        D w;
        load(w, cells + j);
        if (Negated) w = -w;
        D s, label_j, row_j;
        load(s, slack + j);
        load(label_j, col_label + j);
        load(row_j, slack_row + j);
        s = s - vshift;
        const D a = (vlabel + label_j) - w;
        auto lower = s > a;
        s = lower ? a : s;
        store(slack + j, s);
        store(slack_row + j, lower ? vx : row_j);
        tracker.see(s, index);
        index += step;
    }
    for (std::size_t k = j; k < nc; ++k) {
        double s = slack[k] - shift;
        const double a = (label + col_label[k]) - weight_of<Negated>(cells[k]);
        if (s > a) {
            s = a;
            slack_row[k] = x;
        }
        slack[k] = s;
    }
    return tracker.finish(slack, j, nc);
}

// bits |= {j : label + col_label[j] == weight(j)}.
template <int W, bool Negated>
TAVELIN_INLINE void tight_columns(const double* cells, double label, const double* col_label,
                                  std::uint64_t* bits, std::size_t nc) {
    using D = typename Lanes<W>::D;
    D vlabel;
    splat(vlabel, label);
    std::size_t j = 0;
    for (; j + W <= nc; j += W) {
        D w;
        load(w, cells + j);
        if (Negated) w = -w;
        D label_j;
        load(label_j, col_label + j);
        const auto equal = (vlabel + label_j) == w;
        std::uint64_t found = 0;
        for (int l = 0; l < W; ++l) found |= static_cast<std::uint64_t>(equal[l] & 1) << l;
        bits[j / 64] |= found << (j % 64);  // W divides 64: no vector straddles two words
    }
    for (; j < nc; ++j) {
        if (label + col_label[j] == weight_of<Negated>(cells[j])) bits[j / 64] |= std::uint64_t{1} << (j % 64);
    }
}

// slack[j] -= delta for every j; bits |= {j : the new slack is 0}.
template <int W>
TAVELIN_INLINE void shift_slacks(double* slack, double delta, std::uint64_t* bits, std::size_t nc) {
    using D = typename Lanes<W>::D;
    D vdelta;
    splat(vdelta, delta);
    D zero;
    splat(zero, 0.0);
    std::size_t j = 0;
    for (; j + W <= nc; j += W) {
        D s;
        load(s, slack + j);
        s = s - vdelta;
        store(slack + j, s);
        const auto is_zero = s == zero;
        std::uint64_t found = 0;
        for (int l = 0; l < W; ++l) found |= static_cast<std::uint64_t>(is_zero[l] & 1) << l;
        bits[j / 64] |= found << (j % 64);
    }
    for (; j < nc; ++j) {
        slack[j] -= delta;
        if (slack[j] == 0.0) bits[j / 64] |= std::uint64_t{1} << (j % 64);
    }
}

// The largest weight of a row of finite weights. Its value is that of the
// first largest weight up to the sign of a zero, which no later step can
// tell: a label is only ever added to a column label >= +0.0 or reduced by
// a positive delta.
template <int W, bool Negated>
TAVELIN_INLINE double largest_weight(const double* cells, std::size_t nc) {
    using D = typename Lanes<W>::D;
    double largest = weight_of<Negated>(cells[0]);
    std::size_t j = 0;
    if (nc >= W) {
        D best;
        load(best, cells);
        if (Negated) best = -best;
        for (j = W; j + W <= nc; j += W) {
            D w;
        load(w, cells + j);
            if (Negated) w = -w;
            best = w > best ? w : best;
        }
        for (int l = 0; l < W; ++l) largest = best[l] > largest ? best[l] : largest;
    }
    for (; j < nc; ++j) {
        const double w = weight_of<Negated>(cells[j]);
        if (w > largest) largest = w;
    }
    return largest;
}

// One instruction set's kernels, both sign conventions.
struct Kernels {
    Pick (*start[2])(const double*, double, const double*, double*, double*, double, std::size_t);
    Pick (*update[2])(const double*, double, const double*, double*, double*, double, double,
                      std::size_t);
    void (*tight[2])(const double*, double, const double*, std::uint64_t*, std::size_t);
    void (*shift)(double*, double, std::uint64_t*, std::size_t);
    double (*largest[2])(const double*, std::size_t);
};

#define TAVELIN_KERNEL_SET(NAME, TARGET, W)                                                          \
    template <bool N>                                                                                \
    TARGET Pick NAME##_start(const double* c, double l, const double* cl, double* s, double* sr,     \
                             double x, std::size_t nc) {                                             \
        return start_slacks<W, N>(c, l, cl, s, sr, x, nc);                                           \
    }                                                                                                \
    template <bool N>                                                                                \
    TARGET Pick NAME##_update(const double* c, double l, const double* cl, double* s, double* sr,    \
                              double x, double d, std::size_t nc) {                                  \
        return update_slacks<W, N>(c, l, cl, s, sr, x, d, nc);                                       \
    }                                                                                                \
    template <bool N>                                                                                \
    TARGET void NAME##_tight(const double* c, double l, const double* cl, std::uint64_t* b,          \
                             std::size_t nc) {                                                       \
        tight_columns<W, N>(c, l, cl, b, nc);                                                        \
    }                                                                                                \
    TARGET void NAME##_shift(double* s, double d, std::uint64_t* b, std::size_t nc) {                \
        shift_slacks<W>(s, d, b, nc);                                                                \
    }                                                                                                \
    template <bool N>                                                                                \
    TARGET double NAME##_largest(const double* c, std::size_t nc) {                                  \
        return largest_weight<W, N>(c, nc);                                                          \
    }                                                                                                \
    const Kernels NAME##_kernels = {{NAME##_start<false>, NAME##_start<true>},                       \
                                    {NAME##_update<false>, NAME##_update<true>},                     \
                                    {NAME##_tight<false>, NAME##_tight<true>},                       \
                                    NAME##_shift,                                                    \
                                    {NAME##_largest<false>, NAME##_largest<true>}};

TAVELIN_KERNEL_SET(portable, , 2)
TAVELIN_KERNEL_SET(avx2, __attribute__((target("avx2"))), 4)
TAVELIN_KERNEL_SET(avx512, __attribute__((target("avx512f"))), 8)

const Kernels& kernels_for(Isa isa) {
    switch (isa) {
        case Isa::avx512: return avx512_kernels;
        case Isa::avx2: return avx2_kernels;
        case Isa::portable: return portable_kernels;
        case Isa::best: break;
    }
    static const Kernels& best = isa_available(Isa::avx512) ? avx512_kernels
                                 : isa_available(Isa::avx2) ? avx2_kernels
                                                            : portable_kernels;
    return best;
}

// ---------------------------------------------------------------- the runs

// Working arrays of one call, carved from one block.
struct Work {
    std::size_t nr, nc, words;
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

    static std::size_t bytes(std::size_t nr, std::size_t nc) {
        const std::size_t words = (nc + 63) / 64;
        return Carver::bytes<double>(nr) + 4 * Carver::bytes<double>(nc) +
               2 * Carver::bytes<std::size_t>(nc) + Carver::bytes<std::size_t>(nr) +
               Carver::bytes<std::size_t>(nc) + Carver::bytes<std::uint64_t>(nr * words) +
               2 * Carver::bytes<std::uint64_t>(words) + Carver::bytes<std::uint8_t>(nr);
    }

    Work(std::byte* block, std::size_t rows, std::size_t cols)
        : nr(rows), nc(cols), words((cols + 63) / 64) {
        Carver carve(block);
        row_label = carve.take<double>(nr);
        col_label = carve.take<double>(nc);
        open_label = carve.take<double>(nc);
        slack = carve.take<double>(nc);
        slack_row = carve.take<double>(nc);
        parent = carve.take<std::size_t>(nc);
        col_match = carve.take<std::size_t>(nc);
        tree_rows = carve.take<std::size_t>(nr);
        tree_cols = carve.take<std::size_t>(nc);
        tight = carve.take<std::uint64_t>(nr * words);
        in_tree = carve.take<std::uint64_t>(words);
        zero = carve.take<std::uint64_t>(words);
        row_state = carve.take<std::uint8_t>(nr);
    }
};

// Whether a row's tight set is up to date: kCurrent and kInTree rows have
// theirs (a row in the current tree is treated apart at a shift), a kStale
// row's must be computed again before use.
enum : std::uint8_t { kCurrent, kInTree, kStale };

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

void start_run(const WeightMatrix& w, const Kernels& k, Work& s, std::size_t* row_match) {
    for (std::size_t r = 0; r < s.nr; ++r) {
        s.row_label[r] = k.largest[w.negated](w.cells + r * s.nc, s.nc);
        row_match[r] = kNone;
    }
    for (std::size_t j = 0; j < s.nc; ++j) {
        s.col_label[j] = 0.0;
        s.open_label[j] = 0.0;
        s.col_match[j] = kNone;
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

void run_general(const WeightMatrix& w, const Kernels& k, Work& s, std::size_t* row_match) {
    const bool neg = w.negated;
    EqualColumns equal{w.equal_cols_from < s.nc ? w.equal_cols_from : s.nc, 0};
    start_run(w, k, s, row_match);
    for (std::size_t root = 0; root < s.nr; ++root) {
        const std::size_t nc = equal.width(s.nc);
        std::size_t rows = 0, cols = 0;
        bool shifted = false;
        s.tree_rows[rows++] = root;
        Pick pick = k.start[neg](w.cells + root * s.nc, s.row_label[root], s.open_label, s.slack,
                                 s.slack_row, static_cast<double>(root), nc);
        std::size_t y;
        for (;;) {
            // With finite weights some column outside the tree always has a
            // finite slack; NaN or infinite weights can leave none.
            if (pick.y == kNone) fail("assignment: no column can be reached from the tree");
            const double delta = pick.delta;
            y = pick.y;
            double shift = 0.0;
            if (delta > 0.0) {
                for (std::size_t i = 0; i < rows; ++i) s.row_label[s.tree_rows[i]] -= delta;
                for (std::size_t i = 0; i < cols; ++i) s.col_label[s.tree_cols[i]] += delta;
                shift = delta;  // the slacks outside the tree follow in the next update
                shifted = true;
            }
            enter_tree(s, y, row_index(s.slack_row[y]));
            s.tree_cols[cols++] = y;
            if (s.col_match[y] == kNone) break;  // reached a free column

            const std::size_t x2 = s.col_match[y];
            s.tree_rows[rows++] = x2;
            pick = k.update[neg](w.cells + x2 * s.nc, s.row_label[x2], s.open_label, s.slack,
                                 s.slack_row, static_cast<double>(x2), shift, nc);
        }
        for (std::size_t i = 0; i < cols; ++i) s.open_label[s.tree_cols[i]] = s.col_label[s.tree_cols[i]];
        const bool direct = y == equal.representative() && s.parent[y] == root;
        augment(s, row_match, y);
        if (y == equal.representative()) ++equal.matched;
        if (direct && !shifted && root >= w.equal_rows_from) {
            root = match_equal_rows(s, equal, row_match, root) - 1;
        }
    }
}

inline void set_bit(std::uint64_t* bits, std::size_t j) { bits[j / 64] |= std::uint64_t{1} << (j % 64); }

// Returns false (having changed nothing the general route reads) when an
// expected positive delta is not positive.
bool run_small_integers(const WeightMatrix& w, const Kernels& k, Work& s, std::size_t* row_match) {
    const std::size_t nr = s.nr, words = s.words;
    const bool neg = w.negated;
    auto row_cells = [&](std::size_t r) { return w.cells + r * s.nc; };
    EqualColumns equal{w.equal_cols_from < s.nc ? w.equal_cols_from : s.nc, 0};

    start_run(w, k, s, row_match);
    std::memset(s.tight, 0, nr * words * sizeof(std::uint64_t));
    std::memset(s.row_state, kCurrent, nr);
    for (std::size_t r = 0; r < nr; ++r) {
        k.tight[neg](row_cells(r), s.row_label[r], s.col_label, s.tight + r * words, equal.width(s.nc));
    }

    for (std::size_t root = 0; root < nr; ++root) {
        const std::size_t nc = equal.width(s.nc);
        std::memset(s.in_tree, 0, words * sizeof(std::uint64_t));
        std::memset(s.zero, 0, words * sizeof(std::uint64_t));
        std::size_t rows = 0;      // tree rows, in the order they joined
        std::size_t applied = 0;   // tree_rows[0, applied) are reflected in slack
        bool shifted = false;

        // A row joins the tree: its tight columns outside the tree that have
        // no slack 0 yet get slack 0 with this row as their slack row.
        auto add_row = [&](std::size_t x) {
            s.tree_rows[rows++] = x;
            std::uint64_t* t = s.tight + x * words;
            if (s.row_state[x] == kStale) {
                std::memset(t, 0, words * sizeof(std::uint64_t));
                k.tight[neg](row_cells(x), s.row_label[x], s.col_label, t, nc);
            }
            s.row_state[x] = kInTree;
            for (std::size_t q = 0; q < words; ++q) {
                std::uint64_t fresh = t[q] & ~s.in_tree[q] & ~s.zero[q];
                s.zero[q] |= fresh;
                for (; fresh != 0; fresh &= fresh - 1) {
                    s.slack_row[q * 64 + static_cast<std::size_t>(std::countr_zero(fresh))] =
                        static_cast<double>(x);
                }
            }
        };
        add_row(root);

        std::size_t y;
        for (;;) {
            std::size_t q = 0;
            while (q < words && s.zero[q] == 0) ++q;
            if (q == words) {
                // No slack 0 is left: apply the deferred rows in joining order
                // and shift the labels by the least slack. A row joins after
                // every pick but the last, so some row is deferred here.
                if (applied == rows) return false;
                Pick pick{kInf, kNone};
                for (std::size_t i = applied; i < rows; ++i) {
                    const std::size_t x = s.tree_rows[i];
                    pick = i == 0 ? k.start[neg](row_cells(x), s.row_label[x], s.open_label, s.slack,
                                                 s.slack_row, static_cast<double>(x), nc)
                                  : k.update[neg](row_cells(x), s.row_label[x], s.open_label, s.slack,
                                                  s.slack_row, static_cast<double>(x), 0.0, nc);
                }
                applied = rows;
                if (pick.y == kNone || !(pick.delta > 0.0)) return false;
                const double delta = pick.delta;
                shifted = true;
                for (std::size_t i = 0; i < rows; ++i) s.row_label[s.tree_rows[i]] -= delta;
                for (std::size_t p = 0; p < words; ++p) {
                    for (std::uint64_t b = s.in_tree[p]; b != 0; b &= b - 1) {
                        s.col_label[p * 64 + static_cast<std::size_t>(std::countr_zero(b))] += delta;
                    }
                }
                k.shift(s.slack, delta, s.zero, nc);
                // Tight sets after the shift: a row outside the tree loses the
                // tree columns, whose labels rose; a tree row may become tight
                // wherever a slack fell to 0 and is scanned again when it next
                // joins a tree.
                for (std::size_t r = 0; r < nr; ++r) {
                    if (s.row_state[r] != kCurrent) continue;
                    std::uint64_t* t = s.tight + r * words;
                    for (std::size_t p = 0; p < words; ++p) t[p] &= ~s.in_tree[p];
                }
                for (std::size_t i = 0; i < rows; ++i) s.row_state[s.tree_rows[i]] = kStale;
                continue;
            }
            y = q * 64 + static_cast<std::size_t>(std::countr_zero(s.zero[q]));
            s.zero[q] &= s.zero[q] - 1;
            set_bit(s.in_tree, y);
            enter_tree(s, y, row_index(s.slack_row[y]));
            if (s.col_match[y] == kNone) break;  // reached a free column
            add_row(s.col_match[y]);
        }

        for (std::size_t i = 0; i < rows; ++i) {
            if (s.row_state[s.tree_rows[i]] == kInTree) s.row_state[s.tree_rows[i]] = kCurrent;
        }
        for (std::size_t p = 0; p < words; ++p) {
            for (std::uint64_t b = s.in_tree[p]; b != 0; b &= b - 1) {
                const std::size_t j = p * 64 + static_cast<std::size_t>(std::countr_zero(b));
                s.open_label[j] = s.col_label[j];
            }
        }
        const bool direct = y == equal.representative() && s.parent[y] == root;
        augment(s, row_match, y);
        const std::size_t before = equal.width(s.nc);
        if (y == equal.representative()) ++equal.matched;
        if (direct && !shifted && root >= w.equal_rows_from) {
            root = match_equal_rows(s, equal, row_match, root) - 1;
        }
        // Columns that came into view: tight sets of the rows that keep
        // theirs gain them where the reduced cost is 0.
        for (std::size_t j = before; root + 1 < nr && j < equal.width(s.nc); ++j) {
            for (std::size_t r = 0; r < nr; ++r) {
                if (s.row_state[r] != kCurrent) continue;
                const double c = w.cells[r * s.nc + j];
                if (s.row_label[r] + s.col_label[j] == (neg ? -c : c)) set_bit(s.tight + r * words, j);
            }
        }
    }
    return true;
}

void check_all_matched(const std::size_t* row_match, std::size_t nr) {
    for (std::size_t r = 0; r < nr; ++r) {
        if (row_match[r] == kNone) fail("assignment: a row was left without a column");
    }
}

}  // namespace

bool isa_available(Isa isa) noexcept {
    switch (isa) {
        case Isa::portable:
        case Isa::best: return true;
        case Isa::avx2: return __builtin_cpu_supports("avx2");
        case Isa::avx512: return __builtin_cpu_supports("avx512f");
    }
    return false;
}

WeightClass classify_weights(const double* cells, std::size_t count) noexcept {
    // x + 1.5 * 2^52 rounds x to an integer when |x| <= 2^51, so subtracting
    // the constant again gives x back exactly when x is an integer.
    constexpr double kRound = 6755399441055744.0;
    bool finite = true, small = true;
    for (std::size_t i = 0; i < count; ++i) {
        const double c = cells[i];
        finite &= std::isfinite(c);
        small &= (c >= -kSmallIntegerBound) & (c <= kSmallIntegerBound) & ((c + kRound) - kRound == c);
    }
    if (small) return WeightClass::small_integers;
    return finite ? WeightClass::finite : WeightClass::unknown;
}

void optimal_assignment_into(const WeightMatrix& w, WeightClass known, std::size_t* column,
                             const AssignmentOptions& options) {
    if (w.rows > w.cols) fail("number of rows must not be larger than number of columns");
    if (w.rows == 0) return;

    Route route = options.route;
    if (route == Route::automatic) {
        if (known == WeightClass::unknown) known = classify_weights(w.cells, w.rows * w.cols);
        route = known == WeightClass::small_integers ? Route::small_integers
                : known == WeightClass::finite       ? Route::general
                                                     : Route::reference;
    }

    if (route == Route::reference) {
        std::vector<double> weights(w.cells, w.cells + w.rows * w.cols);
        if (w.negated) {
            for (double& v : weights) v = -v;
        }
        const std::vector<std::size_t> result = reference_assignment(weights.data(), w.rows, w.cols);
        std::memcpy(column, result.data(), w.rows * sizeof(std::size_t));
        return;
    }

    const Kernels& k = kernels_for(options.isa);
    Scratch scratch(Scratch::kWork, Work::bytes(w.rows, w.cols));
    Work work(scratch.data(), w.rows, w.cols);
    if (route != Route::small_integers || !run_small_integers(w, k, work, column)) {
        run_general(w, k, work, column);
    }
    check_all_matched(column, w.rows);
}

std::vector<std::size_t> optimal_assignment(const double* w, std::size_t nr, std::size_t nc) {
    std::vector<std::size_t> column(nr);
    optimal_assignment_into(WeightMatrix{w, nr, nc, false}, WeightClass::unknown, column.data());
    return column;
}

}  // namespace tavelin
