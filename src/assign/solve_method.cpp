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
        if (nargs == 2 && kwnames == nullptr) {
            slots[0] = args[0];
            slots[1] = args[1];
        } else {
            bind_vector(kDescription, args, nargs, kwnames, slots);
        }
        const InstanceState& state = instance_state(self);

        PyObject* x = convert_matrix_argument(slots[0], true);
        // An exact int runs no caller code while it is converted, so x is
        // still as it was checked; anything else is checked again.
        const bool plain_team = PyLong_CheckExact(slots[1]);
        std::uint64_t team = convert_argument("team_idx", [&] { return as_u64(slots[1]); });

        ReadBorrow borrow(x);
        auto home = state.sets_home.find(team);
        if (home == state.sets_home.end()) refuse("team_idx not in sets_home");
        const std::vector<double>& home_slots = home->second;

        const StridedMatrix view = plain_team ? matrix_view(x) : current_matrix_view(x, true);
        // Every other row of X is an opponent. The working memory is sized
        // by X's rows and the home slots alone; the index tests come before
        // any other work.
        HomeGames games(home_slots.size(), view.rows - (team < view.rows ? 1 : 0));
        const std::span<std::uint64_t> list = games.opponent_list();
        std::size_t filled = 0;
        for (std::uint64_t j = 0; j < view.rows; ++j) {
            if (j != team) list[filled++] = j;
        }
        const std::span<const std::uint64_t> opponents = list;
        check_cost_indices(view, team, opponents);
        const double total =
            games.price_and_place_here(view, team, home_slots, opponents, state.cost, state.p);
        borrow.release();

        // The cost matrix's index tests put team_idx and every opponent
        // inside X; the test here keeps the write safe on its own.
        if (!opponents.empty() && (team >= view.rows || opponents.back() >= view.cols)) {
            fail(kIndexOutOfBounds);
        }
        // No caller code has run since the view was taken: it is still X's.
        const std::span<const double> placed = games.slots();
        for (std::size_t k = 0; k < opponents.size(); ++k) {
            std::memcpy(const_cast<char*>(view.address(team, opponents[k])), &placed[k], sizeof(double));
        }
        return checked(PyFloat_FromDouble(total)).release();
    });
}

}  // namespace tavelin
