// The forbidden slots of every team as bit sets, for membership tests
// without hashing.
//
// The cost model asks, for every cell, whether a home slot's key is
// forbidden for the opponent. Slot keys in timetables are small
// non-negative numbers, so each team's keys below kKeyLimit are kept as a bit
// set; a test is then one shift and mask. Keys outside that range, teams with
// large indices and teams beyond the memory budget fall back to the team's
// hash set, so every key still gets its exact answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tavelin {

// Slots in which a team may not play, keyed by the slot truncated to int64.
using ForbiddenSlots = std::unordered_map<std::uint64_t, std::unordered_set<std::int64_t>>;

class ForbiddenIndex {
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

    private:
        const std::uint64_t* bits_ = nullptr;
        std::size_t words_ = 0;
        // The full set, consulted for keys outside the bit set; null when
        // no key lies outside it.
        const std::unordered_set<std::int64_t>* others_ = nullptr;
    };

    ForbiddenIndex() = default;
    // Move-only: a copy would still point into the sets of the original.
    ForbiddenIndex(const ForbiddenIndex&) = delete;
    ForbiddenIndex& operator=(const ForbiddenIndex&) = delete;
    ForbiddenIndex(ForbiddenIndex&&) noexcept = default;
    ForbiddenIndex& operator=(ForbiddenIndex&&) noexcept = default;

    // Keeps pointers to the sets inside `sets` (elements of an unordered map
    // stay where they are when the map is moved). Throws std::bad_alloc.
    explicit ForbiddenIndex(const ForbiddenSlots& sets) {
        std::uint64_t dense = 0;
        for (const auto& [team, keys] : sets) {
            if (team < kTeamLimit && !keys.empty() && team + 1 > dense) dense = team + 1;
        }
        teams_.resize(static_cast<std::size_t>(dense));
        // Sizes first, in team order, so that the budget is spent the same
        // way whatever the map's iteration order.
        std::vector<std::size_t> words(teams_.size(), 0);
        for (const auto& [team, keys] : sets) {
            if (team >= dense) continue;
            std::int64_t largest = -1;
            for (const std::int64_t key : keys) {
                if (key >= 0 && key < kKeyLimit && key > largest) largest = key;
            }
            words[static_cast<std::size_t>(team)] = static_cast<std::size_t>(largest + 64) / 64;
        }
        std::size_t total = 0;
        for (std::size_t& w : words) {
            if (total + w > kWordBudget) w = 0;
            total += w;
        }
        bits_.assign(total, 0);
        std::size_t offset = 0;
        for (std::size_t t = 0; t < teams_.size(); ++t) {
            teams_[t].offset = offset;
            teams_[t].words = words[t];
            offset += words[t];
        }
        for (const auto& [team, keys] : sets) {
            if (team >= dense || keys.empty()) continue;
            Entry& entry = teams_[static_cast<std::size_t>(team)];
            for (const std::int64_t key : keys) {
                if (key >= 0 && static_cast<std::uint64_t>(key) < entry.words * 64) {
                    const auto k = static_cast<std::uint64_t>(key);
                    bits_[entry.offset + k / 64] |= std::uint64_t{1} << (k % 64);
                } else {
                    entry.others = &keys;
                }
            }
        }
    }

    // The forbidden keys of team g; `sets` must be the map the index was
    // built from.
    Team team(std::uint64_t g, const ForbiddenSlots& sets) const noexcept {
        if (g < teams_.size()) {
            const Entry& entry = teams_[static_cast<std::size_t>(g)];
            return Team(bits_.data() + entry.offset, entry.words, entry.others);
        }
        if (g < kTeamLimit || sets.empty()) return Team();  // no entry, or an empty set
        const auto found = sets.find(g);
        if (found == sets.end() || found->second.empty()) return Team();
        return Team(nullptr, 0, &found->second);
    }

private:
    struct Entry {
        std::size_t offset = 0;
        std::size_t words = 0;
        const std::unordered_set<std::int64_t>* others = nullptr;
    };
    std::vector<Entry> teams_;         // teams [0, dense): every non-empty set below kTeamLimit
    std::vector<std::uint64_t> bits_;  // the bit sets, one after another
};

}  // namespace tavelin
