// Binding of positional and keyword arguments to a callable's parameters.
//
// Every parameter of this module's callables is positional-or-keyword and
// required, so a binding is one borrowed reference per parameter. All checks
// are made before any argument is converted.
#pragma once

#include <Python.h>

#include <cstddef>

namespace tavelin {

struct FunctionDescription {
    const char* class_name;
    const char* function_name;
    const char* const* parameters;
    std::size_t count;
};

// Vector calling convention: `args` holds nargs positional arguments followed
// by the values of the keywords named in `kwnames` (a tuple or NULL).
// Fills slots[0 .. desc.count) with borrowed references; throws PythonError.
void bind_vector(const FunctionDescription& desc, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames, PyObject** slots);

// Tuple-and-dictionary calling convention (tp_new); `kwargs` may be NULL.
void bind_tuple(const FunctionDescription& desc, PyObject* args, PyObject* kwargs,
                PyObject** slots);

}  // namespace tavelin
