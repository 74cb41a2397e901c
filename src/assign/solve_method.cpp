// Tavelin.solve(x_py, team_idx)
#include <cstring>

#include "assign/home_games.hpp"
#include "cost/cost_matrix.hpp"
#include "surface/binding.hpp"
#include "surface/borrow.hpp"
#include "surface/convert.hpp"
#include "surface/failure.hpp"
#include "surface/matrix_argument.hpp"
#include "surface/numpy_api.hpp"
#include "surface/panic.hpp"
#include "surface/tavelin_type.hpp"

namespace tavelin {
namespace {

constexpr const char* kParameters[] = {"x_py", "team_idx"};
constexpr FunctionDescription kDescription{"Tavelin", "solve", kParameters, 2};

}  // namespace

PyObject* solve_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return failure_boundary([&]() -> PyObject* {
        PyObject* slots[2];
        bind_vector(kDescription, args, nargs, kwnames, slots);
        const InstanceState& state = instance_state(self);

        PyObject* x = convert_matrix_argument(slots[0], true);
        std::uint64_t team = convert_argument("team_idx", [&] { return as_u64(slots[1]); });

        ReadBorrow borrow(x);
        auto home = state.sets_home.find(team);
        if (home == state.sets_home.end()) refuse("team_idx not in sets_home");
        const std::vector<double>& home_slots = home->second;

        StridedMatrix view = current_matrix_view(x, true);
        std::vector<std::uint64_t> opponents;
        opponents.reserve(view.rows);
        for (std::uint64_t j = 0; j < view.rows; ++j) {
            if (j != team) opponents.push_back(j);
        }

        check_cost_indices(view, team, opponents);  // before the assignment matrix is sized
        HomeGames games(home_slots.size(), opponents.size());
        const std::uint64_t largest_cost =
            write_cost_matrix(view, team, home_slots, opponents, state.cost, games.cost_target());
        Placement placement = games.place(home_slots, state.p, largest_cost);
        borrow.release();

        // The cost matrix's index tests put team_idx and every opponent
        // inside X; the test here keeps the write safe on its own.
        if (!opponents.empty() && (team >= view.rows || opponents.back() >= view.cols)) {
            fail(kIndexOutOfBounds);
        }
        for (std::size_t k = 0; k < opponents.size(); ++k) {
            std::memcpy(element_address(x, team, opponents[k]), &placement.slots[k], sizeof(double));
        }
        return checked(PyFloat_FromDouble(placement.total)).release();
    });
}

}  // namespace tavelin
