// The assignment routine exactly as it is defined, one step at a time: pick
// the column, shift the labels, grow the tree, update the slacks. Nothing is
// folded or skipped; the fast routes in assignment.cpp must match it.
#include <bit>
#include <cstdint>
#include <limits>

#include "assign/assignment.hpp"
#include "surface/failure.hpp"

namespace tavelin {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// The rows of the alternating tree as a bit set of 32-bit words.
class RowSet {
public:
    explicit RowSet(std::size_t n) : words_((n + 31) / 32, 0) {}

    void clear() noexcept {
        for (std::uint32_t& word : words_) word = 0;
    }

    void insert(std::size_t row) noexcept { words_[row / 32] |= std::uint32_t{1} << (row % 32); }

    // Calls f(row) for every member, in ascending order.
    template <class F>
    void for_each(F&& f) const {
        for (std::size_t w = 0; w < words_.size(); ++w) {
            for (std::uint32_t bits = words_[w]; bits != 0; bits &= bits - 1) {
                f(w * 32 + static_cast<std::size_t>(std::countr_zero(bits)));
            }
        }
    }

private:
    std::vector<std::uint32_t> words_;
};

}  // namespace

std::vector<std::size_t> reference_assignment(const double* w, std::size_t nr, std::size_t nc) {
    if (nr > nc) refuse("number of rows must not be larger than number of columns");
    if (nr == 0) return {};

    auto weight = [w, nc](std::size_t row, std::size_t col) { return w[row * nc + col]; };

    // Row labels start at the row's largest weight, found left to right;
    // column labels at 0.0.
    std::vector<double> row_label(nr);
    for (std::size_t r = 0; r < nr; ++r) {
        double largest = weight(r, 0);
        for (std::size_t j = 1; j < nc; ++j) {
            if (weight(r, j) > largest) largest = weight(r, j);
        }
        row_label[r] = largest;
    }
    std::vector<double> col_label(nc, 0.0);
    std::vector<std::size_t> row_match(nr, kNone);
    std::vector<std::size_t> col_match(nc, kNone);

    RowSet tree_rows(nr);
    std::vector<std::size_t> parent(nc);  // kNone: the column is outside the tree
    std::vector<double> slack(nc);
    std::vector<std::size_t> slack_row(nc);

    for (std::size_t root = 0; root < nr; ++root) {
        for (std::size_t& p : parent) p = kNone;
        tree_rows.clear();
        tree_rows.insert(root);
        for (std::size_t j = 0; j < nc; ++j) {
            slack[j] = (row_label[root] + col_label[j]) - weight(root, j);
            slack_row[j] = root;
        }

        std::size_t y;
        for (;;) {
            // The least slack outside the tree; the lowest index among equals.
            double delta = std::numeric_limits<double>::infinity();
            std::size_t x = 0;
            y = kNone;
            for (std::size_t j = 0; j < nc; ++j) {
                if (parent[j] == kNone && slack[j] < delta) {
                    delta = slack[j];
                    x = slack_row[j];
                    y = j;
                }
            }
            // With finite weights some column outside the tree always has a
            // finite slack; NaN or infinite weights can leave none.
            if (y == kNone) fail("assignment: no column can be reached from the tree");

            if (delta > 0.0) {
                tree_rows.for_each([&](std::size_t r) { row_label[r] -= delta; });
                for (std::size_t j = 0; j < nc; ++j) {
                    if (parent[j] != kNone) {
                        col_label[j] += delta;
                    } else {
                        slack[j] -= delta;
                    }
                }
            }
            parent[y] = x;
            if (col_match[y] == kNone) break;  // reached a free column

            const std::size_t x2 = col_match[y];
            tree_rows.insert(x2);
            for (std::size_t j = 0; j < nc; ++j) {
                if (parent[j] != kNone) continue;
                const double a = (row_label[x2] + col_label[j]) - weight(x2, j);
                if (slack[j] > a) {
                    slack[j] = a;
                    slack_row[j] = x2;
                }
            }
        }

        // Augment along the tree path that ends in column y. Every step moves
        // to a column that entered the tree earlier, so at most nr steps.
        for (std::size_t steps = 0;; ++steps) {
            if (steps == nr) fail("assignment: augmenting path does not end");
            const std::size_t row = parent[y];
            const std::size_t next = row_match[row];
            col_match[y] = row;
            row_match[row] = y;
            if (next == kNone) break;
            y = next;
        }
    }

    for (const std::size_t col : row_match) {
        if (col == kNone) fail("assignment: a row was left without a column");
    }
    return row_match;
}

}  // namespace tavelin
