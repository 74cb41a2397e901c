#include "surface/tavelin_type.hpp"

#include <new>
#include <utility>

#include "state/constructor.hpp"
#include "surface/binding.hpp"
#include "surface/convert.hpp"
#include "surface/panic.hpp"

namespace tavelin {
namespace {

constexpr const char* kConstructorParameters[] = {"sets_home", "sets_forbidden", "m",
                                                  "p",         "r_max",          "penalties"};
constexpr FunctionDescription kConstructor{"Tavelin", "__new__", kConstructorParameters, 6};

PyObject* tavelin_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return failure_boundary([&]() -> PyObject* {
        PyObject* slots[6];
        bind_tuple(kConstructor, args, kwargs, slots);
        PyObject* sets_home = convert_argument("sets_home", [&] { return as_dict(slots[0]); });
        PyObject* sets_forbidden = convert_argument("sets_forbidden", [&] { return as_dict(slots[1]); });
        std::int64_t m = convert_argument("m", [&] { return as_i64(slots[2]); });
        std::int64_t p = convert_argument("p", [&] { return as_i64(slots[3]); });
        std::int64_t r_max = convert_argument("r_max", [&] { return as_i64(slots[4]); });
        PyObject* penalties = convert_argument("penalties", [&] { return as_dict(slots[5]); });

        InstanceState state = build_instance_state(sets_home, sets_forbidden, m, p, r_max, penalties);

        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = alloc(type, 0);
        if (self == nullptr) throw_python_error();
        new (&reinterpret_cast<TavelinObject*>(self)->state) InstanceState(std::move(state));
        return self;
    });
}

void tavelin_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<TavelinObject*>(self)->state.~InstanceState();
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);  // instances of a heap type hold a reference to it
}

template <class Method>
PyCFunction as_cfunction(Method method) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method));
}

PyMethodDef g_methods[] = {
    {"solve", as_cfunction(solve_method), METH_FASTCALL | METH_KEYWORDS,
     "solve($self, x_py, team_idx)\n--\n\n"
     "Solve transportation problem for given home team.\n"
     "Modifies X in-place and returns total_cost."},
    {"create_cost_matrix", as_cfunction(create_cost_matrix_method), METH_FASTCALL | METH_KEYWORDS,
     "create_cost_matrix($self, x_py, team_idx, set_home, opponents)\n--\n\n"
     "Create cost matrix (exposed for construction phase method 2)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_slots[] = {
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(tavelin_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tavelin_dealloc)},
    {Py_tp_doc, const_cast<char*>("Tavelin(sets_home, sets_forbidden, m, p, r_max, penalties)\n--\n\n")},
    {Py_tp_methods, g_methods},
    {0, nullptr},
};

PyType_Spec g_spec = {
    "tavelin.Tavelin",
    static_cast<int>(sizeof(TavelinObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    g_slots,
};

PyObject* g_type = nullptr;  // process-wide, never released

}  // namespace

PyObject* tavelin_type() {
    if (g_type == nullptr) {
        g_type = PyType_FromSpec(&g_spec);
        if (g_type == nullptr) throw_python_error();
    }
    return g_type;
}

}  // namespace tavelin
