#include "cost/slot_sets.hpp"

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

TeamSlotTable::TeamSlotTable(const StridedMatrix& x, std::size_t teams, std::size_t words, std::size_t limit,
                             bool ignore_beyond, std::byte* block)
    : words_(words) {
    Carver carve(block);
    bits_ = carve.take<std::uint64_t>(teams * words);
    fits_ = carve.take<std::uint8_t>(teams);
    std::fill(bits_, bits_ + teams * words, std::uint64_t{0});
    std::fill(fits_, fits_ + teams, std::uint8_t{1});
    const double top = static_cast<double>(limit);
    for (std::size_t i = 0; i < teams; ++i) {
        auto address = reinterpret_cast<std::uintptr_t>(x.address(i, 0));
        const auto step = static_cast<std::uintptr_t>(x.col_stride);
        std::uint64_t* const row_bits = bits_ + i * words;
        for (std::size_t j = 0; j < teams; ++j, address += step) {
            double v;
            std::memcpy(&v, reinterpret_cast<const char*>(address), sizeof v);
            if (v == kUnscheduled) continue;
            if (v >= 0.0 && v < top) {
                // The limit is at most 2^16: int64 holds the slot exactly.
                const auto t = static_cast<std::int64_t>(v);
                if (static_cast<double>(t) == v) {
                    const std::size_t bit = static_cast<std::size_t>(t) + kSlotBias;
                    const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
                    row_bits[bit / 64] |= mask;
                    bits_[j * words + bit / 64] |= mask;
                    continue;
                }
            } else if (v != v || (ignore_beyond && v >= top)) {
                continue;  // NaN takes part in no test; the caller looks below the limit only
            }
            fits_[i] = fits_[j] = 0;
        }
    }
}

}  // namespace tavelin
