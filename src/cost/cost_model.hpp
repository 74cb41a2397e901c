// The cost model of one problem: everything but the home slots that prices
// a pairing of a home slot with an opponent. Built once by the constructor,
// then only read, and handed whole to the cost-matrix builder.
#pragma once

#include "cost/forbidden_slots.hpp"
#include "cost/gap_penalties.hpp"
#include "cost/near_gaps.hpp"

namespace tavelin {

// Everything but the home slots that prices a pairing.
struct CostModel {
    GapPenalties penalties;
    ForbiddenSlots forbidden;
    double m = 0.0;      // separation: slot s is not allowed when m > |s - r|, r the reverse game's slot
    double r_max = 2.0;  // closeness: a used slot t blocks s when r_max > |t - s| + 1; never below 2.0
    // The verdicts of penalties and r_max for whole slots, when few slots
    // matter (built from them by the owner; empty: not used).
    NearGaps near;
};

}  // namespace tavelin
