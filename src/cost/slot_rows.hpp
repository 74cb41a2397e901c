// Reading the rows of a large X into a TeamSlotTable a vector of cells at a
// time (slot_rows.inc, one copy per instruction set). The routes live in a
// file of their own, linked after the other kernels, so that adding or
// changing them does not move the code of the rest.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cost/platform.hpp"
#include "cost/strided_matrix.hpp"

namespace tavelin {

// A square X of `teams` rows whose cells lie next to each other, and the
// table's bit sets (`words` per team) for the slots below `limit`; with
// ignore_beyond, values from the limit on are ignored.
struct RowScan {
    StridedMatrix x;
    std::size_t teams, words, limit;
    bool ignore_beyond;
    std::uint64_t* bits;
};

// A row sorter's answer for a row it leaves to be read cell by cell.
inline constexpr std::size_t kUnsorted = static_cast<std::size_t>(-1);

// Marks the slots of row i (teams >= 8, as many cells as the widest
// vector holds) in its team's set and in the set of each team it meets,
// and returns how many cells hold one; or returns kUnsorted, having marked
// a part of them at most, when a cell is neither a slot, nor 9999.0, nor
// NaN, nor ignored.
using RowSorter = std::size_t (*)(const RowScan& scan, std::size_t i);

// The sorter of the route `isa` (see isa_available; Isa::best: the widest
// the processor runs). Every route marks the same bits.
RowSorter row_sorter(Isa isa);

}  // namespace tavelin
