// What a team's used slots near a whole slot v mean for v, as a table.
//
// With whole slots, the used slots of a team decide a cell through the
// nearest one above v and the nearest one below: one of them at distance d
// blocks v when d = 0 or r_max > d + 1, and each adds the penalty of its
// gap d. Past G = max(largest gap with a penalty, largest gap that is
// close) a gap neither blocks nor costs anything, so the 2G + 1 slots
// v - G ... v + G decide everything. For small G this table holds the
// verdict for every pattern of those slots: bit G of the pattern is v
// itself, bit G + d the slot v + d, bit G - d the slot v - d.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cost/gap_penalties.hpp"
#include "cost/numeric.hpp"

namespace tavelin {

class NearGaps {
public:
    // Tables of at most 2^kMaxBits entries.
    static constexpr int kMaxBits = 11;

    NearGaps() = default;

    // The table for these penalties and closeness bound; empty (ready()
    // false) when G is too large for a table.
    NearGaps(const GapPenalties& penalties, double r_max) {
        // The largest whole gap that is close: r_max > d + 1.
        std::uint64_t close = 0;
        while (close < 64 && r_max > static_cast<double>(close + 1) + 1.0) ++close;
        const std::uint64_t reach = penalties.max_gap() > close ? penalties.max_gap() : close;
        if (2 * reach + 1 > kMaxBits) return;
        reach_ = static_cast<int>(reach);
        const std::size_t entries = std::size_t{1} << (2 * reach_ + 1);
        penalty_.assign(entries, 0);
        blocked_.assign(entries, 0);
        for (std::size_t pattern = 0; pattern < entries; ++pattern) {
            bool blocked = (pattern >> reach_) & 1;
            std::int64_t sum = 0;
            for (int d = 1; d <= reach_; ++d) {  // nearest above
                if ((pattern >> (reach_ + d)) & 1) {
                    blocked = blocked || r_max > static_cast<double>(d) + 1.0;
                    sum = penalties.at(static_cast<std::uint64_t>(d));
                    break;
                }
            }
            for (int d = 1; d <= reach_; ++d) {  // nearest below
                if ((pattern >> (reach_ - d)) & 1) {
                    blocked = blocked || r_max > static_cast<double>(d) + 1.0;
                    sum = wrapping_add(sum, penalties.at(static_cast<std::uint64_t>(d)));
                    break;
                }
            }
            penalty_[pattern] = sum;
            blocked_[pattern] = blocked;
            if (!blocked) {
                const std::uint64_t magnitude = sum < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(sum)
                                                        : static_cast<std::uint64_t>(sum);
                largest_ = magnitude > largest_ ? magnitude : largest_;
            }
        }
    }

    bool ready() const noexcept { return reach_ >= 0; }
    // The largest magnitude of the penalty of a pattern that is not blocked.
    std::uint64_t largest_penalty() const noexcept { return largest_; }
    // G: the pattern of slot v covers v - G ... v + G.
    int reach() const noexcept { return reach_; }
    std::uint64_t mask() const noexcept { return (std::uint64_t{2} << (2 * reach_)) - 1; }

    bool blocked(std::uint64_t pattern) const noexcept { return blocked_[pattern] != 0; }
    // The penalties of the two gaps, added with wrap-around.
    std::int64_t penalty(std::uint64_t pattern) const noexcept { return penalty_[pattern]; }
    // Both tables whole, indexed by pattern, for loops over many cells.
    const std::uint8_t* blocked_table() const noexcept { return blocked_.data(); }
    const std::int64_t* penalty_table() const noexcept { return penalty_.data(); }

private:
    int reach_ = -1;
    std::uint64_t largest_ = 0;
    std::vector<std::int64_t> penalty_;
    std::vector<std::uint8_t> blocked_;
};

}  // namespace tavelin
