// The NumPy side of the surface: reaching NumPy's native API at run time,
// accepting a float64 matrix argument, and handing a finished buffer over to
// a new array.
//
// The module is not compiled against NumPy's headers: it declares the few API
// table slots it uses, which keep their positions across NumPy 1.x and 2.x,
// and NumPy is imported on the first array argument, not with the module.
#pragma once

#include <Python.h>

#include "cost/cost_matrix.hpp"
#include "cost/strided_matrix.hpp"
#include "surface/ref.hpp"

namespace tavelin {

// Checks that `object` is a numpy.ndarray (or subclass) of two dimensions
// with an element type equivalent to float64; returns it borrowed. Otherwise
// raises TypeError "'{type}' object cannot be converted to 'PyArray<T, D>'".
// Loads the NumPy API on first use (an InternalFailure if it cannot).
PyObject* as_float64_matrix(PyObject* object);

// Whether `object` is a numpy.ndarray or subclass instance. The NumPy API
// must already be loaded (any checked array proves it is).
bool is_array(PyObject* object) noexcept;

// The base object of a checked array (borrowed; NULL when it has none).
PyObject* array_base(PyObject* array) noexcept;

// A read-only view of a checked array's memory, in place.
StridedMatrix matrix_view(PyObject* array) noexcept;

// A writable address of element (i, j) of a checked array; i and j must be
// inside its dimensions.
char* element_address(PyObject* array, std::size_t i, std::size_t j) noexcept;

// Whether a checked array's writeable flag is set.
bool is_writeable(PyObject* array) noexcept;

// A new row-major, writable float64 array that takes over `matrix`'s buffer
// without copying; a small capsule owns the buffer and frees it with the array.
Ref hand_over_to_numpy(CostMatrix&& matrix);

}  // namespace tavelin
