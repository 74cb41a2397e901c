// The immutable record behind one Tavelin object.
//
// Built once by the constructor from the caller's dictionaries and integers,
// then only read. Plain C++: the cost model and the solver receive its fields
// without touching the interpreter.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "cost/cost_model.hpp"

namespace tavelin {

// Home slots per team, in the caller's order (duplicates kept): the order
// fixes the order of the rows of the cost matrix.
using HomeSlots = std::unordered_map<std::uint64_t, std::vector<double>>;

// Members are destroyed in reverse order: the home slots first, then the
// forbidden slots, then the penalty table.
struct InstanceState {
    CostModel cost;  // m, r_max, the forbidden slots and the penalty table
    double p = 0.0;  // the price of leaving an opponent without a slot in solve
    HomeSlots sets_home;
};

}  // namespace tavelin
