#include "cost/slot_sets.hpp"

#include <bit>

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

// What reading one row of X needs: the limit as a double and one below it,
// and whether values at or above the limit are skipped.
struct RowReader {
    double top;
    double below_top;
    bool ignore_beyond;
};

// Reads row i of X into the table with a branch per cell. Returns how many
// cells hold a slot.
std::size_t read_row_branching(const RowReader& r, const StridedMatrix& x, std::size_t i, std::size_t teams,
                               std::size_t words, std::uint64_t* bits, std::uint8_t* fits) {
    auto address = reinterpret_cast<std::uintptr_t>(x.address(i, 0));
    const auto step = static_cast<std::uintptr_t>(x.col_stride);
    std::uint64_t* const row_bits = bits + i * words;
    std::size_t slots = 0;
    for (std::size_t j = 0; j < teams; ++j, address += step) {
        double v;
        std::memcpy(&v, reinterpret_cast<const char*>(address), sizeof v);
        if (v == kUnscheduled) continue;
        if (v >= 0.0 && v < r.top) {
            // The limit is at most 2^16: int64 holds the slot exactly.
            const auto t = static_cast<std::int64_t>(v);
            if (static_cast<double>(t) == v) {
                const std::size_t bit = static_cast<std::size_t>(t) + kSlotBias;
                const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
                row_bits[bit / 64] |= mask;
                bits[j * words + bit / 64] |= mask;
                ++slots;
                continue;
            }
        } else if (v != v || (r.ignore_beyond && v >= r.top)) {
            continue;  // NaN takes part in no test; the caller looks below the limit only
        }
        fits[i] = fits[j] = 0;
    }
    return slots;
}

// The same without a branch on the values, for rows where games and empty
// cells mix: there the branch above follows no pattern a predictor learns,
// and a mispredicted branch per cell costs more than the few operations
// done here for every cell. The value is clamped into range before its
// conversion (NaN to 0); it is a slot when converting back gives the same
// number (-0.0 made +0.0 first, as it is slot 0) and it is not 9999.0.
// A row with any other value is read again by read_row_branching, which
// knows the rest of the rules; the bits it sets again are the same.
std::size_t read_row_flat(const RowReader& r, const StridedMatrix& x, std::size_t i, std::size_t teams,
                          std::size_t words, std::uint64_t* bits, std::uint8_t* fits) {
    auto address = reinterpret_cast<std::uintptr_t>(x.address(i, 0));
    const auto step = static_cast<std::uintptr_t>(x.col_stride);
    std::uint64_t* const row_bits = bits + i * words;
    const std::uint64_t marker = std::bit_cast<std::uint64_t>(kUnscheduled);
    std::size_t slots = 0, others = 0;
    for (std::size_t j = 0; j < teams; ++j, address += step) {
        double v;
        std::memcpy(&v, reinterpret_cast<const char*>(address), sizeof v);
        const auto t = static_cast<std::int64_t>(std::min(std::max(0.0, v), r.below_top));
        const auto value = std::bit_cast<std::uint64_t>(v + 0.0);
        const bool unscheduled = value == marker;
        const bool slot = (std::bit_cast<std::uint64_t>(static_cast<double>(t)) == value) & !unscheduled;
        const std::size_t bit = static_cast<std::size_t>(t) + kSlotBias;
        const std::uint64_t mask = std::uint64_t{slot} << (bit % 64);
        row_bits[bit / 64] |= mask;
        bits[j * words + bit / 64] |= mask;
        slots += slot;
        others += !(slot | unscheduled);
    }
    if (others != 0) return read_row_branching(r, x, i, teams, words, bits, fits);
    return slots;
}

}  // namespace

TeamSlotTable::TeamSlotTable(const StridedMatrix& x, std::size_t teams, std::size_t words, std::size_t limit,
                             bool ignore_beyond, std::byte* block)
    : words_(words) {
    Carver carve(block);
    bits_ = carve.take<std::uint64_t>(teams * words);
    fits_ = carve.take<std::uint8_t>(teams);
    std::fill(bits_, bits_ + teams * words, std::uint64_t{0});
    std::fill(fits_, fits_ + teams, std::uint8_t{1});
    const double top = static_cast<double>(limit);
    const RowReader reader{top, limit > 0 ? top - 1.0 : 0.0, ignore_beyond};  // the limit is at most 2^16: exact
    // Each row is read the way that suits the row before it: with a branch
    // per cell when nearly all cells or nearly none held a game (the branch
    // is then predicted), without one otherwise. Both set the same bits.
    bool mixed = false;
    for (std::size_t i = 0; i < teams; ++i) {
        const std::size_t slots = mixed ? read_row_flat(reader, x, i, teams, words, bits_, fits_)
                                        : read_row_branching(reader, x, i, teams, words, bits_, fits_);
        mixed = slots * 8 > teams && slots * 8 < teams * 7;
    }
}

}  // namespace tavelin
