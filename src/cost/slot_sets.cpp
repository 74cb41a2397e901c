#include "cost/slot_sets.hpp"

#include <bit>
#include <cstring>

#include "cost/slot_rows.hpp"

namespace tavelin {
namespace {

constexpr std::size_t kSlotWords = kSlotLimit / 64;

// A bit per slot in [0, kSlotLimit) at bit t + kSlotBias, with clear words
// around them. Every bit is clear outside a use, and a use clears what it
// set.
thread_local std::uint64_t t_slot_words[kSlotWords + 3];

}  // namespace

UsedSlots::UsedSlots() : bits_(t_slot_words) { set_.bits = bits_; }

bool UsedSlots::mark(const StridedMatrix& x, std::size_t t) {
    clear();
    return add_all(x.address(t, 0), x.col_stride, x.cols) && add_all(x.address(0, t), x.row_stride, x.rows);
}

void UsedSlots::clear() {
    if (set_.first <= set_.last) std::fill(bits_ + set_.first, bits_ + set_.last + 1, std::uint64_t{0});
    set_.first = 1;
    set_.last = 0;
}

// Adds `count` elements from `first` on, `stride` bytes apart. The
// addresses are stepped in wrap-around integer arithmetic, like
// StridedMatrix::address, and only those of elements are read.
bool UsedSlots::add_all(const char* first, std::ptrdiff_t stride, std::size_t count) {
    auto address = reinterpret_cast<std::uintptr_t>(first);
    const auto step = static_cast<std::uintptr_t>(stride);
    for (std::size_t i = 0; i < count; ++i, address += step) {
        double v;
        std::memcpy(&v, reinterpret_cast<const char*>(address), sizeof v);
        if (v == kUnscheduled || v != v) continue;
        if (!whole_below(v, kSlotLimit)) return false;
        const std::size_t bit = static_cast<std::size_t>(v) + kSlotBias, word = bit / 64;
        bits_[word] |= std::uint64_t{1} << (bit % 64);
        if (set_.first > set_.last) {
            set_.first = set_.last = word;
        } else {
            set_.first = word < set_.first ? word : set_.first;
            set_.last = word > set_.last ? word : set_.last;
        }
    }
    return true;
}

namespace {

// Reads rows of X into a TeamSlotTable's bits and fits flags, in one of two
// ways that set the same bits: a slot in row i, column j is set in team i's
// set and in team j's.
class RowReader {
public:
    RowReader(const StridedMatrix& x, std::size_t teams, std::size_t words, std::size_t limit, bool ignore_beyond,
              std::uint64_t* bits, std::uint8_t* fits)
        : x_(x),
          teams_(teams),
          words_(words),
          top_(static_cast<double>(limit)),
          below_top_(limit > 0 ? static_cast<double>(limit) - 1.0 : 0.0),  // the limit is at most 2^16: exact
          ignore_beyond_(ignore_beyond),
          bits_(bits),
          fits_(fits) {}

    // With a branch per cell. Returns how many cells hold a slot.
    std::size_t branching(std::size_t i) const {
        std::size_t slots = 0;
        each_cell(i, [&](std::size_t j, double v) {
            if (v == kUnscheduled) return;
            if (v >= 0.0 && v < top_) {
                // The limit is at most 2^16: int64 holds the slot exactly.
                const auto t = static_cast<std::int64_t>(v);
                if (static_cast<double>(t) == v) {
                    mark(i, j, t, 1);
                    ++slots;
                    return;
                }
            } else if (v != v || (ignore_beyond_ && v >= top_)) {
                return;  // NaN takes part in no test; the caller looks below the limit only
            }
            fits_[i] = fits_[j] = 0;
        });
        return slots;
    }

