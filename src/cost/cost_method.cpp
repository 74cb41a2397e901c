// Tavelin.create_cost_matrix(x_py, team_idx, set_home, opponents)
#include <optional>

#include "cost/cost_matrix.hpp"
#include "surface/binding.hpp"
#include "surface/borrow.hpp"
#include "surface/convert.hpp"
#include "surface/matrix_argument.hpp"
#include "surface/numpy_api.hpp"
#include "surface/panic.hpp"
#include "surface/tavelin_type.hpp"

namespace tavelin {
namespace {

constexpr const char* kParameters[] = {"x_py", "team_idx", "set_home", "opponents"};
constexpr FunctionDescription kDescription{"Tavelin", "create_cost_matrix", kParameters, 4};

}  // namespace

PyObject* create_cost_matrix_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    return failure_boundary([&]() -> PyObject* {
        PyObject* slots[4];
        bind_vector(kDescription, args, nargs, kwnames, slots);
        const InstanceState& state = instance_state(self);

        // The borrow is part of converting x_py and lasts until the matrix
        // has been built.
        std::optional<ReadBorrow> borrow;
        PyObject* x = convert_matrix_argument(slots[0], false);
        borrow.emplace(x);
        std::uint64_t team = convert_argument("team_idx", [&] { return as_u64(slots[1]); });
        std::vector<double> set_home =
            convert_argument("set_home", [&] { return as_list<double, as_f64>(slots[2]); });
        std::vector<std::uint64_t> opponents = convert_argument(
            "opponents", [&] { return as_list<std::uint64_t, as_u64>(slots[3]); });

        CostMatrix cost =
            create_cost_matrix_inner(current_matrix_view(x, false), team, set_home, opponents, state.cost);
        borrow.reset();
        return hand_over_to_numpy(std::move(cost)).release();
    });
}

}  // namespace tavelin
