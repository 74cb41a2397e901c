// Maximum-weight assignment of rows to columns (Kuhn-Munkres, O(n^3)).
//
// Every route below returns the same matching, bit for bit, as the plain
// scalar routine `reference_assignment`: the same scan orders, the same
// strict comparisons and, where rounding can occur, the same IEEE double
// operations in the same order. Only the amount of work differs.
#pragma once

#include <cstddef>
#include <vector>

#include "cost/platform.hpp"

namespace tavelin {

// Gives every row of the nr x nc row-major weight matrix `w` a column of its
// own so that the sum of the chosen weights is largest, and returns the column
// of each row. Ties are decided by the fixed scan orders and strict
// comparisons of the routine, so equal inputs always give equal matchings.
// Fails with "number of rows must not be larger than number of columns" when
// nr > nc. Weights should be finite; NaN or infinite weights end the call,
// with a matching or with an internal failure.
std::vector<std::size_t> optimal_assignment(const double* w, std::size_t nr, std::size_t nc);

// The same routine written out step by step, scalar, one pass per step:
// slower, and kept as the yardstick every faster route is tested against.
std::vector<std::size_t> reference_assignment(const double* w, std::size_t nr, std::size_t nc);

// Weights given as a row-major matrix of cells: weight (r, c) is
// cells[r * cols + c], or -cells[r * cols + c] when `negated` (a cost matrix
// is maximised without forming its negation; x - (-y) and x + y are the same
// IEEE operation, so nothing changes in the arithmetic).
//
// Optionally the caller vouches for two blocks of repeated weights, which
// let the routine skip work without changing its result: every row from
// `equal_rows_from` on holds the same weights as every other such row, and in
// every row the columns from `equal_cols_from` on hold one and the same
// weight (equal bit for bit in both cases). kNoBlock: no such block.
inline constexpr std::size_t kNoBlock = static_cast<std::size_t>(-1);

//
// Rows are contiguous (row r starts at cells + r * cols) unless
// `padded_stride` is set: then row r starts at cells + r * padded_stride,
// padded_stride is at least cols rounded up to a multiple of 8, and every row
// can be read up to that width, the cells past cols holding finite values.
// The fast routes scan whole vectors of columns and copy other matrices
// into that form first.
//
// With `shared_equal_rows` the block of equal rows is stored once: every row
// from equal_rows_from on is read from row equal_rows_from.
struct WeightMatrix {
    const double* cells = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
    bool negated = false;
    std::size_t equal_rows_from = kNoBlock;
    std::size_t equal_cols_from = kNoBlock;
    std::size_t padded_stride = 0;
    bool shared_equal_rows = false;
};

// The row stride of a padded matrix of `cols` columns.
constexpr std::size_t padded_stride_for(std::size_t cols) noexcept { return (cols + 7) / 8 * 8; }

// What the caller knows of the weights.
enum class WeightClass {
    unknown,         // anything, NaN and infinities included
    finite,          // every weight finite
    small_integers,  // every weight an integer with |w| <= kSmallIntegerBound
};

// 2^50. With integer weights of at most this magnitude every value the
// routine computes is an integer below 2^53 in magnitude (see assignment.cpp),
// so double arithmetic is exact and the order of operations is free.
inline constexpr double kSmallIntegerBound = 1125899906842624.0;

// Whether c is an integer of magnitude at most kSmallIntegerBound. Branch-free:
// x + 1.5 * 2^52 rounds x to an integer when |x| <= 2^51, so subtracting the
// constant again gives x back exactly when x is an integer.
constexpr bool is_small_integer(double c) noexcept {
    constexpr double kRound = 6755399441055744.0;
    return (c >= -kSmallIntegerBound) & (c <= kSmallIntegerBound) & ((c + kRound) - kRound == c);
}

// The class of `count` weights (cells of either sign convention).
WeightClass classify_weights(const double* cells, std::size_t count) noexcept;

// Which implementation runs: `automatic` picks the fastest one that is exact
// for the weight class; the others exist so that tests can compare them.
// `placement` is the route of HomeGames (placement.hpp) where it applies,
// automatic elsewhere.
enum class Route { automatic, reference, general, small_integers, placement };
// A forced isa must be one that isa_available() reports.
struct AssignmentOptions {
    Route route = Route::automatic;
    Isa isa = Isa::best;
};

// Writes the column of each row to column[0 .. w.rows). `known` must be true
// of the weights. Fails like optimal_assignment. Forcing the small-integer
// route on other weights is a caller error.
void optimal_assignment_into(const WeightMatrix& w, WeightClass known, std::size_t* column,
                             const AssignmentOptions& options = {});

}  // namespace tavelin
