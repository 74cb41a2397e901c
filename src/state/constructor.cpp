#include "state/constructor.hpp"

#include <utility>

#include "surface/convert.hpp"
#include "surface/failure.hpp"
#include "surface/ref.hpp"

namespace tavelin {
namespace {

// Reads a dictionary's entries in storage order. Conversion hooks of the
// caller's may run inside `visit` and change the dictionary; reading stops
// with an internal failure as soon as that is noticed, before the next entry
// is taken.
template <class Visit>
void for_each_entry(PyObject* dict, Visit&& visit) {
    const Py_ssize_t recorded = PyDict_GET_SIZE(dict);
    Py_ssize_t remaining = recorded;
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* value;
    for (;;) {
        if (PyDict_GET_SIZE(dict) != recorded) refuse("dictionary changed size during iteration");
        if (remaining == -1) refuse("dictionary keys changed during iteration");
        if (!PyDict_Next(dict, &position, &key, &value)) return;
        --remaining;
        Ref held_key = Ref::borrow(key);
        Ref held_value = Ref::borrow(value);
        visit(held_key.get(), held_value.get());
    }
}

// The table is indexed by gap up to the largest key. Its size is judged in
// exact arithmetic: max_gap + 1 entries of 8 bytes must not exceed
// 2^63 - 8 bytes, which also keeps max_gap + 1 inside 64 bits.
GapPenalties build_penalty_table(PyObject* penalties) {
    std::unordered_map<std::uint64_t, std::int64_t> by_gap;
    std::uint64_t max_gap = 0;
    for_each_entry(penalties, [&](PyObject* key, PyObject* value) {
        std::uint64_t gap = as_u64(key);
        std::int64_t penalty = as_i64(value);
        by_gap.insert_or_assign(gap, penalty);
        if (gap > max_gap) max_gap = gap;
    });
    constexpr std::uint64_t kLargestTableMaxGap = (std::uint64_t{1} << 60) - 2;
    if (max_gap > kLargestTableMaxGap) refuse("capacity overflow");
    GapPenalties table(static_cast<std::size_t>(max_gap) + 1);
    for (const auto& [gap, penalty] : by_gap) table[gap] = penalty;
    return table;
}

}  // namespace

InstanceState build_instance_state(PyObject* sets_home, PyObject* sets_forbidden, std::int64_t m,
                                   std::int64_t p, std::int64_t r_max, PyObject* penalties) {
    InstanceState state;

    for_each_entry(sets_home, [&](PyObject* key, PyObject* value) {
        std::uint64_t team = as_u64(key);
        state.sets_home.insert_or_assign(team, as_list<double, as_f64>(value));
    });

    ForbiddenSlotMap forbidden;
    for_each_entry(sets_forbidden, [&](PyObject* key, PyObject* value) {
        std::uint64_t team = as_u64(key);
        std::vector<std::int64_t> slots = as_list<std::int64_t, as_i64>(value);
        std::unordered_set<std::int64_t> keys;
        keys.reserve(slots.size());
        keys.insert(slots.begin(), slots.end());
        forbidden.insert_or_assign(team, std::move(keys));
    });

    state.cost.forbidden = ForbiddenSlots(std::move(forbidden));
    state.cost.penalties = build_penalty_table(penalties);
    state.cost.m = static_cast<double>(m);
    state.p = static_cast<double>(p);
    state.cost.r_max = r_max < 3 ? 2.0 : static_cast<double>(r_max);
    state.cost.near = NearGaps(state.cost.penalties, state.cost.r_max);
    return state;
}

}  // namespace tavelin
