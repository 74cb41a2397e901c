#include "cost/slot_rows.hpp"

#include <bit>
#include <cstring>

#include "cost/slot_sets.hpp"

namespace tavelin {
namespace {

#define TAVELIN_ROUTE_FILE "cost/slot_rows.inc"
#include "cost/each_route.inc"
#undef TAVELIN_ROUTE_FILE

}  // namespace

RowSorter row_sorter(Isa isa) { return run_for(isa); }

}  // namespace tavelin
