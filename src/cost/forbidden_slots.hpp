// The slots in which each team may not play.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tavelin {

// Slots in which each team may not play, keyed by the slot truncated to
// int64, as the caller gave them.
using ForbiddenSlotMap = std::unordered_map<std::uint64_t, std::unordered_set<std::int64_t>>;

// The forbidden slots of every team, with an index for membership tests
// without hashing: the cost model asks, for every cell, whether a home slot's
// key is forbidden for the opponent. Slot keys in timetables are small
// non-negative numbers, so each team's keys below kKeyLimit are also kept as
// a bit set; a test is then one shift and mask. Keys outside that range,
// teams with large indices and teams beyond the memory budget are answered
// by the team's hash set, so every key gets its exact answer.
class ForbiddenSlots {
public:
    static constexpr std::int64_t kKeyLimit = std::int64_t{1} << 16;
    static constexpr std::uint64_t kTeamLimit = std::uint64_t{1} << 14;
    static constexpr std::size_t kWordBudget = std::size_t{1} << 20;  // 8 MiB of bit sets at most

    // One team's forbidden keys.
    class Team {
    public:
        Team() noexcept = default;
        Team(const std::uint64_t* bits, std::size_t words, const std::unordered_set<std::int64_t>* others) noexcept
            : bits_(bits), words_(words), others_(others) {}

        bool contains(std::int64_t key) const noexcept {
            if (key >= 0 && static_cast<std::uint64_t>(key) < words_ * 64) {
                const auto k = static_cast<std::uint64_t>(key);
                return ((bits_[k / 64] >> (k % 64)) & 1) != 0;
            }
            return others_ != nullptr && others_->contains(key);
        }

        // Whether every key of the team is in its bit set; then a key k in
        // [0, 2^16) is forbidden exactly when in_bits(k / 64, k % 64).
        bool bits_only() const noexcept { return others_ == nullptr; }
        bool in_bits(std::size_t word, unsigned shift) const noexcept {
            return word < words_ && ((bits_[word] >> shift) & 1) != 0;
        }
        // Keys 64 * word ... 64 * word + 63 of the bit set, bit k for key
        // 64 * word + k (0 past its end).
        std::uint64_t word(std::size_t word) const noexcept { return word < words_ ? bits_[word] : 0; }

    private:
        const std::uint64_t* bits_ = nullptr;
        std::size_t words_ = 0;
        // The full set, consulted for keys outside the bit set; null when
        // no key lies outside it.
        const std::unordered_set<std::int64_t>* others_ = nullptr;
    };

    ForbiddenSlots() = default;
    // Move-only: the index points into the sets of the map, which stay where
    // they are when the map is moved, but not when it is copied.
    ForbiddenSlots(const ForbiddenSlots&) = delete;
    ForbiddenSlots& operator=(const ForbiddenSlots&) = delete;
    ForbiddenSlots(ForbiddenSlots&&) noexcept = default;
    ForbiddenSlots& operator=(ForbiddenSlots&&) noexcept = default;

    // Takes the sets and builds their index. Throws std::bad_alloc.
    explicit ForbiddenSlots(ForbiddenSlotMap sets);

    // The forbidden keys of team g (none when g has no entry).
    Team team(std::uint64_t g) const noexcept {
        if (g < teams_.size()) {
            const Entry& entry = teams_[static_cast<std::size_t>(g)];
            return Team(bits_.data() + entry.offset, entry.words, entry.others);
        }
        if (g < kTeamLimit || sets_.empty()) return Team();  // no entry, or an empty set
        const auto found = sets_.find(g);
        if (found == sets_.end() || found->second.empty()) return Team();
        return Team(nullptr, 0, &found->second);
    }

    const ForbiddenSlotMap& sets() const noexcept { return sets_; }

private:
    struct Entry {
        std::size_t offset = 0;
        std::size_t words = 0;
        const std::unordered_set<std::int64_t>* others = nullptr;
    };
    ForbiddenSlotMap sets_;
    std::vector<Entry> teams_;         // teams [0, dense): every non-empty set below kTeamLimit
    std::vector<std::uint64_t> bits_;  // the bit sets, one after another
};

}  // namespace tavelin
