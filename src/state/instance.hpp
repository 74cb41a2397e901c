// The immutable record behind one Tavelin object.
//
// Built once by the constructor from the caller's dictionaries and integers,
// then only read. Plain C++: the cost model and the solver receive its fields
// without touching the interpreter.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tavelin {

// Home slots per team, in the caller's order (duplicates kept): the order
// fixes the order of the rows of the cost matrix.
using HomeSlots = std::unordered_map<std::uint64_t, std::vector<double>>;

// Slots in which a team may not play, keyed by the slot truncated to int64.
using ForbiddenSlots = std::unordered_map<std::uint64_t, std::unordered_set<std::int64_t>>;

struct InstanceState {
    HomeSlots sets_home;
    ForbiddenSlots sets_forbidden;
    double m = 0.0;
    double p = 0.0;
    double r_max = 2.0;                  // never below 2.0
    std::vector<std::int64_t> penalties; // max_gap + 1 entries, indexed by gap
    std::uint64_t max_gap = 0;
};

}  // namespace tavelin
