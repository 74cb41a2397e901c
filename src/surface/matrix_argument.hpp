// The schedule matrix argument `x_py` shared by both methods.
#pragma once

#include <Python.h>

#include "cost/strided_matrix.hpp"

namespace tavelin {

// Converts `x_py`: a two-dimensional float64 NumPy array, and writeable too
// when `for_writing` (solve writes its result into it). Returns it borrowed.
PyObject* convert_matrix_argument(PyObject* object, bool for_writing);

// The view of `x_py` to read, taken after every other argument is converted.
// Caller code run by those conversions may have reshaped the array in place
// or cleared its writeable flag; such an array is refused instead of being
// read through stale dimensions or written against the caller's wish.
StridedMatrix current_matrix_view(PyObject* array, bool for_writing);

}  // namespace tavelin
