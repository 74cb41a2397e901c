// The immutable record behind one Tavelin object.
//
// Built once by the constructor from the caller's dictionaries and integers,
// then only read. Plain C++: the cost model and the solver receive its fields
// without touching the interpreter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "state/forbidden_index.hpp"

namespace tavelin {

// Home slots per team, in the caller's order (duplicates kept): the order
// fixes the order of the rows of the cost matrix.
using HomeSlots = std::unordered_map<std::uint64_t, std::vector<double>>;

// The penalty table: one signed 64-bit penalty per gap from 0 to max_gap,
// zero for gaps the caller gave no penalty. It is indexed by the largest gap
// key, which the caller chooses freely, so it can be huge and nearly empty.
// calloc hands out such a table as untouched zero pages instead of writing
// every entry, and reports a table that cannot be had as std::bad_alloc.
// (A throwing operator new would also report it, but under AddressSanitizer
// a failed operator new ends the process instead.)
class GapPenalties {
public:
    GapPenalties() noexcept = default;

    explicit GapPenalties(std::size_t entries)
        : entries_(static_cast<std::int64_t*>(std::calloc(entries, sizeof(std::int64_t)))),
          size_(entries) {
        if (entries != 0 && entries_ == nullptr) throw std::bad_alloc();
    }

    std::int64_t& operator[](std::size_t gap) noexcept { return entries_[gap]; }
    const std::int64_t* data() const noexcept { return entries_.get(); }
    const std::int64_t* begin() const noexcept { return entries_.get(); }
    const std::int64_t* end() const noexcept { return entries_.get() + size_; }
    std::size_t size() const noexcept { return size_; }

private:
    struct Free {
        void operator()(std::int64_t* entries) const noexcept { std::free(entries); }
    };
    std::unique_ptr<std::int64_t[], Free> entries_;
    std::size_t size_ = 0;
};

struct InstanceState {
    HomeSlots sets_home;
    ForbiddenSlots sets_forbidden;
    ForbiddenIndex forbidden_index;      // the same sets as bit sets, built from sets_forbidden
    double m = 0.0;
    double p = 0.0;
    double r_max = 2.0;                  // never below 2.0
    GapPenalties penalties;              // max_gap + 1 entries, indexed by gap
    std::uint64_t max_gap = 0;
};

}  // namespace tavelin
