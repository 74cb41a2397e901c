// The used slots of teams as bit sets, for the whole-slot cost builder
// (whole_slots.cpp): slot t is bit t + kSlotBias, with clear words around
// the slots so that a window of 64 bits on either side of any slot can be
// read.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cost/platform.hpp"
#include "cost/scratch.hpp"
#include "cost/strided_matrix.hpp"
#include "cost/team_slots.hpp"

namespace tavelin {

inline constexpr std::size_t kSlotLimit = std::size_t{1} << 16;
inline constexpr std::size_t kSlotBias = 64;

// Whether v is a whole number in [0, limit); limit is far below 2^63.
inline bool whole_below(double v, std::size_t limit) {
    return v >= 0.0 && v < static_cast<double>(limit) && v == static_cast<double>(static_cast<std::int64_t>(v));
}

// One team's used slots: bits[first, last] are the words that may hold
// bits; every other word that a window reads is clear.
struct SlotSet {
    const std::uint64_t* bits = nullptr;
    std::size_t first = 1, last = 0;  // first > last: no slot

    bool has(std::size_t v) const { return ((bits[(v + kSlotBias) / 64] >> ((v + kSlotBias) % 64)) & 1) != 0; }

    // Bits i ... i + 63 as one word.
    std::uint64_t window(std::size_t i) const {
        const std::size_t q = i / 64, r = i % 64;
        // (x << 1) << (63 - r) is x << (64 - r), and 0 for r == 0.
        return (bits[q] >> r) | ((bits[q + 1] << 1) << (63 - r));
    }
    // Slots v + 1 ... v + 64: bit k stands for slot v + 1 + k.
    std::uint64_t after(std::size_t v) const { return window(v + 1 + kSlotBias); }
    // Slots v - 64 ... v - 1: bit k stands for slot v - 64 + k.
    std::uint64_t before(std::size_t v) const { return window(v - 64 + kSlotBias); }

    // The least used slot above v, if any.
    bool above(std::size_t v, std::size_t& t) const {
        std::size_t q = (v + 1 + kSlotBias) / 64;
        if (q > last) return false;
        std::uint64_t word = bits[q] & (~std::uint64_t{0} << ((v + 1 + kSlotBias) % 64));
        while (word == 0) {
            if (++q > last) return false;
            word = bits[q];
        }
        t = q * 64 + static_cast<std::size_t>(std::countr_zero(word)) - kSlotBias;
        return true;
    }

    // The greatest used slot below v, if any.
    bool below(std::size_t v, std::size_t& t) const {
        const std::size_t from = v - 1 + kSlotBias;
        std::size_t q = from / 64;
        if (q < first || first > last) return false;
        std::uint64_t word = bits[q] & (~std::uint64_t{0} >> (63 - from % 64));
        while (word == 0) {
            if (q-- == first) return false;
            word = bits[q];
        }
        t = q * 64 + 63 - static_cast<std::size_t>(std::countl_zero(word)) - kSlotBias;
        return true;
    }
};

// The used slots of one team at a time, in a bit set over [0, kSlotLimit)
// of the thread's (the builder runs no Python code and calls no other
// builder, so one set per thread serves every call).
class UsedSlots {
public:
    UsedSlots();
    UsedSlots(const UsedSlots&) = delete;
    UsedSlots& operator=(const UsedSlots&) = delete;
    ~UsedSlots() { clear(); }

    // Marks the used slots of team t (row t, then column t of X; 9999.0 is
    // no slot, NaN takes part in no test). Returns false as soon as a used
    // slot is neither NaN nor whole in [0, kSlotLimit). Indices are valid.
    bool mark(const StridedMatrix& x, std::size_t t);
    void clear();
    const SlotSet& set() const { return set_; }

private:
    bool add_all(const char* first, std::ptrdiff_t stride, std::size_t count);

    std::uint64_t* bits_;
    SlotSet set_;
};

// The used slots of every team of a square X, read in one pass over X:
// element [i][j] is a slot of team i (its row) and of team j (its column).
// Each team gets a bit set over the slots [0, limit). A used slot that is
// not whole, or negative, leaves its teams to the per-team path (fits
// false); so does one at or above the limit unless `ignore_beyond`, when
// the caller only looks at slots below the limit.
class TeamSlotTable {
public:
    // Past this many words in all, the per-team path is used instead.
    static constexpr std::size_t kMaxWords = std::size_t{1} << 16;

    // The words per team for slots [0, limit); 0 when too large.
    static std::size_t words_for(std::size_t teams, std::size_t limit) {
        const std::size_t words = (limit + kSlotBias + 63) / 64 + 1;  // and a clear word above
        return teams > 0 && limit <= kSlotLimit && words <= kMaxWords / teams ? words : 0;
    }

    static std::size_t bytes(std::size_t teams, std::size_t words) {
        return Carver::bytes<std::uint64_t>(teams * words) + Carver::bytes<std::uint8_t>(teams);
    }

    // `x` is square with `teams` rows; `words` from words_for(teams, limit).
    // `isa` as for optimal_assignment_into (Isa::best: the widest the
    // processor runs); every route sets the same bits.
    TeamSlotTable(const StridedMatrix& x, std::size_t teams, std::size_t words, std::size_t limit,
                  bool ignore_beyond, std::byte* block, Isa isa = Isa::best);

    bool fits(std::size_t t) const { return fits_[t] != 0; }
    SlotSet set(std::size_t t) const { return SlotSet{bits_ + t * words_, 0, words_ - 1}; }

private:
    std::size_t words_;
    std::uint64_t* bits_;
    std::uint8_t* fits_;
};

}  // namespace tavelin
