// The penalty of a gap between two games of one team.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <span>

#include "cost/numeric.hpp"

namespace tavelin {

// The penalty table: one signed 64-bit penalty per gap from 0 to max_gap,
// zero for gaps the caller gave no penalty, and 0 for every larger gap. It is
// indexed by the largest gap key, which the caller chooses freely, so it can
// be huge and nearly empty: calloc hands out such a table as untouched zero
// pages instead of writing every entry, and reports a table that cannot be
// had as std::bad_alloc. (A throwing operator new would also report it, but
// under AddressSanitizer a failed operator new ends the process instead.)
class GapPenalties {
public:
    // A table of one entry, 0: no gap costs anything.
    GapPenalties() : GapPenalties(1) {}

    // max_gap + 1 = `entries` zeros. Throws std::bad_alloc.
    explicit GapPenalties(std::size_t entries)
        : entries_(static_cast<std::int64_t*>(std::calloc(entries == 0 ? 1 : entries, sizeof(std::int64_t)))),
          size_(entries == 0 ? 1 : entries) {
        if (entries_ == nullptr) throw std::bad_alloc();
    }

    // A copy of `table` (at least one entry; an empty one stands for {0}).
    explicit GapPenalties(std::span<const std::int64_t> table) : GapPenalties(table.size()) {
        for (std::size_t gap = 0; gap < table.size(); ++gap) entries_[gap] = table[gap];
    }

    std::int64_t& operator[](std::size_t gap) noexcept { return entries_[gap]; }
    std::uint64_t max_gap() const noexcept { return size_ - 1; }

    // The penalty of a whole gap.
    std::int64_t at(std::uint64_t gap) const noexcept { return gap < size_ ? entries_[gap] : 0; }

    // The penalty of a gap d: 0 for no gap (+infinity); otherwise d truncated
    // toward zero (saturating) is the index, and an index past max_gap costs 0.
    std::int64_t of_gap(double d) const noexcept {
        return d == std::numeric_limits<double>::infinity() ? 0 : at(saturating_to_u64(d));
    }

    // The penalties of a slot's forward and backward gaps, added with
    // wrap-around.
    std::int64_t of_gaps(double forward, double backward) const noexcept {
        return wrapping_add(of_gap(forward), of_gap(backward));
    }

private:
    struct Free {
        void operator()(std::int64_t* entries) const noexcept { std::free(entries); }
    };
    std::unique_ptr<std::int64_t[], Free> entries_;
    std::size_t size_;
};

}  // namespace tavelin
