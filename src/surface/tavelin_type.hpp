// The class tavelin.Tavelin: its object layout, its type object and the
// entry points of its methods.
#pragma once

#include <Python.h>

#include "state/instance.hpp"

namespace tavelin {

struct TavelinObject {
    PyObject_HEAD
    InstanceState state;
};

inline const InstanceState& instance_state(PyObject* self) noexcept {
    return reinterpret_cast<TavelinObject*>(self)->state;
}

// The class object, created on first use and kept for the life of the
// process. Throws PythonError if it cannot be created.
PyObject* tavelin_type();

// Method bodies (vector calling convention with keywords).
PyObject* solve_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* create_cost_matrix_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames);

}  // namespace tavelin