    // Without a branch on the values, for rows where games and empty cells
    // mix: there the branch above follows no pattern a predictor learns,
    // and a mispredicted branch per cell costs more than the few operations
    // done here for every cell. The value is clamped into range before its
    // conversion (NaN to 0); it is a slot when converting back gives the
    // same number (-0.0 made +0.0 first, as it is slot 0) and it is not
    // 9999.0. A row with any other value is read again by branching(),
    // which knows the rest of the rules; the bits it sets again are the same.
    std::size_t flat(std::size_t i) const {
        const std::uint64_t marker = std::bit_cast<std::uint64_t>(kUnscheduled);
        std::size_t slots = 0, others = 0;
        each_cell(i, [&](std::size_t j, double v) {
            const auto t = static_cast<std::int64_t>(std::min(std::max(0.0, v), below_top_));
            const auto value = std::bit_cast<std::uint64_t>(v + 0.0);
            const bool unscheduled = value == marker;
            const bool slot = (std::bit_cast<std::uint64_t>(static_cast<double>(t)) == value) & !unscheduled;
            mark(i, j, t, slot);
            slots += slot;
            others += !(slot | unscheduled);
        });
        return others != 0 ? branching(i) : slots;
    }

private:
    template <class F>
    void each_cell(std::size_t i, F&& f) const {
        auto address = reinterpret_cast<std::uintptr_t>(x_.address(i, 0));
        const auto step = static_cast<std::uintptr_t>(x_.col_stride);
        for (std::size_t j = 0; j < teams_; ++j, address += step) {
            double v;
            std::memcpy(&v, reinterpret_cast<const char*>(address), sizeof v);
            f(j, v);
        }
    }

    // Slot t (0 <= t < limit) in the sets of teams i and j when `on` is 1.
    void mark(std::size_t i, std::size_t j, std::int64_t t, std::uint64_t on) const {
        const std::size_t bit = static_cast<std::size_t>(t) + kSlotBias;
        const std::uint64_t mask = on << (bit % 64);
        bits_[i * words_ + bit / 64] |= mask;
        bits_[j * words_ + bit / 64] |= mask;
    }

    const StridedMatrix& x_;
    std::size_t teams_, words_;
    double top_, below_top_;
    bool ignore_beyond_;
    std::uint64_t* bits_;
    std::uint8_t* fits_;
};

// From this many teams on, rows whose cells lie next to each other are
// sorted by a route (at least as many cells as the widest vector holds):
// below it, the few cells of a row take less time than the route's code
// takes to be fetched when a call finds it out of the caches. At 20 teams
// the two ways take the same time with the caches cold, and the route 3 to
// 5 % less per solve in calls one after another; at 10 and 15 teams it was
// slower with the caches cold.
constexpr std::size_t kSortFrom = 16;

void read_sorted(const RowScan& scan, std::uint8_t* fits, Isa isa);

}  // namespace

TeamSlotTable::TeamSlotTable(const StridedMatrix& x, std::size_t teams, std::size_t words, std::size_t limit,
                             bool ignore_beyond, std::byte* block, Isa isa)
    : words_(words) {
    Carver carve(block);
    bits_ = carve.take<std::uint64_t>(teams * words);
    fits_ = carve.take<std::uint8_t>(teams);
    std::fill(bits_, bits_ + teams * words, std::uint64_t{0});
    std::fill(fits_, fits_ + teams, std::uint8_t{1});
    if (teams >= kSortFrom && x.col_stride == static_cast<std::ptrdiff_t>(sizeof(double))) {
        read_sorted({x, teams, words, limit, ignore_beyond, bits_}, fits_, isa);
        return;
    }
    const RowReader reader(x, teams, words, limit, ignore_beyond, bits_, fits_);
    // Each row is read the way that suits the row before it: with a branch
    // per cell when nearly all cells or nearly none held a game (the branch
    // is then predicted), without one otherwise.
    bool mixed = false;
    for (std::size_t i = 0; i < teams; ++i) {
        const std::size_t slots = mixed ? reader.flat(i) : reader.branching(i);
        mixed = slots * 8 > teams && slots * 8 < teams * 7;
    }
}

namespace {

// Reads every row of a large X with contiguous rows (see kSortFrom). Out of
// line, so that the table of a small X is built by the same compact code as
// ever, and this code is only fetched when it is used.
TAVELIN_OUT_OF_LINE void read_sorted(const RowScan& scan, std::uint8_t* fits, Isa isa) {
    const RowReader reader(scan.x, scan.teams, scan.words, scan.limit, scan.ignore_beyond, scan.bits, fits);
    const RowSorter sort_row = row_sorter(isa);
    // A row that holds nearly no game is read cell by cell: the test of each
    // cell is then predicted and costs less than sorting the row. The row
    // before tells which kind to expect; the first row is read cell by
    // cell, so that an empty X never needs the route's code.
    bool sparse = true;
    for (std::size_t i = 0; i < scan.teams; ++i) {
        std::size_t slots = sparse ? kUnsorted : sort_row(scan, i);
        if (slots == kUnsorted) slots = reader.branching(i);  // sets the bits the route may have set again
        sparse = slots * 8 < scan.teams;
    }
}

}  // namespace
}  // namespace tavelin
