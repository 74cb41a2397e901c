#include "cost/forbidden_slots.hpp"

#include <utility>

namespace tavelin {

ForbiddenSlots::ForbiddenSlots(ForbiddenSlotMap sets) : sets_(std::move(sets)) {
    std::uint64_t dense = 0;
    for (const auto& [team, keys] : sets_) {
        if (team < kTeamLimit && !keys.empty() && team + 1 > dense) dense = team + 1;
    }
    teams_.resize(static_cast<std::size_t>(dense));
    // Sizes first, in team order, so that the budget is spent the same way
    // whatever the map's iteration order.
    std::vector<std::size_t> words(teams_.size(), 0);
    for (const auto& [team, keys] : sets_) {
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
    for (const auto& [team, keys] : sets_) {
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

}  // namespace tavelin
